// Common part of the map control's layers.
#include "Layer.h"

namespace qmapcontrol {

Layer::Layer(const std::string &name, int zoomMinimum, int zoomMaximum, QObject *parent)
    : QObject(parent), m_name(name), m_zoomMinimum(zoomMinimum), m_zoomMaximum(zoomMaximum)
{
}

Layer::~Layer() = default;

void Layer::setVisible(bool visible)
{
    if (m_visible == visible)
        return;
    m_visible = visible;
    emit redrawRequested();
}

QString Layer::attribution() const
{
    return QString();
}

bool Layer::canDrawAdditions() const
{
    return false;
}

bool Layer::drawAdditions(QPainter &, const MapView &)
{
    return false;
}

} // namespace qmapcontrol
