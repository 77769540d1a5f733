// A marker of fixed pixel size at one position of the world. Markers are drawn from a small
// pre-rendered image ("sprite"); markers of the same kind, size and pen share one.
#pragma once

#include "Geometry.h"
#include "PointWorldCoord.h"

#include <QByteArray>
#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSizeF>

namespace qmapcontrol {

class GeometryPointShape : public Geometry
{
public:
    const PointWorldCoord &coord() const { return m_coord; }
    // The position in normalized world coordinates, projected once.
    const QPointF &normalized() const { return m_normalized; }
    const QSizeF &size() const { return m_size; }

    // Identifies the sprite: equal keys draw identical markers.
    QByteArray spriteKey() const;
    // The marker drawn on a transparent image, its position at pixel `hotspot`.
    QImage renderSprite(QPoint *hotspot) const;

    QRectF boundingBox() const override;
    double drawingMargin() const override;
    void draw(QPainter &painter, const MapView &view) const override;

protected:
    GeometryPointShape(const PointWorldCoord &coord, const QSizeF &size, int zoomMinimum,
                       int zoomMaximum);
    // Draws the marker into `rect` (the marker's size) with the painter's pen already set.
    virtual void drawShape(QPainter &painter, const QRectF &rect) const = 0;

private:
    PointWorldCoord m_coord;
    QPointF m_normalized;
    QSizeF m_size;
};

} // namespace qmapcontrol
