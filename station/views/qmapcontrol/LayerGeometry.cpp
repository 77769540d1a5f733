// Geometry layer: ownership of geometries, marker table and sprites, culled drawing.
#include "LayerGeometry.h"

#include "Geometry.h"
#include "GeometryPointShape.h"
#include "MapView.h"

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
        qDebug("Geometry already in a layer\n");
        return;
    }
    geometry->m_layer = this;
    m_geometries.push_back(geometry);
    if (const auto *shape = dynamic_cast<const GeometryPointShape *>(geometry.get())) {
        geometry->m_layerSlot = int(m_markers.size());
        m_markers.push_back(Marker{shape->normalized(), spriteFor(*shape),
                                   qint16(shape->zoomMinimum()), qint16(shape->zoomMaximum())});
    } else {
        geometry->m_layerSlot = int(m_lines.size());
        m_lines.push_back(geometry.get());
    }
    if (!disableRedraw)
        emit redrawRequested();
}

int LayerGeometry::spriteFor(const GeometryPointShape &shape)
{
    const QByteArray key = shape.spriteKey();
    const auto found = m_spriteIndex.constFind(key);
    if (found != m_spriteIndex.constEnd())
        return found.value();
    Sprite sprite;
    sprite.image = shape.renderSprite(&sprite.hotspot);
    m_markerReach = std::max({m_markerReach, sprite.hotspot.x(), sprite.hotspot.y(),
                              sprite.image.width() - sprite.hotspot.x(),
                              sprite.image.height() - sprite.hotspot.y()});
    m_sprites.push_back(sprite);
    const int index = int(m_sprites.size()) - 1;
    m_spriteIndex.insert(key, index);
    return index;
}

void LayerGeometry::geometryChanged(Geometry &geometry)
{
    if (const auto *shape = dynamic_cast<const GeometryPointShape *>(&geometry))
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
    for (const Marker &marker : m_markers) {
        if (marker.at.x() < left || marker.at.x() > right || marker.at.y() < top
            || marker.at.y() > bottom || zoom < marker.zoomMinimum || zoom > marker.zoomMaximum)
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

} // namespace qmapcontrol
