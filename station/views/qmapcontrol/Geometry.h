// Something drawn on a geometry layer at positions of the world: a pen, the zoom levels at which it
// shows, and free metadata. A geometry belongs to at most one layer, which it tells of its changes.
#pragma once

#include <QMap>
#include <QPen>
#include <QRectF>
#include <QVariant>
#include <string>

class QPainter;

namespace qmapcontrol {

class LayerGeometry;
class MapView;

class Geometry
{
public:
    virtual ~Geometry();
    Geometry(const Geometry &) = delete;
    Geometry &operator=(const Geometry &) = delete;

    int zoomMinimum() const { return m_zoomMinimum; }
    int zoomMaximum() const { return m_zoomMaximum; }
    bool isVisibleAt(int zoom) const { return zoom >= m_zoomMinimum && zoom <= m_zoomMaximum; }

    const QPen &pen() const { return m_pen; }
    virtual void setPen(const QPen &pen);

    QVariant metadata(const std::string &key) const { return m_metadata.value(key); }
    void setMetadata(const std::string &key, const QVariant &value);

    // Extent in normalized world coordinates (see Projection); empty when there is nothing to draw.
    virtual QRectF boundingBox() const = 0;
    // Room in pixels that the drawing takes beyond the bounding box (pen, marker size).
    virtual double drawingMargin() const;
    virtual void draw(QPainter &painter, const MapView &view) const = 0;

protected:
    Geometry(int zoomMinimum, int zoomMaximum);
    // Tells the owning layer that the geometry must be drawn again.
    void changed();
    // Tells the owning layer that the geometry grew at its end and the rest stays as drawn.
    void appended();

private:
    friend class LayerGeometry;

    int m_zoomMinimum;
    int m_zoomMaximum;
    QPen m_pen;
    QMap<std::string, QVariant> m_metadata;
    LayerGeometry *m_layer = nullptr;
    // The owning layer's bookkeeping slot for this geometry.
    int m_layerSlot = -1;
};

} // namespace qmapcontrol
