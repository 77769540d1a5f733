// Polyline geometry: projected points, per-run extents, and a culled, thinned, clipped drawing,
// whole or of what was appended.
#include "GeometryLineString.h"

#include "MapView.h"
#include "Projection.h"
#include "ScreenPolyline.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace qmapcontrol {

GeometryLineString::GeometryLineString(const std::vector<PointWorldCoord> &points, int zoomMinimum,
                                       int zoomMaximum)
    : Geometry(zoomMinimum, zoomMaximum)
{
    m_points.reserve(points.size());
    for (const PointWorldCoord &point : points)
        append(point);
}

void GeometryLineString::addPoint(const PointWorldCoord &point)
{
    append(point);
    appended();
}

void GeometryLineString::addPoints(const std::vector<PointWorldCoord> &points)
{
    if (points.empty())
        return;
    // Room made at once, but never just enough: batches after batches still grow geometrically.
    const size_t needed = m_points.size() + points.size();
    if (needed > m_points.capacity())
        m_points.reserve(std::max(needed, 2 * m_points.capacity()));
    for (const PointWorldCoord &point : points)
        append(point);
    appended();
}

void GeometryLineString::setVertexMarker(const std::shared_ptr<GeometryPointShape> &marker)
{
    m_vertexMarker = marker;
    changed();
}

void GeometryLineString::append(const PointWorldCoord &point)
{
    const QPointF n = Projection::toNormalized(point);
    const size_t index = m_points.size();
    m_points.push_back(point);
    if (index == 0)
        m_extent = Extent(n);
    else
        m_extent.include(n);
    if (index % runLength == 0) {
        // The first point of a run is also the last point of the previous one.
        if (index > 0)
            m_runs.back().include(n);
        m_runs.push_back(Extent(n));
    } else {
        m_runs.back().include(n);
    }
}

QRectF GeometryLineString::boundingBox() const
{
    if (m_points.empty())
        return QRectF();
    return m_extent.rect();
}

void GeometryLineString::draw(QPainter &painter, const MapView &view) const
{
    drawFrom(painter, view, 0);
}

void GeometryLineString::drawFrom(QPainter &painter, const MapView &view, size_t first) const
{
    const size_t count = m_points.size();
    // The first segment to draw joins the vertex before `first` to it.
    const size_t start = first > 0 ? first - 1 : 0;
    if (start + 1 >= count)
        return;
    const double margin = drawingMargin();
    const QRectF inView = view.normalizedBounds().adjusted(
        -margin / view.scale(), -margin / view.scale(), margin / view.scale(), margin / view.scale());
    if (!m_extent.intersects(inView))
        return;

    ScreenPolyline polyline(QRectF(QPointF(0, 0), QSizeF(view.size()))
                                .adjusted(-margin, -margin, margin, margin));
    size_t next = start;
    for (size_t run = start / runLength; run < m_runs.size(); ++run) {
        if (!m_runs[run].intersects(inView)) {
            polyline.lift();
            continue;
        }
        const size_t last = std::min((run + 1) * runLength, count - 1);
        for (size_t i = std::max(run * runLength, next); i <= last; ++i)
            polyline.add(view.toScreen(Projection::toNormalized(m_points[i])));
        next = last + 1;
    }

    painter.setPen(pen());
    painter.setBrush(Qt::NoBrush);
    const QVector<QPointF> &vertices = polyline.finish();
    int piece = 0;
    for (int i = 0; i < vertices.size(); ++i) {
        if (!std::isnan(vertices[i].x()))
            continue;
        if (i - piece >= 2)
            painter.drawPolyline(vertices.constData() + piece, i - piece);
        piece = i + 1;
    }
}

} // namespace qmapcontrol
