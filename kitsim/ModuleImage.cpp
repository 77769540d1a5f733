// Flash images are read sector by sector; only sectors with content reach the virtual module.
#include "ModuleImage.h"

#include "ModuleFlashWriter.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <vector>

#include <sys/stat.h>

namespace {

constexpr uint32_t slotSize = ModuleFlashWriter::recordSize;

bool erased(const uint8_t *bytes, std::size_t size)
{
    return std::all_of(bytes, bytes + size, [](uint8_t b) { return b == 0xFF; });
}

// Degrees as the logger stores them: degrees × 100 + minutes, the sign going to the letter.
double degreesMinutes(double degrees)
{
    const double a = std::fabs(degrees);
    const double whole = std::floor(a);
    return whole * 100 + (a - whole) * 60;
}

ModuleFlashWriter::Fix fixAt(std::time_t when, double latitude, double longitude, double altitude)
{
    std::tm t{};
    gmtime_r(&when, &t);
    ModuleFlashWriter::Fix fix;
    fix.year = t.tm_year + 1900;
    fix.month = t.tm_mon + 1;
    fix.day = t.tm_mday;
    fix.hour = t.tm_hour;
    fix.minute = t.tm_min;
    fix.second = t.tm_sec;
    fix.latitude = degreesMinutes(latitude);
    fix.latitudeHemisphere = latitude < 0 ? 'S' : 'N';
    fix.longitude = degreesMinutes(longitude);
    fix.longitudeHemisphere = longitude < 0 ? 'W' : 'E';
    fix.speed = 1.4;
    fix.altitude = altitude;
    fix.pdop = 1.8;
    fix.hdop = 1.1;
    fix.vdop = 1.4;
    return fix;
}

std::time_t utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return timegm(&t);
}

} // namespace

bool ModuleImage::load(const std::string &path, VirtualModule &module, Counters *counters,
                       std::string *error)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        *error = "cannot read image " + path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *error = "cannot read image " + path + ": not a file";
        return false;
    }
    if (info.st_size > static_cast<off_t>(VirtualModule::flashSize)) {
        *error = "image " + path + " is larger than the 32 MiB flash";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read image " + path + ": " + std::strerror(errno);
        return false;
    }

    Counters found;
    std::vector<uint8_t> sector(VirtualModule::sectorSize);
    for (uint32_t index = 0;; ++index) {
        file.read(reinterpret_cast<char *>(sector.data()), sector.size());
        const auto got = static_cast<std::size_t>(file.gcount());
        if (file.bad()) {
            *error = "cannot read image " + path;
            return false;
        }
        if (got == 0)
            break;
        if (index >= VirtualModule::sectorCount) {
            *error = "image " + path + " is larger than the 32 MiB flash";
            return false;
        }
        std::fill(sector.begin() + static_cast<std::ptrdiff_t>(got), sector.end(), uint8_t(0xFF));
        if (erased(sector.data(), sector.size()))
            continue;

        const uint32_t base = index * VirtualModule::sectorSize;
        module.writeBytes(base, sector.data(), sector.size());
        if (!erased(sector.data(), VirtualModule::pageSize))
            found.usedSize = static_cast<int32_t>(base + VirtualModule::pageSize);
        for (uint32_t at = VirtualModule::pageSize; at < VirtualModule::sectorSize; at += slotSize) {
            if (sector[at] != 0xFF)
                ++found.recordCount;
            if (!erased(sector.data() + at, slotSize))
                found.usedSize = static_cast<int32_t>(base + at + slotSize);
        }
        if (got < sector.size())
            break;
    }

    module.setMemoryCounters(static_cast<int32_t>(VirtualModule::flashSize), found.usedSize,
                             found.recordCount);
    if (counters)
        *counters = found;
    return true;
}

bool ModuleImage::writeDemo(const std::string &path, std::string *error)
{
    VirtualModule module;
    ModuleFlashWriter writer(module);

    // A walk along a lake shore, then a longer loop in the hills above it.
    writer.startTrack("120624", "093015.000", "1");
    const std::time_t first = utc(2024, 6, 12, 9, 30, 15);
    for (int i = 0; i < 300; ++i) {
        const double t = i / 300.0;
        writer.appendFix(fixAt(first + i, 45.8990 + 0.0060 * t + 0.0004 * std::sin(t * 20),
                               6.1290 + 0.0080 * t, 447 + 2 * std::sin(t * 7)),
                         ModuleFlashWriter::CoordinateStyle::V1);
    }
    writer.startTrack("130624", "141000.000", "5");
    const std::time_t second = utc(2024, 6, 13, 14, 10, 0);
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 1200; ++i) {
        const double angle = 2 * pi * i / 1200.0;
        writer.appendFix(fixAt(second + 5 * i, 45.9150 + 0.0120 * std::sin(angle),
                               6.1700 + 0.0170 * std::cos(angle), 620 + 80 * std::sin(angle)),
                         ModuleFlashWriter::CoordinateStyle::V5);
    }

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    const uint32_t pages = (writer.cursor() + VirtualModule::pageSize - 1) / VirtualModule::pageSize;
    for (uint32_t index = 0; file && index < pages; ++index) {
        const VirtualModule::Page page = module.page(index);
        file.write(reinterpret_cast<const char *>(page.data()), page.size());
    }
    file.close();
    if (!file) {
        *error = "cannot write image " + path;
        return false;
    }
    return true;
}
