// The "Carte en ligne" tab: OpenStreetMap tiles with one geometry layer per beacon, named after its
// serial, holding the beacon's track as a line that marks each received position with a small
// circle. It keeps the extent of all tracks so that "Recadrer" can show them all.
#pragma once

#include "qmapcontrol/GeometryLineString.h"
#include "qmapcontrol/QMapControl.h"

#include <QDateTime>
#include <QMap>
#include <QPen>
#include <QPointF>
#include <QString>
#include <QVector>
#include <memory>

#include "GpsCoords.h"

class GpsOnlineMap : public qmapcontrol::QMapControl
{
    Q_OBJECT

public:
    explicit GpsOnlineMap(QWidget *parent = nullptr);

    // Extent of the tracks shown, in decimal degrees; NaN when there is none.
    double minimumLatitude() const { return minLatitude; }
    double maximumLatitude() const { return maxLatitude; }
    double minimumLongitude() const { return minLongitude; }
    double maximumLongitude() const { return maxLongitude; }

    // Appends many positions (longitude, latitude in decimal degrees) to a track at once, as that
    // many beaconMoved calls would, with a single redraw request.
    void addTrack(const QString &id, const QVector<QPointF> &positions, const QPen &color);

public slots:
    void beaconMoved(const QString &id, const QDateTime &time, const GpsCoords &coords,
                     const QPen &color);
    void beaconDeleted(const QString &id);
    // Centres the map on every track and zooms so that they all show.
    void centerMap();

private:
    void include(double latitude, double longitude);
    // A new track's layer with its line (through `first`, marked by circles in `color`).
    std::shared_ptr<qmapcontrol::GeometryLineString>
    addLine(const QString &id, const qmapcontrol::PointWorldCoord &first, const QPen &color);

    QMap<QString, std::shared_ptr<qmapcontrol::GeometryLineString>> lines;
    double minLatitude;
    double maxLatitude;
    double minLongitude;
    double maxLongitude;
};
