// The base map: the tiles of a tile source for the current zoom and view. A tile not loaded yet is
// stood in for by an enlarged part of a lower-zoom tile already in memory, or else by a plain
// placeholder (hatched when the tile failed to load).
#pragma once

#include "Layer.h"
#include "MapAdapterOSM.h"

#include <memory>

namespace qmapcontrol {

class LayerMapAdapter : public Layer
{
    Q_OBJECT

public:
    LayerMapAdapter(const std::string &name, const std::shared_ptr<MapAdapterOSM> &adapter,
                    int zoomMinimum = 0, int zoomMaximum = 17, QObject *parent = nullptr);

    const std::shared_ptr<MapAdapterOSM> &getMapAdapter() const { return m_adapter; }

    QString attribution() const override;
    void draw(QPainter &painter, const MapView &view) override;

private:
    void drawStandIn(QPainter &painter, int zoom, int x, int y, const QRectF &target,
                     bool failed) const;

    std::shared_ptr<MapAdapterOSM> m_adapter;
};

} // namespace qmapcontrol
