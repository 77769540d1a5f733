// A position on the earth in decimal degrees, longitude first (x) and latitude second (y).
#pragma once

namespace qmapcontrol {

class PointWorldCoord
{
public:
    constexpr PointWorldCoord() = default;
    constexpr PointWorldCoord(double longitude, double latitude)
        : m_longitude(longitude), m_latitude(latitude)
    {
    }

    constexpr double longitude() const { return m_longitude; }
    constexpr double latitude() const { return m_latitude; }

private:
    double m_longitude = 0.0;
    double m_latitude = 0.0;
};

} // namespace qmapcontrol
