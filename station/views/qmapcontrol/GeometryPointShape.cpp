// Fixed-size markers: sprite rendering and identity, and drawing on their own.
#include "GeometryPointShape.h"

#include "MapView.h"
#include "Projection.h"

#include <QDataStream>
#include <QIODevice>
#include <QPainter>
#include <cmath>
#include <typeinfo>

namespace qmapcontrol {

GeometryPointShape::GeometryPointShape(const PointWorldCoord &coord, const QSizeF &size,
                                       int zoomMinimum, int zoomMaximum)
    : Geometry(zoomMinimum, zoomMaximum),
      m_coord(coord),
      m_normalized(Projection::toNormalized(coord)),
      m_size(size)
{
}

QByteArray GeometryPointShape::spriteKey() const
{
    QByteArray key(typeid(*this).name());
    QDataStream stream(&key, QIODevice::Append);
    stream << m_size << pen();
    return key;
}

QImage GeometryPointShape::renderSprite(QPoint *hotspot) const
{
    const double margin = drawingMargin();
    const int width = int(std::ceil(m_size.width() / 2.0 + margin)) * 2 + 1;
    const int height = int(std::ceil(m_size.height() / 2.0 + margin)) * 2 + 1;
    QImage sprite(width, height, QImage::Format_ARGB32_Premultiplied);
    sprite.fill(Qt::transparent);
    const QPointF centre(width / 2.0, height / 2.0);
    {
        QPainter painter(&sprite);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(pen());
        painter.setBrush(Qt::NoBrush);
        drawShape(painter, QRectF(centre - QPointF(m_size.width(), m_size.height()) / 2.0, m_size));
    }
    // The marker's position is the centre of the middle pixel.
    *hotspot = QPoint(width / 2, height / 2);
    return sprite;
}

QRectF GeometryPointShape::boundingBox() const
{
    return QRectF(m_normalized, QSizeF(0, 0));
}

double GeometryPointShape::drawingMargin() const
{
    return std::max(m_size.width(), m_size.height()) / 2.0 + Geometry::drawingMargin();
}

void GeometryPointShape::draw(QPainter &painter, const MapView &view) const
{
    QPoint hotspot;
    const QImage sprite = renderSprite(&hotspot);
    const QPointF at = view.toScreen(m_normalized);
    painter.drawImage(QPoint(int(std::floor(at.x())), int(std::floor(at.y()))) - hotspot, sprite);
}

} // namespace qmapcontrol
