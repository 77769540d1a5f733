// Spherical ("Web") Mercator as used by OpenStreetMap tiles. Positions are kept as normalized
// coordinates: the world is the unit square, x growing east from 180°W, y growing south from the
// top latitude (about 85.05°N). At zoom z the world is 256 × 2^z pixels across.
#pragma once

#include "PointWorldCoord.h"

#include <QPointF>

namespace qmapcontrol {

class Projection
{
public:
    static constexpr int tileSize = 256;
    // The latitude at which the Mercator world becomes square; positions beyond are drawn on it.
    static constexpr double maximumLatitude = 85.0511287798066;

    // Longitude is clamped to ±180°, latitude to ±maximumLatitude.
    static QPointF toNormalized(const PointWorldCoord &point);
    static PointWorldCoord fromNormalized(const QPointF &normalized);

    // Pixels across the world at a zoom level.
    static double worldSize(int zoom);
    // World pixel (from the world's top-left corner) at a zoom level, and back.
    static QPointF toPixel(const PointWorldCoord &point, int zoom);
    static PointWorldCoord fromPixel(const QPointF &pixel, int zoom);
};

} // namespace qmapcontrol
