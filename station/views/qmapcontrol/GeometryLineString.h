// A polyline through positions of the world, such as a beacon's track. The line keeps the projected
// extent of each run of points so that drawing visits (and projects) only the runs in view, and it
// leaves out the points that would land within half a pixel of the previous one.
// It can mark each of its vertices with a shape (a circle per position of a track) at no cost per
// vertex beyond the vertex itself; its layer draws those marks.
#pragma once

#include "Extent.h"
#include "Geometry.h"
#include "GeometryPointShape.h"
#include "PointWorldCoord.h"
#include "Projection.h"

#include <QPointF>
#include <QRectF>
#include <algorithm>
#include <memory>
#include <vector>

namespace qmapcontrol {

class GeometryLineString : public Geometry
{
public:
    explicit GeometryLineString(const std::vector<PointWorldCoord> &points, int zoomMinimum = 0,
                                int zoomMaximum = 17);

    void addPoint(const PointWorldCoord &point);
    // Several points with one redraw request, such as a whole track read back at once.
    void addPoints(const std::vector<PointWorldCoord> &points);
    const std::vector<PointWorldCoord> &points() const { return m_points; }

    // Draws `marker`'s kind of shape, size and pen at every vertex (its own position is not used);
    // null for none. The shape is taken as it is now: set its pen first.
    void setVertexMarker(const std::shared_ptr<GeometryPointShape> &marker);
    const std::shared_ptr<GeometryPointShape> &vertexMarker() const { return m_vertexMarker; }

    QRectF boundingBox() const override;
    void draw(QPainter &painter, const MapView &view) const override;
    // Only what the vertices from `first` on add: the segments joining them to the ones before.
    void drawFrom(QPainter &painter, const MapView &view, size_t first) const;

    // Calls `visit(normalized position)` for the vertices from `first` on, in order, passing
    // over whole runs of them that lie outside `area` (normalized coordinates).
    template <typename Visit>
    void forVerticesIn(const QRectF &area, size_t first, Visit visit) const
    {
        const size_t count = m_points.size();
        for (size_t run = first / runLength; run < m_runs.size(); ++run) {
            if (!m_runs[run].intersects(area))
                continue;
            const size_t end = std::min((run + 1) * runLength, count);
            for (size_t i = std::max(run * runLength, first); i < end; ++i)
                visit(Projection::toNormalized(m_points[i]));
        }
    }

private:
    // Points per run; run k covers points k·runLength to (k+1)·runLength inclusive, so that it also
    // holds the segment joining it to the next run.
    static constexpr size_t runLength = 64;

    void append(const PointWorldCoord &point);

    std::vector<PointWorldCoord> m_points;
    std::vector<Extent> m_runs;
    // Of all points; meaningless while there is none.
    Extent m_extent{QPointF()};
    std::shared_ptr<GeometryPointShape> m_vertexMarker;
};

} // namespace qmapcontrol
