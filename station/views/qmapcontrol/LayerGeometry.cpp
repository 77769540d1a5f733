// Geometry layer: ownership of geometries, marker table and sprites, culled drawing, whole or of
// what was appended.
#include "LayerGeometry.h"

#include "Geometry.h"
#include "GeometryLineString.h"
#include "GeometryPointShape.h"
#include "MapView.h"
#include "LogCategories.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace qmapcontrol {

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
        auto *string = dynamic_cast<GeometryLineString *>(geometry.get());
        m_lines.push_back(Line{geometry.get(), string});
        // Lines lie under every mark: a new one needs the picture drawn again.
        m_pictureCurrent = false;
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
                                       image, hotspot, PixelGrid()});
            m_markerReach = std::max({m_markerReach, hotspot.x(), hotspot.y(),
                                      image.width() - hotspot.x(), image.height() - hotspot.y()});
            index = int(m_sprites.size()) - 1;
            m_spriteIndex.insert(key, index);
            // Its grid must be made for the picture.
            m_pictureCurrent = false;
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
    m_pictureCurrent = false;
    emit redrawRequested();
}

void LayerGeometry::geometryAppended(Geometry &)
{
    emit redrawRequested();
}

bool LayerGeometry::canDrawAdditions() const
{
    return true;
}

QRectF LayerGeometry::markerReach(const MapView &view) const
{
    // A marker whose position is outside the view can still reach into it by its sprite's size.
    const double reach = m_markerReach / view.scale();
    return view.normalizedBounds().adjusted(-reach, -reach, reach, reach);
}

void LayerGeometry::stamp(QPainter &painter, Sprite &sprite, const QPointF &at, const QSize &size)
{
    const QPoint pixel(int(std::floor(at.x())), int(std::floor(at.y())));
    // Inside the widget, once per pixel; a marker just outside is drawn for the part that shows.
    if (pixel.x() >= 0 && pixel.y() >= 0 && pixel.x() < size.width() && pixel.y() < size.height()
        && !sprite.drawn.take(pixel))
        return;
    painter.drawImage(pixel - sprite.hotspot, sprite.image);
}

void LayerGeometry::draw(QPainter &painter, const MapView &view)
{
    m_pictureDevice = painter.device();
    m_pictureView = view;

    const int zoom = view.zoom();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (Line &line : m_lines) {
        if (line.geometry->isVisibleAt(zoom))
            line.geometry->draw(painter, view);
        line.drawnVertices = line.string ? line.string->points().size() : 0;
        line.sprite = line.string && line.string->vertexMarker()
            ? spriteFor(*line.string->vertexMarker())
            : -1;
    }
    // Every sprite's grid for this picture, the vertex marks' made just now included.
    for (Sprite &sprite : m_sprites)
        sprite.drawn.reset(QRect(QPoint(0, 0), view.size()));
    m_pictureCurrent = true;
    for (const Line &line : m_lines)
        drawVertexMarks(painter, view, line, 0);
    drawMarkers(painter, view, 0);
}

bool LayerGeometry::drawAdditions(QPainter &painter, const MapView &view)
{
    if (!m_pictureCurrent || painter.device() != m_pictureDevice || view != m_pictureView)
        return false;
    const int zoom = view.zoom();
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (Line &line : m_lines) {
        if (!line.string)
            continue;
        const size_t count = line.string->points().size();
        if (count == line.drawnVertices)
            continue;
        if (line.geometry->isVisibleAt(zoom))
            line.string->drawFrom(painter, view, line.drawnVertices);
    }
    for (Line &line : m_lines) {
        if (!line.string)
            continue;
        drawVertexMarks(painter, view, line, line.drawnVertices);
        line.drawnVertices = line.string->points().size();
    }
    drawMarkers(painter, view, m_drawnMarkers);
    return true;
}

void LayerGeometry::drawVertexMarks(QPainter &painter, const MapView &view, const Line &line,
                                    size_t first)
{
    if (line.sprite < 0 || !line.geometry->isVisibleAt(view.zoom()))
        return;
    Sprite &sprite = m_sprites[size_t(line.sprite)];
    const QRectF reached = markerReach(view);
    const QSize size = view.size();
    line.string->forVerticesIn(reached, first, [&](const QPointF &at) {
        if (reached.contains(at))
            stamp(painter, sprite, view.toScreen(at), size);
    });
}

void LayerGeometry::drawMarkers(QPainter &painter, const MapView &view, size_t firstMarker)
{
    m_drawnMarkers = m_markers.size();
    const int zoom = view.zoom();
    const QRectF reached = markerReach(view);
    const QSize size = view.size();
    for (size_t block = firstMarker / blockLength; block < m_markerBlocks.size(); ++block) {
        if (!m_markerBlocks[block].intersects(reached))
            continue;
        const size_t end = std::min(m_markers.size(), (block + 1) * blockLength);
        for (size_t i = std::max(block * blockLength, firstMarker); i < end; ++i) {
            const Marker &marker = m_markers[i];
            if (!reached.contains(marker.at) || zoom < marker.zoomMinimum
                || zoom > marker.zoomMaximum)
                continue;
            stamp(painter, m_sprites[size_t(marker.sprite)], view.toScreen(marker.at), size);
        }
    }
}

} // namespace qmapcontrol
