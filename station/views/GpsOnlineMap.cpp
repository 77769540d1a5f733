// Online map of the beacons' tracks.
#include "GpsOnlineMap.h"

#include "qmapcontrol/GeometryPointCircle.h"
#include "qmapcontrol/LayerGeometry.h"
#include "qmapcontrol/LayerMapAdapter.h"
#include "qmapcontrol/MapAdapterOSM.h"
#include "LogCategories.h"

#include <QtMath>
#include <vector>

using namespace qmapcontrol;

namespace {

// The circle drawn at each position of a track.
std::shared_ptr<GeometryPointCircle> positionCircle(const PointWorldCoord &point, const QPen &color)
{
    auto circle = std::make_shared<GeometryPointCircle>(point, QSizeF(10.0, 10.0), 0, 17);
    QPen pen(color);
    pen.setWidth(2);
    circle->setPen(pen);
    return circle;
}

} // namespace

GpsOnlineMap::GpsOnlineMap(QWidget *parent)
    : QMapControl(parent, Qt::WindowFlags()),
      minLatitude(qQNaN()),
      maxLatitude(qQNaN()),
      minLongitude(qQNaN()),
      maxLongitude(qQNaN())
{
    auto adapter = std::make_shared<MapAdapterOSM>(nullptr);
    addLayer(std::make_shared<LayerMapAdapter>("Map", adapter, 0, 17, nullptr), -1);
}

void GpsOnlineMap::beaconMoved(const QString &id, const QDateTime &time, const GpsCoords &coords,
                               const QPen &color)
{
    Q_UNUSED(time)
    std::shared_ptr<GeometryLineString> line = lines.value(id);
    if (qIsNaN(coords.latitude()) || qIsNaN(coords.longitude())) {
        qCDebug(lcViews, "Invalid coordinates\n");
        return;
    }
    const double latitude = coords.latitudeDegrees();
    const double longitude = coords.longitudeDegrees();
    include(latitude, longitude);
    const PointWorldCoord point(longitude, latitude);

    if (!line) {
        addLine(id, point, color);
        return;
    }
    line->addPoint(point);
}

std::shared_ptr<GeometryLineString> GpsOnlineMap::addLine(const QString &id,
                                                          const PointWorldCoord &first,
                                                          const QPen &color)
{
    auto layer = std::make_shared<LayerGeometry>(id.toStdString(), 0, 17, nullptr);
    auto line = std::make_shared<GeometryLineString>(std::vector<PointWorldCoord>{first}, 0, 17);
    QPen pen(color);
    pen.setWidth(1);
    line->setPen(pen);
    line->setMetadata("ID", QVariant(id));
    // One circle per position, drawn at the line's vertices rather than held one by one.
    line->setVertexMarker(positionCircle(first, color));
    layer->addGeometry(line, false);
    lines.insert(id, line);
    addLayer(layer, -1);
    return line;
}

void GpsOnlineMap::addTrack(const QString &id, const QVector<QPointF> &positions,
                            const QPen &color)
{
    std::vector<PointWorldCoord> points;
    points.reserve(size_t(positions.size()));
    // Positions without a fix are left out, as beaconMoved leaves them out.
    for (const QPointF &position : positions) {
        if (qIsNaN(position.x()) || qIsNaN(position.y()))
            continue;
        include(position.y(), position.x());
        points.emplace_back(position.x(), position.y());
    }
    if (points.empty())
        return;
    std::shared_ptr<GeometryLineString> line = lines.value(id);
    if (!line) {
        line = addLine(id, points.front(), color);
        points.erase(points.begin());
    }
    line->addPoints(points);
}

void GpsOnlineMap::beaconDeleted(const QString &id)
{
    removeLayer(id.toStdString());
    lines.remove(id);
    // The extent shrinks to the tracks still shown.
    minLatitude = maxLatitude = minLongitude = maxLongitude = qQNaN();
    for (const auto &line : qAsConst(lines))
        for (const PointWorldCoord &point : line->points())
            include(point.latitude(), point.longitude());
}

void GpsOnlineMap::centerMap()
{
    if (qIsNaN(minLatitude))
        return;
    setMapFocusPoint({PointWorldCoord(minLongitude, minLatitude),
                      PointWorldCoord(maxLongitude, maxLatitude)},
                     true);
}

void GpsOnlineMap::include(double latitude, double longitude)
{
    if (qIsNaN(minLatitude)) {
        minLatitude = maxLatitude = latitude;
        minLongitude = maxLongitude = longitude;
        return;
    }
    minLatitude = qMin(minLatitude, latitude);
    maxLatitude = qMax(maxLatitude, latitude);
    minLongitude = qMin(minLongitude, longitude);
    maxLongitude = qMax(maxLongitude, longitude);
}
