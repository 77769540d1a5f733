// Base map layer: tile grid of the view, stand-ins, and the tile wish list.
#include "LayerMapAdapter.h"

#include "MapView.h"
#include "Projection.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace qmapcontrol {

namespace {

// How many zoom levels up a stand-in for a missing tile is looked for.
constexpr int standInLevels = 4;
const QColor placeholderColor(0xe4, 0xe4, 0xe0);
const QColor failedHatchColor(0xcc, 0xcc, 0xc8);

} // namespace

LayerMapAdapter::LayerMapAdapter(const std::string &name,
                                 const std::shared_ptr<MapAdapterOSM> &adapter, int zoomMinimum,
                                 int zoomMaximum, QObject *parent)
    : Layer(name, zoomMinimum, zoomMaximum, parent), m_adapter(adapter)
{
    connect(m_adapter.get(), &MapAdapterOSM::tileFinished, this, &Layer::redrawRequested);
}

QString LayerMapAdapter::attribution() const
{
    return m_adapter->attribution();
}

void LayerMapAdapter::draw(QPainter &painter, const MapView &view)
{
    const int zoom = view.zoom();
    const int tiles = 1 << zoom;
    const QRectF shown = view.normalizedBounds() & QRectF(0, 0, 1, 1);
    QVector<QPoint> missing;
    if (!shown.isEmpty()) {
        const int left = std::max(0, int(std::floor(shown.left() * tiles)));
        const int right = std::min(tiles - 1, int(std::ceil(shown.right() * tiles)) - 1);
        const int top = std::max(0, int(std::floor(shown.top() * tiles)));
        const int bottom = std::min(tiles - 1, int(std::ceil(shown.bottom() * tiles)) - 1);
        const double side = Projection::tileSize;
        for (int y = top; y <= bottom; ++y) {
            for (int x = left; x <= right; ++x) {
                const QPointF corner = view.toScreen(QPointF(x, y) / tiles);
                const QRectF target(corner, QSizeF(side, side));
                const QImage tile = m_adapter->tile(zoom, x, y);
                if (!tile.isNull()) {
                    painter.drawImage(corner, tile);
                    continue;
                }
                const TileLoader::State state = m_adapter->tileState(zoom, x, y);
                drawStandIn(painter, zoom, x, y, target, state == TileLoader::State::Failed);
                if (state == TileLoader::State::Missing)
                    missing.append(QPoint(x, y));
            }
        }
        // The tiles nearest the centre of the view first.
        const QPointF centre = view.toNormalized(QPointF(view.size().width(),
                                                         view.size().height()) / 2.0) * tiles;
        std::sort(missing.begin(), missing.end(), [&](const QPoint &a, const QPoint &b) {
            const QPointF da = QPointF(a) + QPointF(0.5, 0.5) - centre;
            const QPointF db = QPointF(b) + QPointF(0.5, 0.5) - centre;
            return QPointF::dotProduct(da, da) < QPointF::dotProduct(db, db);
        });
    }
    // Also withdraws the wishes of earlier paints.
    m_adapter->requestTiles(zoom, missing);
}

void LayerMapAdapter::drawStandIn(QPainter &painter, int zoom, int x, int y, const QRectF &target,
                                  bool failed) const
{
    for (int up = 1; up <= standInLevels && up <= zoom; ++up) {
        const QImage ancestor = m_adapter->tile(zoom - up, x >> up, y >> up);
        if (ancestor.isNull())
            continue;
        const double side = double(Projection::tileSize) / (1 << up);
        const QRectF source(((x - ((x >> up) << up)) * side), ((y - ((y >> up) << up)) * side),
                            side, side);
        painter.drawImage(target, ancestor, source);
        return;
    }
    painter.fillRect(target, placeholderColor);
    if (failed)
        painter.fillRect(target, QBrush(failedHatchColor, Qt::BDiagPattern));
}

} // namespace qmapcontrol
