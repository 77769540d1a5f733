// A circle marker of fixed pixel size, outlined with the geometry's pen and not filled.
#pragma once

#include "GeometryPointShape.h"

namespace qmapcontrol {

class GeometryPointCircle : public GeometryPointShape
{
public:
    GeometryPointCircle(const PointWorldCoord &coord, const QSizeF &size = QSizeF(10.0, 10.0),
                        int zoomMinimum = 0, int zoomMaximum = 17);

protected:
    void drawShape(QPainter &painter, const QRectF &rect) const override;
};

} // namespace qmapcontrol
