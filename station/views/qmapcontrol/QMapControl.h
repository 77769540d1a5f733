// A map widget: a stack of layers (tiles, geometries) over spherical Mercator, seen at a zoom level
// from 0 to 17 around a focus point. Dragging pans, the wheel zooms about the mouse position. The
// credits of the layers' sources are drawn in the bottom right corner. The layers on top that can
// add to a picture are drawn into one kept while the view stays.
#pragma once

#include "MapView.h"
#include "PointWorldCoord.h"

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QSizeF>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

namespace qmapcontrol {

class Layer;

class QMapControl : public QWidget
{
    Q_OBJECT

public:
    static constexpr int zoomMinimum = 0;
    static constexpr int zoomMaximum = 17;

    // Starts at zoom 0 on longitude 0, latitude 0.
    explicit QMapControl(QWidget *parent = nullptr, Qt::WindowFlags flags = Qt::WindowFlags());
    ~QMapControl() override;

    // Index -1 (or past the end) puts the layer on top of the others.
    void addLayer(const std::shared_ptr<Layer> &layer, int index = -1);
    // The first layer of that name, or null.
    std::shared_ptr<Layer> getLayer(const std::string &name) const;
    const std::vector<std::shared_ptr<Layer>> &getLayers() const { return m_layers; }
    // Removes every layer of that name.
    void removeLayer(const std::string &name);

    PointWorldCoord mapFocusPoint() const;
    void setMapFocusPoint(const PointWorldCoord &point);
    // Centres the view on the middle of the points' extent; with autoZoom, also picks the closest
    // zoom at which the whole extent fits in the viewport.
    void setMapFocusPoint(const std::vector<PointWorldCoord> &points, bool autoZoom = false);

    int zoom() const { return m_zoom; }
    void setZoom(int zoom);

    // The size the view is fitted to (auto zoom) and the widget's preferred size; until set, the
    // widget's own size.
    QSizeF viewportSize() const;
    void setViewportSize(const QSizeF &size);
    QSize sizeHint() const override;

    // Between positions of the world and pixels of the widget.
    QPointF toScreen(const PointWorldCoord &point) const;
    PointWorldCoord toWorld(const QPointF &screen) const;

public slots:
    void zoomIn();
    void zoomOut();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    MapView view() const;
    void moveFocusPoint(const QPointF &normalized);
    // Changes the zoom keeping the world point under widget pixel `anchor` in place.
    void zoomAbout(int zoom, const QPointF &anchor);
    void drawAttribution(QPainter &painter) const;
    // Draws the layers from `first` on, all able to add to a picture, through the kept picture.
    void drawKept(QPainter &painter, const MapView &current, size_t first);

    std::vector<std::shared_ptr<Layer>> m_layers;
    // Focus point in normalized world coordinates.
    QPointF m_focus{0.5, 0.5};
    int m_zoom = zoomMinimum;
    QSizeF m_viewportSize;
    bool m_dragging = false;
    QPoint m_dragFrom;
    int m_wheelAngle = 0;
    // The picture of the top layers that can add to a picture (the tracks over the tiles), kept
    // while the view and those layers stay, so that a new position costs only its own drawing.
    QImage m_kept;
    MapView m_keptView{QPointF(), 0, QSize()};
    std::vector<Layer *> m_keptLayers;
};

} // namespace qmapcontrol
