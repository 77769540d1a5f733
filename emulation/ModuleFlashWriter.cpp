// Track layout of the module flash. Numbers are formatted with integer arithmetic so the records do
// not depend on the C locale of the process.
#include "ModuleFlashWriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr uint8_t sectorMark = '*';

// Fixed notation with `precision` decimals and '.' as the point.
std::string fixedText(double value, int precision)
{
    double scale = 1;
    for (int i = 0; i < precision; ++i)
        scale *= 10;
    const long long scaled = std::llround(std::fabs(value) * scale);
    const long long unit = static_cast<long long>(scale);
    std::string text = std::to_string(scaled / unit);
    if (precision > 0) {
        std::string fraction = std::to_string(scaled % unit);
        text += '.' + std::string(precision - fraction.size(), '0') + fraction;
    }
    if (value < 0 && scaled != 0)
        text.insert(text.begin(), '-');
    return text;
}

std::string padLeft(std::string text, std::size_t width, char fill)
{
    if (text.size() < width)
        text.insert(0, width - text.size(), fill);
    return text;
}

// A right-aligned number of `width` characters, with fewer decimals if it does not fit (and nines
// when even the integer part does not); blanks for NaN, as the firmware leaves a value it lacks.
std::string numberField(double value, std::size_t width, int precision)
{
    if (std::isnan(value))
        return std::string(width, ' ');
    for (int p = precision; p >= 0; --p) {
        const std::string text = fixedText(value, p);
        if (text.size() <= width)
            return padLeft(text, width, ' ');
    }
    return std::string(width, '9');
}

std::string twoDigits(int value)
{
    return padLeft(std::to_string(value % 100), 2, '0');
}

// Degrees and minutes in `degreeDigits` + 2 digits before the point.
std::string coordinateField(double value, int degreeDigits, ModuleFlashWriter::CoordinateStyle style)
{
    const std::size_t wholeDigits = static_cast<std::size_t>(degreeDigits) + 2;
    if (style == ModuleFlashWriter::CoordinateStyle::V1)
        return padLeft(fixedText(value, 4), wholeDigits + 5, '0');
    const long long scaled = std::llround(std::fabs(value) * 100000.0);
    return padLeft(std::to_string(scaled / 100000), wholeDigits, '0')
           + padLeft(std::to_string(scaled % 100000), 5, '0');
}

void putText(uint8_t *to, const std::string &text, std::size_t width)
{
    std::memset(to, 0, width);
    std::memcpy(to, text.data(), std::min(width, text.size()));
}

} // namespace

ModuleFlashWriter::ModuleFlashWriter(VirtualModule &module)
    : m_module(module)
    , m_cursor(static_cast<uint32_t>(module.usedSize()))
    , m_records(module.recordCount())
{
}

std::string ModuleFlashWriter::formatRecord(const Fix &fix, CoordinateStyle style)
{
    std::string text;
    text += twoDigits(fix.day) + twoDigits(fix.month) + twoDigits(fix.year);
    text += twoDigits(fix.hour) + twoDigits(fix.minute) + twoDigits(fix.second) + '.'
            + padLeft(std::to_string(fix.millisecond % 1000), 3, '0');
    text += coordinateField(fix.latitude, 2, style) + fix.latitudeHemisphere;
    text += coordinateField(fix.longitude, 3, style) + fix.longitudeHemisphere;
    text += numberField(fix.speed, 5, 2);
    text += numberField(fix.altitude, 7, 1);
    text += numberField(fix.pdop, 5, 2);
    text += numberField(fix.hdop, 5, 2);
    text += numberField(fix.vdop, 5, 2);
    return text;
}

VirtualModule::Page ModuleFlashWriter::headerPage(const std::string &date, const std::string &time,
                                                  const std::string &frequency, bool trackStart)
{
    VirtualModule::Page page;
    page.fill(0xFF);
    page[0] = sectorMark;
    putText(page.data() + 1, date, 6);
    putText(page.data() + 7, time, 10);
    putText(page.data() + 17, frequency, 3);
    page[20] = trackStart ? '1' : '0';
    return page;
}

void ModuleFlashWriter::startTrack(const std::string &date, const std::string &time,
                                   const std::string &frequency)
{
    m_date = date;
    m_time = time;
    m_frequency = frequency;
    openSector(true);
}

void ModuleFlashWriter::continueTrack()
{
    openSector(false);
}

void ModuleFlashWriter::openSector(bool trackStart)
{
    const uint32_t offset = m_cursor % VirtualModule::sectorSize;
    if (offset != 0)
        m_cursor += VirtualModule::sectorSize - offset;
    if (m_cursor >= VirtualModule::flashSize)
        return;  // memory full: the firmware stops logging
    m_module.writePage(m_cursor / VirtualModule::pageSize,
                       headerPage(m_date, m_time, m_frequency, trackStart));
    m_cursor += VirtualModule::pageSize;
    m_module.setMemoryCounters(m_module.totalSize(), static_cast<int32_t>(m_cursor), m_records);
}

void ModuleFlashWriter::writeSlot(const uint8_t *bytes, bool counts)
{
    if (m_cursor % VirtualModule::sectorSize == 0)
        openSector(false);
    if (m_cursor >= VirtualModule::flashSize)
        return;
    m_module.writeBytes(m_cursor, bytes, recordSize);
    m_cursor += recordSize;
    if (counts)
        ++m_records;
    m_module.setMemoryCounters(m_module.totalSize(), static_cast<int32_t>(m_cursor), m_records);
}

void ModuleFlashWriter::appendFix(const Fix &fix, CoordinateStyle style)
{
    appendRecord(formatRecord(fix, style));
}

void ModuleFlashWriter::appendRecord(const std::string &text)
{
    uint8_t slot[recordSize];
    std::memset(slot, ' ', recordSize);
    std::memcpy(slot, text.data(), std::min(recordSize, text.size()));
    writeSlot(slot, true);
}

void ModuleFlashWriter::appendEmptySlot()
{
    uint8_t slot[recordSize];
    std::memset(slot, 0xFF, recordSize);
    writeSlot(slot, false);
}
