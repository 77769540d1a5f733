// Spherical Mercator conversions between degrees, normalized coordinates and world pixels.
#include "Projection.h"

#include <QtGlobal>
#include <cmath>

namespace qmapcontrol {

QPointF Projection::toNormalized(const PointWorldCoord &point)
{
    const double longitude = qBound(-180.0, point.longitude(), 180.0);
    const double latitude = qBound(-maximumLatitude, point.latitude(), maximumLatitude);
    const double phi = latitude * M_PI / 180.0;
    const double x = (longitude + 180.0) / 360.0;
    const double y = 0.5 - std::log(std::tan(M_PI / 4.0 + phi / 2.0)) / (2.0 * M_PI);
    return QPointF(x, y);
}

PointWorldCoord Projection::fromNormalized(const QPointF &normalized)
{
    const double longitude = normalized.x() * 360.0 - 180.0;
    const double latitude =
        std::atan(std::sinh(M_PI * (1.0 - 2.0 * normalized.y()))) * 180.0 / M_PI;
    return PointWorldCoord(longitude, latitude);
}

double Projection::worldSize(int zoom)
{
    return std::ldexp(double(tileSize), zoom);
}

QPointF Projection::toPixel(const PointWorldCoord &point, int zoom)
{
    return toNormalized(point) * worldSize(zoom);
}

PointWorldCoord Projection::fromPixel(const QPointF &pixel, int zoom)
{
    return fromNormalized(pixel / worldSize(zoom));
}

} // namespace qmapcontrol
