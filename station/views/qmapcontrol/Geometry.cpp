// Common part of every geometry: pen, zoom range, metadata and the link to the owning layer.
#include "Geometry.h"

#include "LayerGeometry.h"

namespace qmapcontrol {

Geometry::Geometry(int zoomMinimum, int zoomMaximum)
    : m_zoomMinimum(zoomMinimum), m_zoomMaximum(zoomMaximum)
{
}

Geometry::~Geometry() = default;

void Geometry::setPen(const QPen &pen)
{
    m_pen = pen;
    changed();
}

void Geometry::setMetadata(const std::string &key, const QVariant &value)
{
    m_metadata.insert(key, value);
}

double Geometry::drawingMargin() const
{
    return m_pen.widthF() / 2.0 + 1.0;
}

void Geometry::changed()
{
    if (m_layer)
        m_layer->geometryChanged(*this);
}

void Geometry::appended()
{
    if (m_layer)
        m_layer->geometryAppended(*this);
}

} // namespace qmapcontrol
