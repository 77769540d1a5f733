// The window of a map control onto the world.
#include "MapView.h"

#include "Projection.h"

#include <cmath>

namespace qmapcontrol {

MapView::MapView(const QPointF &focus, int zoom, const QSize &size)
    : m_zoom(zoom), m_size(size), m_scale(Projection::worldSize(zoom))
{
    m_origin = QPointF(std::round(focus.x() * m_scale - size.width() / 2.0),
                       std::round(focus.y() * m_scale - size.height() / 2.0));
}

QPointF MapView::toNormalized(const QPointF &screen) const
{
    return (screen + m_origin) / m_scale;
}

QRectF MapView::normalizedBounds() const
{
    return QRectF(m_origin / m_scale, QSizeF(m_size) / m_scale);
}

} // namespace qmapcontrol
