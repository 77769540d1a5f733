// A layer of geometries drawn over the map: lines first, then markers, each in the order added.
// Markers are kept in a compact table of projected positions so that a paint only looks at those in
// view, and a marker is not drawn again on a pixel that already shows the same marker.
#pragma once

#include "Extent.h"
#include "Layer.h"

#include <QHash>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QSizeF>
#include <memory>
#include <typeindex>
#include <vector>

namespace qmapcontrol {

class Geometry;
class GeometryPointShape;

class LayerGeometry : public Layer
{
    Q_OBJECT

public:
    explicit LayerGeometry(const std::string &name, int zoomMinimum = 0, int zoomMaximum = 17,
                           QObject *parent = nullptr);
    ~LayerGeometry() override;

    // Takes a geometry that belongs to no layer yet (one already in a layer is refused). With
    // `disableRedraw` the layer asks for no redraw, for batches that end with a redrawn addition.
    void addGeometry(const std::shared_ptr<Geometry> &geometry, bool disableRedraw = false);
    // In the order added.
    const std::vector<std::shared_ptr<Geometry>> &getGeometries() const { return m_geometries; }

    void draw(QPainter &painter, const MapView &view) override;

private:
    friend class Geometry;

    struct Marker
    {
        QPointF at;
        int sprite;
        qint16 zoomMinimum;
        qint16 zoomMaximum;
    };
    struct Sprite
    {
        std::type_index kind;
        QSizeF size;
        QPen pen;
        QImage image;
        QPoint hotspot;
    };

    // Markers per block; a block's extent lets a paint pass over markers out of view 256 at a time
    // (a track's consecutive positions lie close together).
    static constexpr size_t blockLength = 256;

    void geometryChanged(Geometry &geometry);
    // The sprite of a marker; the marker then shares the sprite's pen rather than holding a copy.
    int spriteFor(GeometryPointShape &shape);

    std::vector<std::shared_ptr<Geometry>> m_geometries;
    std::vector<Geometry *> m_lines;
    std::vector<Marker> m_markers;
    std::vector<Extent> m_markerBlocks;
    std::vector<Sprite> m_sprites;
    QHash<QByteArray, int> m_spriteIndex;
    int m_lastSprite = -1;
    // Largest distance in pixels from a marker's position to the edge of its sprite.
    int m_markerReach = 0;
};

} // namespace qmapcontrol
