// Polyline geometry: projected points, per-run extents, and a culled, thinned, clipped drawing.
#include "GeometryLineString.h"

#include "MapView.h"
#include "Projection.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace qmapcontrol {

namespace {

// Cuts the segment a-b to the rectangle (Liang–Barsky). Returns false when nothing of it is inside.
bool clipSegment(QPointF &a, QPointF &b, const QRectF &rect)
{
    const double dx = b.x() - a.x();
    const double dy = b.y() - a.y();
    double t0 = 0.0;
    double t1 = 1.0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {a.x() - rect.left(), rect.right() - a.x(), a.y() - rect.top(),
                         rect.bottom() - a.y()};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0)
                return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
        if (t0 > t1)
            return false;
    }
    const QPointF start = a;
    if (t0 > 0.0)
        a = start + QPointF(dx, dy) * t0;
    if (t1 < 1.0)
        b = start + QPointF(dx, dy) * t1;
    return true;
}

bool near(const QPointF &a, const QPointF &b)
{
    return std::fabs(a.x() - b.x()) < 0.5 && std::fabs(a.y() - b.y()) < 0.5;
}

} // namespace

void GeometryLineString::Extent::include(const QPointF &p)
{
    left = std::min(left, p.x());
    right = std::max(right, p.x());
    top = std::min(top, p.y());
    bottom = std::max(bottom, p.y());
}

bool GeometryLineString::Extent::intersects(const QRectF &r) const
{
    return left <= r.right() && right >= r.left() && top <= r.bottom() && bottom >= r.top();
}

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
        m_extent = Extent{n.x(), n.y(), n.x(), n.y()};
    else
        m_extent.include(n);
    if (index % runLength == 0) {
        // The first point of a run is also the last point of the previous one.
        if (index > 0)
            m_runs.back().include(n);
        m_runs.push_back(Extent{n.x(), n.y(), n.x(), n.y()});
    } else {
        m_runs.back().include(n);
    }
}

QRectF GeometryLineString::boundingBox() const
{
    if (m_points.empty())
        return QRectF();
    return QRectF(QPointF(m_extent.left, m_extent.top), QPointF(m_extent.right, m_extent.bottom));
}

void GeometryLineString::draw(QPainter &painter, const MapView &view) const
{
    if (m_points.size() < 2)
        return;
    const double margin = drawingMargin();
    const QRectF screen = QRectF(QPointF(0, 0), QSizeF(view.size())).adjusted(-margin, -margin,
                                                                             margin, margin);
    const QRectF inView = view.normalizedBounds().adjusted(
        -margin / view.scale(), -margin / view.scale(), margin / view.scale(), margin / view.scale());
    if (!m_extent.intersects(inView))
        return;

    painter.setPen(pen());
    painter.setBrush(Qt::NoBrush);

    // The polyline being built; a vertex left out for being too close is remembered so that the
    // polyline still ends exactly where the track leaves the view or ends.
    QPolygonF polyline;
    QPointF pending;
    bool hasPending = false;
    const auto flush = [&]() {
        if (hasPending)
            polyline.append(pending);
        if (polyline.size() >= 2)
            painter.drawPolyline(polyline);
        polyline.clear();
        hasPending = false;
    };

    // Previous vertex on screen, and whether the polyline currently ends on it.
    QPointF previous;
    bool hasPrevious = false;
    bool previousInPolyline = false;
    const size_t count = m_normalized.size();
    size_t nextIndex = 0;
    for (size_t run = 0; run < m_runs.size(); ++run) {
        const size_t first = run * runLength;
        if (!m_runs[run].intersects(inView)) {
            flush();
            hasPrevious = false;
            previousInPolyline = false;
            continue;
        }
        const size_t last = std::min(first + runLength, count - 1);
        for (size_t i = std::max(first, nextIndex); i <= last; ++i) {
            const QPointF current = view.toScreen(m_normalized[i]);
            if (!hasPrevious) {
                previous = current;
                hasPrevious = true;
                previousInPolyline = false;
                continue;
            }
            QPointF a = previous;
            QPointF b = current;
            previous = current;
            if (!clipSegment(a, b, screen)) {
                flush();
                previousInPolyline = false;
                continue;
            }
            if (!previousInPolyline) {
                flush();
                polyline.append(a);
            }
            if (b != current) {
                // The segment leaves the view: the polyline ends on the edge.
                polyline.append(b);
                flush();
                previousInPolyline = false;
            } else if (near(b, polyline.constLast())) {
                pending = b;
                hasPending = true;
                previousInPolyline = true;
            } else {
                polyline.append(b);
                hasPending = false;
                previousInPolyline = true;
            }
        }
        nextIndex = last + 1;
    }
    flush();
}

} // namespace qmapcontrol
