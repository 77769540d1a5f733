// What a map control shows at one moment: a zoom level and the widget-sized window onto the world
// centred on the focus point. Layers draw through it; its origin sits on whole pixels so that tiles
// meet without seams.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>

namespace qmapcontrol {

class MapView
{
public:
    MapView(const QPointF &focus, int zoom, const QSize &size);

    int zoom() const { return m_zoom; }
    QSize size() const { return m_size; }
    // Pixels across the world at this zoom.
    double scale() const { return m_scale; }

    // Normalized world coordinates to widget pixels, and back.
    QPointF toScreen(const QPointF &normalized) const
    {
        return QPointF(normalized.x() * m_scale - m_origin.x(),
                       normalized.y() * m_scale - m_origin.y());
    }
    QPointF toNormalized(const QPointF &screen) const;
    // The part of the normalized plane that the widget shows.
    QRectF normalizedBounds() const;

    // Same zoom, size and origin: every position lands on the same pixel.
    bool operator==(const MapView &other) const
    {
        return m_zoom == other.m_zoom && m_size == other.m_size && m_origin == other.m_origin;
    }
    bool operator!=(const MapView &other) const { return !(*this == other); }

private:
    int m_zoom;
    QSize m_size;
    double m_scale;
    QPointF m_origin;
};

} // namespace qmapcontrol
