// A layer of geometries drawn over the map: lines first, then the marks of the lines' vertices,
// then markers, each in the order added. Markers are kept in a compact table of projected positions
// so that a paint only looks at those in view, and a marker is not drawn again on a pixel that
// already shows the same marker. Points appended to lines and markers added since the layer was
// last drawn can be drawn on their own onto that picture.
#pragma once

#include "Extent.h"
#include "Layer.h"
#include "MapView.h"
#include "PixelGrid.h"

#include <QHash>
#include <QImage>
#include <QPen>
#include <QPoint>
#include <QPointF>
#include <QSizeF>
#include <memory>
#include <typeindex>
#include <vector>

class QPaintDevice;

namespace qmapcontrol {

class Geometry;
class GeometryLineString;
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
    bool canDrawAdditions() const override;
    bool drawAdditions(QPainter &painter, const MapView &view) override;

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
        // The pixels of the current picture that show this sprite already.
        PixelGrid drawn;
    };
    struct Line
    {
        Geometry *geometry;
        // Set for a line string, whose vertices may be marked.
        GeometryLineString *string;
        // Of the vertex marks, -1 for none.
        int sprite = -1;
        // Vertices of the line drawn in the current picture.
        size_t drawnVertices = 0;
    };

    // Markers per block; a block's extent lets a paint pass over markers out of view 256 at a time
    // (a track's consecutive positions lie close together).
    static constexpr size_t blockLength = 256;

    void geometryChanged(Geometry &geometry);
    void geometryAppended(Geometry &geometry);
    // The sprite of a shape; the shape then shares the sprite's pen rather than holding a copy.
    int spriteFor(GeometryPointShape &shape);
    // Draws the marks of the vertices of `line` from `first` on, and the markers from `firstMarker`
    // on, each once per pixel of the picture.
    void drawVertexMarks(QPainter &painter, const MapView &view, const Line &line, size_t first);
    void drawMarkers(QPainter &painter, const MapView &view, size_t firstMarker);
    // Draws a sprite with its position at `at` (widget pixels) unless that pixel shows it already.
    void stamp(QPainter &painter, Sprite &sprite, const QPointF &at, const QSize &size);
    // The area, in normalized coordinates, where a marker's position must lie to show.
    QRectF markerReach(const MapView &view) const;

    std::vector<std::shared_ptr<Geometry>> m_geometries;
    std::vector<Line> m_lines;
    std::vector<Marker> m_markers;
    std::vector<Extent> m_markerBlocks;
    std::vector<Sprite> m_sprites;
    QHash<QByteArray, int> m_spriteIndex;
    int m_lastSprite = -1;
    // Largest distance in pixels from a marker's position to the edge of its sprite.
    int m_markerReach = 0;

    // The picture last drawn whole: where and for which view, and whether it still holds
    // everything but what was appended since.
    const QPaintDevice *m_pictureDevice = nullptr;
    MapView m_pictureView{QPointF(), 0, QSize()};
    bool m_pictureCurrent = false;
    size_t m_drawnMarkers = 0;
};

} // namespace qmapcontrol
