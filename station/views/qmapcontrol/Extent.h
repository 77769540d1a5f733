// The smallest rectangle of normalized world coordinates holding a run of positions; kept for runs of
// consecutive points so that drawing can pass over the runs out of view.
#pragma once

#include <QPointF>
#include <QRectF>
#include <algorithm>

namespace qmapcontrol {

class Extent
{
public:
    explicit Extent(const QPointF &p)
        : m_left(p.x()), m_top(p.y()), m_right(p.x()), m_bottom(p.y())
    {
    }

    void include(const QPointF &p)
    {
        m_left = std::min(m_left, p.x());
        m_right = std::max(m_right, p.x());
        m_top = std::min(m_top, p.y());
        m_bottom = std::max(m_bottom, p.y());
    }
    bool intersects(const QRectF &r) const
    {
        return m_left <= r.right() && m_right >= r.left() && m_top <= r.bottom()
            && m_bottom >= r.top();
    }
    QRectF rect() const { return QRectF(QPointF(m_left, m_top), QPointF(m_right, m_bottom)); }

private:
    double m_left;
    double m_top;
    double m_right;
    double m_bottom;
};

} // namespace qmapcontrol
