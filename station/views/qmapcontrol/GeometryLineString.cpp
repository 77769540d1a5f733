// Polyline geometry: projected points, per-run extents, and a culled, thinned, clipped drawing.
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
    m_normalized.reserve(points.size());
    for (const PointWorldCoord &point : points)
        append(point);
}

void GeometryLineString::addPoint(const PointWorldCoord &point)
{
    append(point);
    changed();
}

void GeometryLineString::append(const PointWorldCoord &point)
{
    const QPointF n = Projection::toNormalized(point);
    const size_t index = m_points.size();
    m_points.push_back(point);
    m_normalized.push_back(n);
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
    if (m_points.size() < 2)
        return;
    const double margin = drawingMargin();
    const QRectF inView = view.normalizedBounds().adjusted(
        -margin / view.scale(), -margin / view.scale(), margin / view.scale(), margin / view.scale());
    if (!m_extent.intersects(inView))
        return;

    ScreenPolyline polyline(QRectF(QPointF(0, 0), QSizeF(view.size()))
                                .adjusted(-margin, -margin, margin, margin));
    const size_t count = m_normalized.size();
    size_t next = 0;
    for (size_t run = 0; run < m_runs.size(); ++run) {
        if (!m_runs[run].intersects(inView)) {
            polyline.lift();
            continue;
        }
        const size_t last = std::min((run + 1) * runLength, count - 1);
        for (size_t i = std::max(run * runLength, next); i <= last; ++i)
            polyline.add(view.toScreen(m_normalized[i]));
        next = last + 1;
    }

    painter.setPen(pen());
    painter.setBrush(Qt::NoBrush);
    const QVector<QPointF> &vertices = polyline.finish();
    int start = 0;
    for (int i = 0; i < vertices.size(); ++i) {
        if (!std::isnan(vertices[i].x()))
            continue;
        if (i - start >= 2)
            painter.drawPolyline(vertices.constData() + start, i - start);
        start = i + 1;
    }
}

} // namespace qmapcontrol
