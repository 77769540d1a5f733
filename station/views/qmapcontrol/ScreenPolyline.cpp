// Clipping and thinning of track polylines in screen coordinates.
#include "ScreenPolyline.h"

#include <QtNumeric>
#include <algorithm>
#include <cmath>

namespace qmapcontrol {

namespace {

// Cuts the segment a-b to the rectangle (Liang–Barsky). Returns false when nothing of it is inside;
// `endCut` tells whether b was moved.
bool clipSegment(QPointF &a, QPointF &b, const QRectF &rect, bool *endCut)
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
    *endCut = t1 < 1.0;
    if (*endCut)
        b = start + QPointF(dx, dy) * t1;
    return true;
}

bool isGap(const QPointF &p)
{
    return std::isnan(p.x()) || std::isnan(p.y());
}

} // namespace

ScreenPolyline::ScreenPolyline(const QRectF &area)
    : m_area(area),
      m_left(area.left()),
      m_right(area.right()),
      m_top(area.top()),
      m_bottom(area.bottom())
{
}

void ScreenPolyline::add(const QPointF &vertex)
{
    if (isGap(vertex)) {
        lift();
        return;
    }
    if (!m_hasPrevious) {
        m_previous = vertex;
        m_hasPrevious = true;
        m_previousInPiece = false;
        return;
    }
    QPointF a = m_previous;
    QPointF b = vertex;
    m_previous = vertex;
    bool endCut = false;
    if (!(inArea(a) && inArea(b)) && !clipSegment(a, b, m_area, &endCut)) {
        closePiece();
        m_previousInPiece = false;
        return;
    }
    if (!m_previousInPiece) {
        closePiece();
        m_vertices.append(a);
        m_pieceOpen = true;
    }
    if (endCut) {
        // The segment leaves the area: the piece ends on its edge.
        m_vertices.append(b);
        closePiece();
        m_previousInPiece = false;
        return;
    }
    const QPointF &last = m_vertices.constLast();
    if (std::fabs(b.x() - last.x()) < 0.5 && std::fabs(b.y() - last.y()) < 0.5) {
        m_pending = b;
        m_hasPending = true;
    } else {
        m_vertices.append(b);
        m_hasPending = false;
    }
    m_previousInPiece = true;
}

void ScreenPolyline::lift()
{
    closePiece();
    m_hasPrevious = false;
    m_previousInPiece = false;
}

const QVector<QPointF> &ScreenPolyline::finish()
{
    lift();
    return m_vertices;
}

void ScreenPolyline::closePiece()
{
    if (!m_pieceOpen)
        return;
    if (m_hasPending)
        m_vertices.append(m_pending);
    m_hasPending = false;
    m_vertices.append(QPointF(qQNaN(), qQNaN()));
    m_pieceOpen = false;
}

} // namespace qmapcontrol
