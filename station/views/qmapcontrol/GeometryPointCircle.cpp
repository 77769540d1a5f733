// Circle markers.
#include "GeometryPointCircle.h"

#include <QPainter>

namespace qmapcontrol {

GeometryPointCircle::GeometryPointCircle(const PointWorldCoord &coord, const QSizeF &size,
                                         int zoomMinimum, int zoomMaximum)
    : GeometryPointShape(coord, size, zoomMinimum, zoomMaximum)
{
}

void GeometryPointCircle::drawShape(QPainter &painter, const QRectF &rect) const
{
    painter.drawEllipse(rect);
}

} // namespace qmapcontrol
