// The map control: Mercator conversions, tile fetching from a local server (addresses, disk cache,
// offline use, failures, politeness), layers, view changes and the drawing of geometries.
#include "TestTileServer.h"
#include "qmapcontrol/GeometryLineString.h"
#include "qmapcontrol/GeometryPointCircle.h"
#include "qmapcontrol/LayerGeometry.h"
#include "qmapcontrol/LayerMapAdapter.h"
#include "qmapcontrol/MapAdapterOSM.h"
#include "qmapcontrol/Projection.h"
#include "qmapcontrol/QMapControl.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QNetworkProxy>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QtTest>

using namespace qmapcontrol;

namespace {

QImage rendered(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    widget.render(&image);
    return image;
}

// Pixels within `box` whose colour is mostly that of `color`'s dominant channel.
int pixelsLike(const QImage &image, const QRect &box, Qt::GlobalColor color)
{
    int count = 0;
    for (int y = qMax(0, box.top()); y <= qMin(image.height() - 1, box.bottom()); ++y)
        for (int x = qMax(0, box.left()); x <= qMin(image.width() - 1, box.right()); ++x) {
            const QColor c = image.pixelColor(x, y);
            if ((color == Qt::red && c.red() > 150 && c.green() < 100 && c.blue() < 100)
                || (color == Qt::blue && c.blue() > 150 && c.red() < 100 && c.green() < 100))
                ++count;
        }
    return count;
}

struct TiledMap
{
    TiledMap(const QUrl &server, const QString &cache, const QSize &size, int zoom,
             const PointWorldCoord &focus)
        : adapter(std::make_shared<MapAdapterOSM>())
    {
        adapter->setBaseUrl(server);
        adapter->setCacheDirectory(cache);
        map.addLayer(std::make_shared<LayerMapAdapter>("Map", adapter, 0, 17));
        map.resize(size);
        map.setZoom(zoom);
        map.setMapFocusPoint(focus);
    }
    std::shared_ptr<MapAdapterOSM> adapter;
    QMapControl map;
};

} // namespace

class TestQMapControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void projection_data();
    void projection();
    void projectionClampsAndRoundTrips();
    void requestsTheTilesOfTheView();
    void cachedTilesAreNotFetchedAgain();
    void showsCachedTilesOffline();
    void failedTilesLeavePlaceholders();
    void downloadsTwoAtATimeAndDropsStaleWishes();
    void layersByName();
    void autoZoomFitsTheViewport();
    void zoomStaysInRange();
    void dragAndWheel();
    void drawsGeometriesInView();
    void markersOnOnePixelAreDrawnOnce();
};

void TestQMapControl::initTestCase()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
}

void TestQMapControl::projection_data()
{
    QTest::addColumn<double>("longitude");
    QTest::addColumn<double>("latitude");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QPointF>("pixel");
    QTest::newRow("origin z0") << 0.0 << 0.0 << 0 << QPointF(128, 128);
    QTest::newRow("north-west corner") << -180.0 << Projection::maximumLatitude << 0 << QPointF(0, 0);
    QTest::newRow("south-east corner z1") << 180.0 << -Projection::maximumLatitude << 1
                                          << QPointF(512, 512);
    QTest::newRow("Paris z10") << 2.35 << 48.85 << 10 << QPointF(132783.2178, 90192.2857);
    QTest::newRow("Tokyo z17") << 139.7 << 35.68 << 17 << QPointF(29798199.7511, 13213139.2043);
}

void TestQMapControl::projection()
{
    QFETCH(double, longitude);
    QFETCH(double, latitude);
    QFETCH(int, zoom);
    QFETCH(QPointF, pixel);
    const QPointF p = Projection::toPixel(PointWorldCoord(longitude, latitude), zoom);
    QVERIFY2(qAbs(p.x() - pixel.x()) < 1e-3 && qAbs(p.y() - pixel.y()) < 1e-3,
             qPrintable(QStringLiteral("%1, %2").arg(p.x(), 0, 'f', 4).arg(p.y(), 0, 'f', 4)));
    const PointWorldCoord back = Projection::fromPixel(pixel, zoom);
    QVERIFY(qAbs(back.longitude() - longitude) < 1e-6);
    QVERIFY(qAbs(back.latitude() - latitude) < 1e-6);
}

void TestQMapControl::projectionClampsAndRoundTrips()
{
    // Beyond the Mercator limit a position lands on the world's edge, not at infinity.
    QCOMPARE(Projection::toPixel(PointWorldCoord(0, 89.9), 0).y(), 0.0);
    QCOMPARE(Projection::toPixel(PointWorldCoord(0, -100.0), 0).y(), 256.0);
    QCOMPARE(Projection::toPixel(PointWorldCoord(200.0, 0), 0).x(), 256.0);
    const PointWorldCoord point(-122.470781, 35.607768);
    const PointWorldCoord back = Projection::fromPixel(Projection::toPixel(point, 17), 17);
    QVERIFY(qAbs(back.longitude() - point.longitude()) < 1e-9);
    QVERIFY(qAbs(back.latitude() - point.latitude()) < 1e-9);
}

void TestQMapControl::requestsTheTilesOfTheView()
{
    TestTileServer server;
    QTemporaryDir cache;
    // Paris at zoom 10 lies well inside tile 518/352: a 100-pixel view needs only that tile.
    TiledMap tiled(server.baseUrl(), cache.path(), QSize(100, 100), 10, PointWorldCoord(2.35, 48.85));
    // The view's origin sits on whole pixels: the focus is within a pixel of the centre.
    const QPointF focus = tiled.map.toScreen(PointWorldCoord(2.35, 48.85));
    QVERIFY(qAbs(focus.x() - 50.2178) < 1e-3 && qAbs(focus.y() - 50.2857) < 1e-3);

    const QImage loading = rendered(tiled.map);
    // Not loaded yet: a placeholder, never the black the image was cleared with.
    QCOMPARE(loading.pixelColor(50, 50), QColor(0xe4, 0xe4, 0xe0));
    QTRY_COMPARE(server.paths(), QStringList{QStringLiteral("/10/518/352.png")});
    QVERIFY(server.lastUserAgent().startsWith("Korvane/"));
    QTRY_COMPARE(tiled.adapter->tileState(10, 518, 352), TileLoader::State::Ready);

    const QImage shown = rendered(tiled.map);
    QCOMPARE(shown.pixelColor(50, 40), TestTileServer::tileColor(10, 518, 352));
    // The credit sits in the bottom right corner, over the tile.
    QVERIFY(shown.pixelColor(95, 97) != TestTileServer::tileColor(10, 518, 352));
    QCOMPARE(tiled.adapter->attribution(), QStringLiteral("\u00a9 OpenStreetMap contributors"));
    // A tile held in memory is not asked for again.
    QCOMPARE(tiled.adapter->tileState(10, 518, 352), TileLoader::State::Ready);
}

void TestQMapControl::cachedTilesAreNotFetchedAgain()
{
    TestTileServer server;
    server.setCacheHeader("Cache-Control: max-age=86400");
    QTemporaryDir cache;
    {
        TiledMap first(server.baseUrl(), cache.path(), QSize(512, 512), 1, PointWorldCoord(0, 0));
        rendered(first.map);
        for (int x = 0; x < 2; ++x)
            for (int y = 0; y < 2; ++y)
                QTRY_COMPARE(first.adapter->tileState(1, x, y), TileLoader::State::Ready);
        QCOMPARE(server.paths().size(), 4);
    }
    TiledMap second(server.baseUrl(), cache.path(), QSize(512, 512), 1, PointWorldCoord(0, 0));
    rendered(second.map);
    for (int x = 0; x < 2; ++x)
        for (int y = 0; y < 2; ++y)
            QTRY_COMPARE(second.adapter->tileState(1, x, y), TileLoader::State::Ready);
    QCOMPARE(server.paths().size(), 4);
    QCOMPARE(rendered(second.map).pixelColor(100, 100), TestTileServer::tileColor(1, 0, 0));
}

void TestQMapControl::showsCachedTilesOffline()
{
    // No cache headers: the copy on disk is revalidated while the server answers, and used as it
    // is once the server is gone.
    TestTileServer server;
    QTemporaryDir cache;
    {
        TiledMap online(server.baseUrl(), cache.path(), QSize(100, 100), 10,
                        PointWorldCoord(2.35, 48.85));
        rendered(online.map);
        QTRY_COMPARE(online.adapter->tileState(10, 518, 352), TileLoader::State::Ready);
    }
    const QUrl gone = server.baseUrl();
    server.close();
    TiledMap offline(gone, cache.path(), QSize(100, 100), 10, PointWorldCoord(2.35, 48.85));
    rendered(offline.map);
    QTRY_COMPARE(offline.adapter->tileState(10, 518, 352), TileLoader::State::Ready);
    QCOMPARE(rendered(offline.map).pixelColor(50, 40), TestTileServer::tileColor(10, 518, 352));
}

void TestQMapControl::failedTilesLeavePlaceholders()
{
    TestTileServer server;
    server.setAnswer(QStringLiteral("/1/1/0.png"), TestTileServer::Answer::NotFound);
    server.setAnswer(QStringLiteral("/1/0/1.png"), TestTileServer::Answer::Drop);
    QTemporaryDir cache;
    TiledMap tiled(server.baseUrl(), cache.path(), QSize(512, 512), 1, PointWorldCoord(0, 0));
    rendered(tiled.map);
    QTRY_COMPARE(tiled.adapter->tileState(1, 1, 0), TileLoader::State::Failed);
    QTRY_COMPARE(tiled.adapter->tileState(1, 0, 1), TileLoader::State::Failed);
    QTRY_COMPARE(tiled.adapter->tileState(1, 0, 0), TileLoader::State::Ready);
    QTRY_COMPARE(tiled.adapter->tileState(1, 1, 1), TileLoader::State::Ready);

    const QImage image = rendered(tiled.map);
    QCOMPARE(image.pixelColor(100, 100), TestTileServer::tileColor(1, 0, 0));
    QCOMPARE(image.pixelColor(400, 400), TestTileServer::tileColor(1, 1, 1));
    const QList<QColor> placeholder{QColor(0xe4, 0xe4, 0xe0), QColor(0xcc, 0xcc, 0xc8)};
    QVERIFY(placeholder.contains(image.pixelColor(400, 100)));
    QVERIFY(placeholder.contains(image.pixelColor(100, 400)));
    // Painting again does not ask for a failed tile straight away.
    QCOMPARE(tiled.adapter->tileState(1, 1, 0), TileLoader::State::Failed);
    QCOMPARE(tiled.adapter->tileState(1, 0, 1), TileLoader::State::Failed);
}

void TestQMapControl::downloadsTwoAtATimeAndDropsStaleWishes()
{
    TestTileServer server;
    server.setHolding(true);
    QTemporaryDir cache;
    // Sixteen tiles in view at zoom 3.
    TiledMap tiled(server.baseUrl(), cache.path(), QSize(1024, 1024), 3, PointWorldCoord(0, 0));
    rendered(tiled.map);
    QTRY_COMPARE(server.pending(), 2);

    // The user zooms out before those arrive: the other fourteen are no longer wanted.
    tiled.map.setZoom(0);
    rendered(tiled.map);
    server.setHolding(false);
    server.releaseHeld();
    QTRY_COMPARE(tiled.adapter->tileState(0, 0, 0), TileLoader::State::Ready);
    QCOMPARE(server.paths().size(), 3);
    QCOMPARE(server.paths().last(), QStringLiteral("/0/0/0.png"));
    QCOMPARE(server.mostPending(), 2);
}

void TestQMapControl::layersByName()
{
    QMapControl map;
    auto a = std::make_shared<LayerGeometry>("a");
    auto b = std::make_shared<LayerGeometry>("b");
    auto c = std::make_shared<LayerGeometry>("c");
    map.addLayer(a, -1);
    map.addLayer(b, -1);
    map.addLayer(c, 0);
    QCOMPARE(map.getLayers(), (std::vector<std::shared_ptr<Layer>>{c, a, b}));
    QCOMPARE(map.getLayer("b"), std::shared_ptr<Layer>(b));
    QVERIFY(!map.getLayer("d"));
    map.removeLayer("a");
    map.removeLayer("d");
    QCOMPARE(map.getLayers(), (std::vector<std::shared_ptr<Layer>>{c, b}));
    QVERIFY(!map.getLayer("a"));
}

void TestQMapControl::autoZoomFitsTheViewport()
{
    QMapControl map;
    map.resize(400, 300);
    const PointWorldCoord southWest(2.30, 48.80);
    const PointWorldCoord northEast(2.40, 48.90);
    map.setMapFocusPoint({southWest, northEast}, true);
    const int zoom = map.zoom();
    QVERIFY(zoom > 0 && zoom < QMapControl::zoomMaximum);
    const QRectF view(0, 0, 400, 300);
    QVERIFY(view.contains(map.toScreen(southWest)) && view.contains(map.toScreen(northEast)));
    // The centre of the view is the middle of the extent on the map.
    const QPointF middle = (map.toScreen(southWest) + map.toScreen(northEast)) / 2.0;
    QVERIFY(qAbs(middle.x() - 200) <= 1.0 && qAbs(middle.y() - 150) <= 1.0);
    // One level closer and the extent would no longer fit.
    map.setZoom(zoom + 1);
    QVERIFY(!view.contains(map.toScreen(southWest)) || !view.contains(map.toScreen(northEast)));

    // A smaller viewport than the widget (the window's page less a frame) is what counts.
    map.setViewportSize(QSizeF(200, 150));
    map.setMapFocusPoint({southWest, northEast}, true);
    QCOMPARE(map.zoom(), zoom - 1);
    QCOMPARE(map.sizeHint(), QSize(200, 150));

    // Without auto zoom only the focus moves.
    map.setZoom(5);
    map.setMapFocusPoint({southWest, northEast}, false);
    QCOMPARE(map.zoom(), 5);
}

void TestQMapControl::zoomStaysInRange()
{
    QMapControl map;
    QCOMPARE(map.zoom(), 0);
    map.zoomOut();
    QCOMPARE(map.zoom(), 0);
    map.zoomIn();
    QCOMPARE(map.zoom(), 1);
    map.setZoom(40);
    QCOMPARE(map.zoom(), 17);
    map.zoomIn();
    QCOMPARE(map.zoom(), 17);
}

void TestQMapControl::dragAndWheel()
{
    QMapControl map;
    map.resize(400, 300);
    map.setZoom(12);
    map.setMapFocusPoint(PointWorldCoord(6.1, 45.2));

    const PointWorldCoord grabbed = map.toWorld(QPointF(100, 100));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 100), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, QPointF(150, 120), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(150, 120), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&map, &press);
    QApplication::sendEvent(&map, &move);
    QApplication::sendEvent(&map, &release);
    const QPointF dragged = map.toScreen(grabbed);
    QVERIFY(qAbs(dragged.x() - 150) <= 1.0 && qAbs(dragged.y() - 120) <= 1.0);

    // One wheel notch zooms in one level about the mouse position; half notches add up.
    const PointWorldCoord underMouse = map.toWorld(QPointF(300, 200));
    const auto wheel = [&](int angle) {
        QWheelEvent event(QPointF(300, 200), QPointF(300, 200), QPoint(), QPoint(0, angle),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&map, &event);
    };
    wheel(120);
    QCOMPARE(map.zoom(), 13);
    const QPointF kept = map.toScreen(underMouse);
    QVERIFY(qAbs(kept.x() - 300) <= 1.0 && qAbs(kept.y() - 200) <= 1.0);
    wheel(-60);
    QCOMPARE(map.zoom(), 13);
    wheel(-60);
    QCOMPARE(map.zoom(), 12);
}

void TestQMapControl::drawsGeometriesInView()
{
    QMapControl map;
    map.resize(200, 200);
    map.setZoom(17);
    map.setMapFocusPoint(PointWorldCoord(0, 0));
    auto layer = std::make_shared<LayerGeometry>("g");
    map.addLayer(layer);

    // A line whose ends are some 46,000 pixels outside the view on either side still crosses it.
    auto line = std::make_shared<GeometryLineString>(
        std::vector<PointWorldCoord>{PointWorldCoord(-0.5, 0), PointWorldCoord(0.5, 0)});
    line->setPen(QPen(Qt::blue, 3));
    layer->addGeometry(line);
    // A marker at the centre, one far outside, and one not shown at this zoom.
    auto circle = std::make_shared<GeometryPointCircle>(PointWorldCoord(0, 0.0003));
    circle->setPen(QPen(Qt::red, 2));
    auto far = std::make_shared<GeometryPointCircle>(PointWorldCoord(0.1, 0.1));
    far->setPen(QPen(Qt::red, 2));
    auto tooClose = std::make_shared<GeometryPointCircle>(PointWorldCoord(0.0003, 0), QSizeF(10, 10),
                                                          0, 16);
    tooClose->setPen(QPen(Qt::red, 2));
    layer->addGeometry(circle, true);
    layer->addGeometry(far, true);
    layer->addGeometry(tooClose);

    const QImage image = rendered(map);
    QVERIFY(pixelsLike(image, QRect(0, 99, 200, 3), Qt::blue) > 150);
    const QPoint at = map.toScreen(circle->coord()).toPoint();
    QVERIFY(pixelsLike(image, QRect(at - QPoint(7, 7), QSize(15, 15)), Qt::red) > 10);
    QCOMPARE(pixelsLike(image, image.rect(), Qt::red),
             pixelsLike(image, QRect(at - QPoint(7, 7), QSize(15, 15)), Qt::red));

    // A pen changed after the marker was added is the one drawn.
    circle->setPen(QPen(Qt::blue, 2));
    QCOMPARE(pixelsLike(rendered(map), image.rect(), Qt::red), 0);
}

void TestQMapControl::markersOnOnePixelAreDrawnOnce()
{
    // Antialiased edges darken with every repeated drawing; a pixel already showing the same marker
    // is left alone, so fifty markers on one spot look exactly like one.
    const auto mapWith = [](int markers) {
        auto map = std::make_unique<QMapControl>();
        map->resize(120, 120);
        map->setZoom(14);
        map->setMapFocusPoint(PointWorldCoord(6.1, 45.2));
        auto layer = std::make_shared<LayerGeometry>("g");
        for (int i = 0; i < markers; ++i) {
            auto circle = std::make_shared<GeometryPointCircle>(
                PointWorldCoord(6.1 + i * 1e-9, 45.2));
            circle->setPen(QPen(QColor(200, 30, 30, 160), 2));
            layer->addGeometry(circle, true);
        }
        map->addLayer(layer);
        return map;
    };
    const auto one = mapWith(1);
    const auto fifty = mapWith(50);
    QCOMPARE(rendered(*fifty), rendered(*one));
}

QTEST_MAIN(TestQMapControl)
#include "tst_qmapcontrol.moc"
