// The positions one simulated beacon reports: read from a track file or generated as a closed walk
// of its own, replayed in a loop, and written in the receptor's coordinate texts.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

class BeaconTrack {
public:
    struct Position {
        double latitude = 0;   // decimal degrees, north positive
        double longitude = 0;  // decimal degrees, east positive
    };

    // One "latitude;longitude" line per position, decimal degrees with '.' as the point; blank
    // lines are skipped. Nothing, with the file and line in *error, when the file cannot be read,
    // holds no position, or a line is not two numbers in range.
    static std::optional<BeaconTrack> fromFile(const std::string &path, std::string *error);
    // A loop of 360 positions about 1 km across, placed and shaped by the serial, so that every
    // beacon walks its own way and the same serial always walks the same way.
    static BeaconTrack generated(const std::string &serial);

    explicit BeaconTrack(std::vector<Position> positions);

    const Position &current() const { return m_positions[m_cursor]; }
    // Moves on to the next position, back to the first after the last.
    void advance();
    std::size_t size() const { return m_positions.size(); }

    // Receptor texts: "ddmm.mmmmmN" (11 characters) and "dddmm.mmmmmE" (12 characters), degrees and
    // minutes with five decimals of minutes, the hemisphere as the letter.
    static std::string latitudeText(double degrees);
    static std::string longitudeText(double degrees);

private:
    std::vector<Position> m_positions;  // never empty
    std::size_t m_cursor = 0;
};
