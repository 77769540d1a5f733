// A polyline through positions of the world, such as a beacon's track. Positions are projected once
// when added; the line keeps the extent of each run of points so that drawing visits only the runs
// in view, and it leaves out the points that would land within half a pixel of the previous one.
#pragma once

#include "Extent.h"
#include "Geometry.h"
#include "PointWorldCoord.h"

#include <QPointF>
#include <vector>

namespace qmapcontrol {

class GeometryLineString : public Geometry
{
public:
    explicit GeometryLineString(const std::vector<PointWorldCoord> &points, int zoomMinimum = 0,
                                int zoomMaximum = 17);

    void addPoint(const PointWorldCoord &point);
    const std::vector<PointWorldCoord> &points() const { return m_points; }

    QRectF boundingBox() const override;
    void draw(QPainter &painter, const MapView &view) const override;

private:
    // Points per run; run k covers points k·runLength to (k+1)·runLength inclusive, so that it also
    // holds the segment joining it to the next run.
    static constexpr int runLength = 64;

    void append(const PointWorldCoord &point);

    std::vector<PointWorldCoord> m_points;
    std::vector<QPointF> m_normalized;
    std::vector<Extent> m_runs;
    // Of all points; meaningless while there is none.
    Extent m_extent{QPointF()};
};

} // namespace qmapcontrol
