// The "Carte" tab: a window onto the GeoTIFF map at a chosen scale with every beacon's track and a
// legend; zoom by wheel, toolbar and "fit", pan by dragging or by the scroll bars beside it.
#pragma once

#include "GeoMapModel.h"

#include <QDateTime>
#include <QLabel>
#include <QPen>
#include <QPixmap>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include "GpsCoords.h"

class GeoMapWidget : public QLabel
{
    Q_OBJECT

public:
    explicit GeoMapWidget(QWidget *parent = nullptr);

    // Loads the map and shows it from its top-left corner at scale 1. A file that does not load
    // leaves the map and the view as they were; loadErrorText() then says why.
    bool LoadMap(const QString &path);
    // Why the last map failed to load, in the user's words.
    QString loadErrorText() const;
    // Whether positions can be placed on the map shown.
    bool isGeoReferenced() const { return m_model.image().isGeoReferenced(); }

    double scale() const { return m_scale; }
    int originX() const { return m_originX; }
    int originY() const { return m_originY; }
    const GeoMapModel &model() const { return m_model; }

    // Appends many positions (longitude, latitude in decimal degrees) to a track at once, as that
    // many Slot_BeaconMoved calls would; the picture is refreshed once control returns to the event
    // loop, so that tracks taken one after the other, and a view change that follows, cost one
    // drawing.
    void addTrack(const QString &id, const QVector<QPointF> &positions, const QPen &color);
    // Removes several tracks with a single refresh.
    void removeTracks(const QStringList &ids);

signals:
    // The view's origin and the largest origin, for the horizontal and the vertical scroll bar.
    void XChanged(int pos, int max);
    void YChanged(int pos, int max);

public slots:
    void Slot_BeaconDelete(const QString &id);
    void Slot_BeaconMoved(const QString &id, const QDateTime &date, const GpsCoords &coords,
                          const QPen &color);
    void RefreshMap();
    // Zooms keeping the map pixel under widget point (x, y) in place; a negative x or y anchors at
    // the widget's centre.
    void Zoom(int x, int y, double newscale);
    void ZoomUp();
    void ZoomDown();
    void SetMapView(int x, int y, double scale, bool signal = true);
    void SetXPosition(int x);
    void SetYPosition(int y);
    void ZoomFit();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    const QPixmap *heldPixmap() const;
    void queueRefresh();

    GeoMapModel m_model;
    // The legend that the picture shown holds.
    qint64 m_shownLegend = 0;
    bool m_refreshQueued = false;
    double m_scale = 1.0;
    QTimer m_refreshTimer;
    int m_originX = 0;
    int m_originY = 0;
    bool m_dragging = false;
    int m_lastMouseX = 0;
    int m_lastMouseY = 0;
};
