// The online map view: one geometry layer per beacon with its line marking each position with a
// circle, invalid positions, removal, and centring on the tracks.
#include "GpsOnlineMap.h"
#include "TestTileServer.h"
#include "qmapcontrol/GeometryPointCircle.h"
#include "qmapcontrol/LayerGeometry.h"
#include "qmapcontrol/LayerMapAdapter.h"

#include <QDir>
#include <QNetworkProxy>
#include <QStandardPaths>
#include <QLoggingCategory>
#include <QtTest>

using namespace qmapcontrol;

namespace {

const QString serialA = QStringLiteral("0a1b2c3d4e5f");
const QString serialB = QStringLiteral("00aa00bb00cc");

// 45°12'N 6°12'E and 46°N 7°30'E.
const GpsCoords alpsA(4512.0, 'N', 612.0, 'E');
const GpsCoords alpsB(4600.0, 'N', 730.0, 'E');

std::shared_ptr<LayerGeometry> beaconLayer(const GpsOnlineMap &map, const QString &serial)
{
    return std::dynamic_pointer_cast<LayerGeometry>(map.getLayer(serial.toStdString()));
}

} // namespace

class TestGpsOnlineMap : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startsWithTheTileLayer();
    void firstPositionMakesTheBeaconsLayer();
    void laterPositionsExtendTheTrack();
    void invalidPositionsChangeNothing();
    void deletionRemovesTheLayer();
    void centresOnAllTracks();
    void deletionShrinksTheExtentToTheRemainingTracks();

private:
    // Every map of these tests points at a local server, never at the real tile server.
    void keepLocal(GpsOnlineMap &map);

    TestTileServer server;
};

void TestGpsOnlineMap::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("korvane.views.debug=true"));
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestGpsOnlineMap::keepLocal(GpsOnlineMap &map)
{
    auto tiles = std::dynamic_pointer_cast<LayerMapAdapter>(map.getLayer("Map"));
    QVERIFY(tiles);
    tiles->getMapAdapter()->setBaseUrl(server.baseUrl());
}

void TestGpsOnlineMap::startsWithTheTileLayer()
{
    GpsOnlineMap map;
    QCOMPARE(map.getLayers().size(), size_t(1));
    auto tiles = std::dynamic_pointer_cast<LayerMapAdapter>(map.getLayers().front());
    QVERIFY(tiles);
    QCOMPARE(tiles->getName(), std::string("Map"));
    QCOMPARE(tiles->zoomMinimum(), 0);
    QCOMPARE(tiles->zoomMaximum(), 17);
    QCOMPARE(tiles->getMapAdapter()->baseUrl(), QUrl("https://tile.openstreetmap.org"));
    QCOMPARE(QDir::cleanPath(tiles->getMapAdapter()->cacheDirectory()),
             QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + "/tiles");
    keepLocal(map);
    QCOMPARE(map.zoom(), 0);
    QVERIFY(qIsNaN(map.minimumLatitude()) && qIsNaN(map.maximumLongitude()));
}

void TestGpsOnlineMap::firstPositionMakesTheBeaconsLayer()
{
    GpsOnlineMap map;
    keepLocal(map);
    map.beaconMoved(serialA, QDateTime::currentDateTimeUtc(), alpsA, QPen(Qt::red, 3));

    QCOMPARE(map.getLayers().size(), size_t(2));
    const auto layer = beaconLayer(map, serialA);
    QVERIFY(layer);
    QCOMPARE(map.getLayers().back(), std::shared_ptr<Layer>(layer));
    QCOMPARE(layer->zoomMaximum(), 17);
    // The line marks each position with a circle.
    const auto &geometries = layer->getGeometries();
    QCOMPARE(geometries.size(), size_t(1));

    const auto line = std::dynamic_pointer_cast<GeometryLineString>(geometries[0]);
    QVERIFY(line);
    QCOMPARE(line->points().size(), size_t(1));
    QCOMPARE(line->points()[0].longitude(), 6.2);
    QCOMPARE(line->points()[0].latitude(), 45.2);
    QCOMPARE(line->metadata("ID"), QVariant(serialA));
    QCOMPARE(line->pen().color(), QColor(Qt::red));
    QCOMPARE(line->pen().width(), 1);

    const auto circle = std::dynamic_pointer_cast<GeometryPointCircle>(line->vertexMarker());
    QVERIFY(circle);
    QCOMPARE(circle->size(), QSizeF(10.0, 10.0));
    QCOMPARE(circle->pen().color(), QColor(Qt::red));
    QCOMPARE(circle->pen().width(), 2);
    QCOMPARE(map.minimumLatitude(), 45.2);
    QCOMPARE(map.maximumLongitude(), 6.2);
}

void TestGpsOnlineMap::laterPositionsExtendTheTrack()
{
    GpsOnlineMap map;
    keepLocal(map);
    map.beaconMoved(serialA, QDateTime(), alpsA, QPen(Qt::red));
    map.beaconMoved(serialA, QDateTime(), alpsB, QPen(Qt::red));
    map.beaconMoved(serialA, QDateTime(), alpsA, QPen(Qt::red));
    QCOMPARE(map.getLayers().size(), size_t(2));
    const auto &geometries = beaconLayer(map, serialA)->getGeometries();
    QCOMPARE(geometries.size(), size_t(1));
    const auto line = std::dynamic_pointer_cast<GeometryLineString>(geometries[0]);
    QCOMPARE(line->points().size(), size_t(3));
    QCOMPARE(line->points()[1].longitude(), 7.5);
    QCOMPARE(line->points()[2].longitude(), 6.2);
    QVERIFY(std::dynamic_pointer_cast<GeometryPointCircle>(line->vertexMarker()));

    // Another beacon gets a layer of its own, on top.
    map.beaconMoved(serialB, QDateTime(), alpsB, QPen(Qt::blue));
    QCOMPARE(map.getLayers().size(), size_t(3));
    QCOMPARE(map.getLayers().back()->getName(), serialB.toStdString());
    QCOMPARE(line->points().size(), size_t(3));
}

void TestGpsOnlineMap::invalidPositionsChangeNothing()
{
    GpsOnlineMap map;
    keepLocal(map);
    const GpsCoords noLatitude(qQNaN(), 'N', 612.0, 'E');
    const GpsCoords noLongitude(4512.0, 'N', qQNaN(), 'E');
    QTest::ignoreMessage(QtDebugMsg, "Invalid coordinates\n");
    map.beaconMoved(serialA, QDateTime(), noLatitude, QPen(Qt::red));
    QCOMPARE(map.getLayers().size(), size_t(1));
    QVERIFY(qIsNaN(map.minimumLatitude()));

    map.beaconMoved(serialA, QDateTime(), alpsA, QPen(Qt::red));
    QTest::ignoreMessage(QtDebugMsg, "Invalid coordinates\n");
    map.beaconMoved(serialA, QDateTime(), noLongitude, QPen(Qt::red));
    QCOMPARE(std::dynamic_pointer_cast<GeometryLineString>(
                 beaconLayer(map, serialA)->getGeometries().at(0))->points().size(),
             size_t(1));
    QCOMPARE(map.minimumLatitude(), 45.2);
    QCOMPARE(map.maximumLatitude(), 45.2);
}

void TestGpsOnlineMap::deletionRemovesTheLayer()
{
    GpsOnlineMap map;
    keepLocal(map);
    map.beaconMoved(serialA, QDateTime(), alpsA, QPen(Qt::red));
    map.beaconMoved(serialA, QDateTime(), alpsB, QPen(Qt::red));
    map.beaconMoved(serialB, QDateTime(), alpsB, QPen(Qt::blue));
    map.beaconDeleted(serialA);
    QVERIFY(!map.getLayer(serialA.toStdString()));
    QCOMPARE(map.getLayers().size(), size_t(2));
    QCOMPARE(map.getLayers().front()->getName(), std::string("Map"));
    map.beaconDeleted(QStringLiteral("ffffffffffff"));
    QCOMPARE(map.getLayers().size(), size_t(2));

    // A beacon that comes back starts a new track.
    map.beaconMoved(serialA, QDateTime(), alpsA, QPen(Qt::red));
    const auto &geometries = beaconLayer(map, serialA)->getGeometries();
    QCOMPARE(geometries.size(), size_t(1));
    QCOMPARE(std::dynamic_pointer_cast<GeometryLineString>(geometries[0])->points().size(),
             size_t(1));
}

void TestGpsOnlineMap::centresOnAllTracks()
{
    GpsOnlineMap map;
    keepLocal(map);
    map.resize(640, 480);
    map.setViewportSize(QSizeF(600, 440));
    map.centerMap();
    QCOMPARE(map.zoom(), 0);

    map.beaconMoved(serialA, QDateTime(), alpsA, QPen(Qt::red));
    map.beaconMoved(serialB, QDateTime(), alpsB, QPen(Qt::blue));
    map.beaconMoved(serialB, QDateTime(), GpsCoords(4530.0, 'N', 700.0, 'E'), QPen(Qt::blue));
    map.centerMap();

    qmapcontrol::QMapControl reference;
    reference.resize(640, 480);
    reference.setViewportSize(QSizeF(600, 440));
    reference.setMapFocusPoint({PointWorldCoord(6.2, 45.2), PointWorldCoord(7.5, 46.0)}, true);
    QCOMPARE(map.zoom(), reference.zoom());
    QCOMPARE(map.zoom(), 8);
    QCOMPARE(map.mapFocusPoint().longitude(), reference.mapFocusPoint().longitude());
    QCOMPARE(map.mapFocusPoint().latitude(), reference.mapFocusPoint().latitude());
}

void TestGpsOnlineMap::deletionShrinksTheExtentToTheRemainingTracks()
{
    GpsOnlineMap map;
    keepLocal(map);
    map.resize(640, 480);
    map.beaconMoved(serialA, QDateTime(), alpsA, QPen(Qt::red));
    map.beaconMoved(serialA, QDateTime(), GpsCoords(4515.0, 'N', 615.0, 'E'), QPen(Qt::red));
    map.beaconMoved(serialB, QDateTime(), alpsB, QPen(Qt::blue));

    // The tracks still shown keep counting for "Recadrer".
    map.beaconDeleted(serialB);
    QCOMPARE(map.minimumLatitude(), 45.2);
    QCOMPARE(map.maximumLatitude(), 45.25);
    QCOMPARE(map.minimumLongitude(), 6.2);
    QCOMPARE(map.maximumLongitude(), 6.25);
    map.centerMap();
    QVERIFY(qAbs(map.mapFocusPoint().longitude() - 6.225) < 1e-9);
    QVERIFY(map.zoom() > 8);

    // With no track left there is nothing to centre on.
    map.beaconDeleted(serialA);
    QVERIFY(qIsNaN(map.minimumLatitude()) && qIsNaN(map.maximumLongitude()));
    const int zoom = map.zoom();
    const PointWorldCoord focus = map.mapFocusPoint();
    map.centerMap();
    QCOMPARE(map.zoom(), zoom);
    QCOMPARE(map.mapFocusPoint().longitude(), focus.longitude());
}

QTEST_MAIN(TestGpsOnlineMap)
#include "tst_gpsonlinemap.moc"
