// Track files and generated walks. Numbers are read and written without the C locale, so a track
// file means the same on every machine.
#include "BeaconTrack.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>

namespace {

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::optional<double> number(const std::string &text)
{
    const std::string t = trimmed(text);
    const char *begin = t.data();
    if (!t.empty() && t.front() == '+')
        ++begin;
    double value = 0;
    const auto [end, ec] = std::from_chars(begin, t.data() + t.size(), value);
    if (ec != std::errc() || end != t.data() + t.size() || begin == end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// Degrees and minutes with five decimals of minutes, rounded once on the whole so that 59.999999'
// carries into the degrees.
std::string coordinateText(double degrees, int degreeDigits, char positive, char negative)
{
    const long long units = std::llround(std::fabs(degrees) * 60.0 * 100000.0);
    const long long perDegree = 60LL * 100000;
    const long long whole = units / perDegree;
    const long long minutes = (units % perDegree) / 100000;
    const long long fraction = units % 100000;
    // Room for any long long of degrees, so that no value is ever cut.
    char text[40];
    std::snprintf(text, sizeof text, "%0*lld%02lld.%05lld%c", degreeDigits, whole, minutes, fraction,
                  degrees < 0 && units != 0 ? negative : positive);
    return text;
}

} // namespace

BeaconTrack::BeaconTrack(std::vector<Position> positions) : m_positions(std::move(positions))
{
    if (m_positions.empty())
        m_positions.push_back(Position());
}

void BeaconTrack::advance()
{
    m_cursor = (m_cursor + 1) % m_positions.size();
}

std::optional<BeaconTrack> BeaconTrack::fromFile(const std::string &path, std::string *error)
{
    std::ifstream file(path);
    if (!file) {
        *error = "cannot read track file " + path;
        return std::nullopt;
    }
    std::vector<Position> positions;
    std::string line;
    int lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        if (trimmed(line).empty())
            continue;
        const std::size_t separator = line.find(';');
        const std::optional<double> latitude = separator == std::string::npos
                                                   ? std::nullopt
                                                   : number(line.substr(0, separator));
        const std::optional<double> longitude = separator == std::string::npos
                                                    ? std::nullopt
                                                    : number(line.substr(separator + 1));
        if (!latitude || !longitude || std::fabs(*latitude) > 90 || std::fabs(*longitude) > 180) {
            *error = path + ":" + std::to_string(lineNumber)
                     + ": latitude;longitude in decimal degrees expected";
            return std::nullopt;
        }
        positions.push_back({*latitude, *longitude});
    }
    if (file.bad()) {
        *error = "cannot read track file " + path;
        return std::nullopt;
    }
    if (positions.empty()) {
        *error = "track file " + path + " holds no position";
        return std::nullopt;
    }
    return BeaconTrack(std::move(positions));
}

BeaconTrack BeaconTrack::generated(const std::string &serial)
{
    // FNV-1a of the serial gives the place and shape of the loop.
    uint32_t hash = 2166136261u;
    for (char c : serial) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 16777619u;
    }
    const double pi = std::acos(-1.0);
    const double centreLatitude = 45.90 + ((hash & 0xFF) / 255.0 - 0.5) * 0.04;
    const double centreLongitude = 6.13 + (((hash >> 8) & 0xFF) / 255.0 - 0.5) * 0.06;
    const double phase = ((hash >> 16) & 0xFF) / 255.0 * 2 * pi;
    const int lobes = 2 + static_cast<int>((hash >> 24) % 4);
    const double radius = 0.0045;  // degrees of latitude, about 500 m
    const double lonScale = 1 / std::cos(centreLatitude * pi / 180);

    constexpr int count = 360;
    std::vector<Position> positions;
    positions.reserve(count);
    for (int i = 0; i < count; ++i) {
        const double angle = 2 * pi * i / count;
        const double r = radius * (1 + 0.25 * std::sin(lobes * angle + phase));
        positions.push_back({centreLatitude + r * std::sin(angle),
                             centreLongitude + r * lonScale * std::cos(angle)});
    }
    return BeaconTrack(std::move(positions));
}

std::string BeaconTrack::latitudeText(double degrees)
{
    return coordinateText(degrees, 2, 'N', 'S');
}

std::string BeaconTrack::longitudeText(double degrees)
{
    return coordinateText(degrees, 3, 'E', 'W');
}
