// Geometry layer: ownership of geometries, marker table and sprites, culled drawing.
#include "LayerGeometry.h"

#include "Geometry.h"
#include "GeometryPointShape.h"
#include "MapView.h"
#include "LogCategories.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace qmapcontrol {

namespace {

// Which marker each widget pixel last received during the current paint. A stamp names one
// sprite in one layer's pass, so a fresh pass never needs the buffer cleared.
class StampBuffer
{
public:
    void fit(const QSize &size)
    {
        if (size == m_size)
            return;
        m_size = size;
        m_cells.assign(size_t(std::max(size.width(), 0)) * size_t(std::max(size.height(), 0)), 0);
    }
    quint32 nextStamp()
    {
        if (++m_last == 0) {
            std::fill(m_cells.begin(), m_cells.end(), 0);
            m_last = 1;
        }
        return m_last;
    }
    quint32 &cell(int x, int y) { return m_cells[size_t(y) * size_t(m_size.width()) + size_t(x)]; }

private:
    std::vector<quint32> m_cells;
    QSize m_size;
    quint32 m_last = 0;
};

// Painting happens on the window thread only.
StampBuffer &stampBuffer()
{
    static StampBuffer buffer;
    return buffer;
}

} // namespace

LayerGeometry::LayerGeometry(const std::string &name, int zoomMinimum, int zoomMaximum,
                             QObject *parent)
    : Layer(name, zoomMinimum, zoomMaximum, parent)
{
}

LayerGeometry::~LayerGeometry()
{
    for (const std::shared_ptr<Geometry> &geometry : m_geometries) {
        geometry->m_layer = nullptr;
        geometry->m_layerSlot = -1;
    }
}

void LayerGeometry::addGeometry(const std::shared_ptr<Geometry> &geometry, bool disableRedraw)
{
    if (!geometry)
        return;
    if (geometry->m_layer) {
        qCDebug(lcViews, "Geometry already in a layer\n");
        return;
    }
    geometry->m_layer = this;
    m_geometries.push_back(geometry);
    if (auto *shape = dynamic_cast<GeometryPointShape *>(geometry.get())) {
        const size_t index = m_markers.size();
        geometry->m_layerSlot = int(index);
        m_markers.push_back(Marker{shape->normalized(), spriteFor(*shape),
                                   qint16(shape->zoomMinimum()), qint16(shape->zoomMaximum())});
        if (index % blockLength == 0)
            m_markerBlocks.push_back(Extent(shape->normalized()));
        else
            m_markerBlocks.back().include(shape->normalized());
    } else {
        geometry->m_layerSlot = int(m_lines.size());
        m_lines.push_back(geometry.get());
    }
    if (!disableRedraw)
        emit redrawRequested();
}

int LayerGeometry::spriteFor(GeometryPointShape &shape)
{
    // Markers mostly come in long series of one style: try the last sprite before the key.
    int index = m_lastSprite;
    const auto same = [&](const Sprite &sprite) {
        return sprite.kind == std::type_index(typeid(shape)) && sprite.size == shape.size()
            && sprite.pen == shape.pen();
    };
    if (index < 0 || !same(m_sprites[size_t(index)])) {
        const QByteArray key = shape.spriteKey();
        const auto found = m_spriteIndex.constFind(key);
        if (found != m_spriteIndex.constEnd()) {
            index = found.value();
        } else {
            QPoint hotspot;
            const QImage image = shape.renderSprite(&hotspot);
            m_sprites.push_back(Sprite{std::type_index(typeid(shape)), shape.size(), shape.pen(),
                                       image, hotspot});
            m_markerReach = std::max({m_markerReach, hotspot.x(), hotspot.y(),
                                      image.width() - hotspot.x(), image.height() - hotspot.y()});
            index = int(m_sprites.size()) - 1;
            m_spriteIndex.insert(key, index);
        }
        m_lastSprite = index;
    }
    static_cast<Geometry &>(shape).m_pen = m_sprites[size_t(index)].pen;
    return index;
}

void LayerGeometry::geometryChanged(Geometry &geometry)
{
    if (auto *shape = dynamic_cast<GeometryPointShape *>(&geometry))
        m_markers[size_t(geometry.m_layerSlot)].sprite = spriteFor(*shape);
    emit redrawRequested();
}

void LayerGeometry::draw(QPainter &painter, const MapView &view)
{
    const int zoom = view.zoom();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const Geometry *line : m_lines)
        if (line->isVisibleAt(zoom))
            line->draw(painter, view);
    if (m_markers.empty())
        return;

    // A marker whose position is outside the view can still reach into it by its sprite's size.
    const QRectF bounds = view.normalizedBounds();
    const double reach = m_markerReach / view.scale();
    const double left = bounds.left() - reach;
    const double right = bounds.right() + reach;
    const double top = bounds.top() - reach;
    const double bottom = bounds.bottom() + reach;
    const int width = view.size().width();
    const int height = view.size().height();

    StampBuffer &stamps = stampBuffer();
    stamps.fit(view.size());
    std::vector<quint32> passStamps(m_sprites.size(), 0);
    const QRectF reached(QPointF(left, top), QPointF(right, bottom));
    for (size_t block = 0; block < m_markerBlocks.size(); ++block) {
        if (!m_markerBlocks[block].intersects(reached))
            continue;
        const size_t end = std::min(m_markers.size(), (block + 1) * blockLength);
        for (size_t i = block * blockLength; i < end; ++i) {
            const Marker &marker = m_markers[i];
            if (marker.at.x() < left || marker.at.x() > right || marker.at.y() < top
                || marker.at.y() > bottom || zoom < marker.zoomMinimum
                || zoom > marker.zoomMaximum)
                continue;
            const QPointF at = view.toScreen(marker.at);
            const int x = int(std::floor(at.x()));
            const int y = int(std::floor(at.y()));
            if (x >= 0 && y >= 0 && x < width && y < height) {
                quint32 &stamp = passStamps[size_t(marker.sprite)];
                if (stamp == 0)
                    stamp = stamps.nextStamp();
                quint32 &cell = stamps.cell(x, y);
                if (cell == stamp)
                    continue;
                cell = stamp;
            }
            const Sprite &sprite = m_sprites[size_t(marker.sprite)];
            painter.drawImage(QPoint(x, y) - sprite.hotspot, sprite.image);
        }
    }
}

} // namespace qmapcontrol
