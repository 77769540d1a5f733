// The station window's three displays on the offscreen platform, without a receptor (the view
// commands need none): positions and deletions reaching the graph, the GeoTIFF map and the online
// map in that order, the graph's equal scales and shared tick step through resizes, zooms and
// hidden or squeezed tabs, the map's scroll bars, the online map's viewport, and the view commands.
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "KorvaneMainWindow.h"
#include "ReceptorMetaTypes.h"
#include "TestGeoTiff.h"
#include "UsbAccess.h"
#include "XCustomPlot.h"
#include "qmapcontrol/LayerMapAdapter.h"

#include <QAction>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QLoggingCategory>
#include <QtTest>

#include <cmath>

namespace
{
// The test map: 1000 x 800 pixels from 6.1E 45.5N down to 6.4E 45.0N.
constexpr double mapWest = 6.1;
constexpr double mapNorth = 45.5;
constexpr double mapDegreesPerColumn = 0.0003;
constexpr double mapDegreesPerRow = 0.000625;
constexpr int mapWidth = 1000;
constexpr int mapHeight = 800;

// Decimal degrees to the receptor's degrees x 100 + minutes, as a north-east position.
GpsCoords position(double latitude, double longitude)
{
    const auto ddmm = [](double degrees) {
        return std::floor(degrees) * 100 + (degrees - std::floor(degrees)) * 60;
    };
    return GpsCoords(ddmm(latitude), 'N', ddmm(longitude), 'E');
}

bool writeTestMap(const QString &path)
{
    TestGeoTiff map;
    map.width = mapWidth;
    map.height = mapHeight;
    const double tiePoint[6] = {0, 0, 0, mapWest, mapNorth, 0};
    const double pixelScale[3] = {mapDegreesPerColumn, mapDegreesPerRow, 0};
    std::copy(std::begin(tiePoint), std::end(tiePoint), map.tiePoint);
    std::copy(std::begin(pixelScale), std::end(pixelScale), map.pixelScale);
    map.colour = [](int x, int y) {
        return ((x / 50 + y / 50) % 2) ? qRgb(230, 230, 230) : qRgb(250, 250, 250);
    };
    return map.write(path);
}

bool finite(const QCPRange &range)
{
    return std::isfinite(range.lower) && std::isfinite(range.upper) && range.upper > range.lower;
}

// What the displays held each time the GeoTIFF map redrew, which it does once per position or
// deletion it takes.
struct ReceiverProbe
{
    XCustomPlot *graph = nullptr;
    GpsOnlineMap *online = nullptr;
    QString serial;
    QStringList seen;
};
ReceiverProbe *probe = nullptr;
QtMessageHandler passOn = nullptr;

void probeMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (probe && message.startsWith(QLatin1String("Refresh in "))) {
        bool onGraph = false;
        for (int i = 0; i < probe->graph->plottableCount(); ++i)
            onGraph = onGraph || probe->graph->plottable(i)->name() == probe->serial;
        const bool online = probe->online->getLayer(probe->serial.toStdString()) != nullptr;
        probe->seen << QStringLiteral("graph %1, online %2").arg(onGraph).arg(online);
    }
    passOn(type, context, message);
}
} // namespace

class TestDisplayWiring : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void form();
    void receiversInOrder();
    void zoomCommands();
    void equalScalesThroughResizes();
    void hiddenAndSqueezedGraph();
    void onlineViewport();
    void scrollBarsWithoutEcho();
    void mapRedrawnAfterResizes();
    void loadMap();
    void reframeShowsEveryTrackWhole_data();
    void reframeShowsEveryTrackWhole();
    void tickLabelsReadableAtEveryZoom();
    void reframe();

private:
    template <typename T> T *child(const char *name) const
    {
        return m_window->findChild<T *>(name);
    }
    XCustomPlot *graph() const { return child<XCustomPlot>("graph"); }
    GeoMapWidget *map() const { return child<GeoMapWidget>("map"); }
    GpsOnlineMap *online() const { return child<GpsOnlineMap>("map_online"); }
    QTabWidget *tabs() const { return child<QTabWidget>("tabs"); }
    QAction *action(const char *name) const { return child<QAction>(name); }
    void showWindow();
    // Shows the tab and lets its page take its place.
    void showTab(int index);
    void useMap(const QString &path);
    // Equal units per pixel on both graph axes and the same tick step; else why not.
    QString graphMismatch() const;
    // A point of a curve that the plot area does not show whole (marker included); else empty.
    QString pointOutside() const;
    // Tick labels of an axis that repeat or run into each other; else empty.
    QString labelClash(const QCPAxis *axis) const;

    QTemporaryDir m_folder;
    KorvaneMainWindow *m_window = nullptr;
};

void TestDisplayWiring::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("korvane.views.debug=true"));
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    // The program's online map shows OpenStreetMap; the tests' fetch nothing.
    QCOMPARE(KorvaneMainWindow::onlineTileServer(), QUrl("https://tile.openstreetmap.org"));
    KorvaneMainWindow::setOnlineTileServer(QUrl());
    QVERIFY(m_folder.isValid());
    QVERIFY(writeTestMap(m_folder.filePath("map.tif")));
}

void TestDisplayWiring::init()
{
    m_window = new KorvaneMainWindow;
    m_window->findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly)->stop();
}

void TestDisplayWiring::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

void TestDisplayWiring::showWindow()
{
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestDisplayWiring::showTab(int index)
{
    tabs()->setCurrentIndex(index);
    QCoreApplication::processEvents();
}

void TestDisplayWiring::useMap(const QString &path)
{
    m_window->dialogs().openFilePrompt = [path](QWidget *, const QString &, const QString &,
                                                const QString &) { return path; };
    action("actionLoadMap")->trigger();
}

QString TestDisplayWiring::graphMismatch() const
{
    const QCPAxis *x = graph()->xAxis;
    const QCPAxis *y = graph()->yAxis;
    const QRect area = graph()->axisRect()->rect();
    if (area.width() <= 0 || area.height() <= 0)
        return QStringLiteral("no plot area");
    const double xPerPixel = x->range().size() / area.width();
    const double yPerPixel = y->range().size() / area.height();
    if (qAbs(xPerPixel - yPerPixel) > 1e-9 * xPerPixel)
        return QStringLiteral("units per pixel %1 and %2").arg(xPerPixel).arg(yPerPixel);
    // One degree across and one degree up take as many pixels.
    const double across = x->coordToPixel(x->range().lower + 1) - x->coordToPixel(x->range().lower);
    const double up = y->coordToPixel(y->range().lower) - y->coordToPixel(y->range().lower + 1);
    if (qAbs(across - up) > 1e-6 * across)
        return QStringLiteral("pixels per degree %1 and %2").arg(across).arg(up);
    const QVector<double> xTicks = x->tickVector();
    const QVector<double> yTicks = y->tickVector();
    if (xTicks.size() < 2 || yTicks.size() < 2)
        return QStringLiteral("too few ticks");
    const double xStep = xTicks.at(1) - xTicks.at(0);
    const double yStep = yTicks.at(1) - yTicks.at(0);
    if (qAbs(xStep - yStep) > 1e-9 * xStep)
        return QStringLiteral("tick steps %1 and %2").arg(xStep).arg(yStep);
    return QString();
}

QString TestDisplayWiring::pointOutside() const
{
    const QCPAxis *x = graph()->xAxis;
    const QCPAxis *y = graph()->yAxis;
    const QRect area = graph()->axisRect()->rect();
    // The circle marking a position is 5 pixels across.
    const QRectF inner = QRectF(area).adjusted(2.5, 2.5, -2.5, -2.5);
    for (int i = 0; i < graph()->plottableCount(); ++i) {
        const auto *curve = qobject_cast<QCPCurve *>(graph()->plottable(i));
        for (auto it = curve->data()->constBegin(); it != curve->data()->constEnd(); ++it) {
            const QPointF at(x->coordToPixel(it->key), y->coordToPixel(it->value));
            if (!inner.contains(at))
                return QStringLiteral("%1 at %2, %3 (pixel %4, %5 of %6 x %7)")
                    .arg(curve->name())
                    .arg(it->key, 0, 'f', 6)
                    .arg(it->value, 0, 'f', 6)
                    .arg(at.x())
                    .arg(at.y())
                    .arg(area.width())
                    .arg(area.height());
        }
    }
    return QString();
}

QString TestDisplayWiring::labelClash(const QCPAxis *axis) const
{
    const QVector<double> ticks = axis->tickVector();
    const QVector<QString> labels = axis->tickVectorLabels();
    const QFontMetricsF metrics(axis->tickLabelFont());
    const bool horizontal = axis->orientation() == Qt::Horizontal;
    for (int i = 1; i < ticks.size(); ++i) {
        if (labels.at(i) == labels.at(i - 1))
            return QStringLiteral("label %1 twice").arg(labels.at(i));
        const double apart = qAbs(axis->coordToPixel(ticks.at(i)) - axis->coordToPixel(ticks.at(i - 1)));
        const double needed = horizontal
            ? (metrics.horizontalAdvance(labels.at(i)) + metrics.horizontalAdvance(labels.at(i - 1))) / 2
            : metrics.height();
        if (apart < needed)
            return QStringLiteral("labels %1 and %2 %3 pixels apart, %4 needed")
                .arg(labels.at(i - 1), labels.at(i))
                .arg(apart)
                .arg(needed);
    }
    return QString();
}

void TestDisplayWiring::form()
{
    QCOMPARE(graph()->parentWidget()->objectName(), QStringLiteral("tab"));
    QCOMPARE(map()->parentWidget()->objectName(), QStringLiteral("tab_2"));
    QCOMPARE(online()->parentWidget()->objectName(), QStringLiteral("tab_3"));
    QVERIFY(map()->text().isEmpty());
    QCOMPARE(child<QScrollBar>("mapHScroll")->orientation(), Qt::Horizontal);
    QCOMPARE(child<QScrollBar>("mapVScroll")->orientation(), Qt::Vertical);
    QCOMPARE(graph()->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(graph()->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    QCOMPARE(graph()->xAxis->ticker()->tickCount(), 10);
    // The graph is set up by its manager: a legend, and framing axes without labels.
    QVERIFY(graph()->legend->visible());
    QVERIFY(graph()->xAxis2->visible());
    QVERIFY(!graph()->xAxis2->tickLabels());

    // Without a tile server, showing the online map asks for no tile.
    const auto tiles =
        std::dynamic_pointer_cast<qmapcontrol::LayerMapAdapter>(online()->getLayer("Map"));
    QVERIFY(tiles);
    QVERIFY(tiles->getMapAdapter()->baseUrl().isEmpty());
    showWindow();
    showTab(2);
    QCOMPARE(tiles->getMapAdapter()->tileState(0, 0, 0), qmapcontrol::TileLoader::State::Missing);
}

void TestDisplayWiring::receiversInOrder()
{
    ReceiverProbe seen;
    seen.graph = graph();
    seen.online = online();
    seen.serial = QStringLiteral("0a1b2c3d4e01");
    const QString other = QStringLiteral("0a1b2c3d4e02");
    const QDateTime now = QDateTime::currentDateTime();
    probe = &seen;
    passOn = qInstallMessageHandler(probeMessage);

    // The GeoTIFF map takes the position after the graph and before the online map.
    emit m_window->newPosition(other, now, position(45.2, 6.2), QPen(Qt::blue));
    seen.seen.clear();
    emit m_window->newPosition(seen.serial, now, position(45.21, 6.22), QPen(Qt::red));
    QCOMPARE(seen.seen, QStringList{QStringLiteral("graph 1, online 0")});
    QCOMPARE(graph()->plottableCount(), 2);
    QVERIFY(online()->getLayer(seen.serial.toStdString()));
    QCOMPARE(map()->model().tracks().size(), size_t(2));

    // Deletions go the same way, and only the beacon named goes from each display.
    seen.seen.clear();
    emit m_window->beaconDelete(seen.serial);
    QCOMPARE(seen.seen, QStringList{QStringLiteral("graph 0, online 1")});
    qInstallMessageHandler(passOn);
    probe = nullptr;
    QCOMPARE(graph()->plottableCount(), 1);
    QCOMPARE(graph()->plottable(0)->name(), other);
    QVERIFY(!online()->getLayer(seen.serial.toStdString()));
    QVERIFY(online()->getLayer(other.toStdString()));
    QCOMPARE(map()->model().tracks().size(), size_t(1));
    QCOMPARE(map()->model().tracks().front().name, other);
}

void TestDisplayWiring::zoomCommands()
{
    showWindow();
    QCPAxis *x = graph()->xAxis;
    x->setRange(0, 4);
    // What the graph and the online map show when the GeoTIFF map zooms.
    QList<QPair<QCPRange, int>> atMapZoom;
    connect(map(), &GeoMapWidget::XChanged, this,
            [&]() { atMapZoom.append({x->range(), online()->zoom()}); });
    const int zoom = online()->zoom();
    const double scale = map()->scale();

    action("actionZoom_Avant")->trigger();
    QCOMPARE(x->range().lower, 1.0);
    QCOMPARE(x->range().upper, 3.0);
    QCOMPARE(online()->zoom(), zoom + 1);
    QCOMPARE(map()->scale(), scale / 0.75);
    QCOMPARE(atMapZoom.size(), 1);
    QCOMPARE(atMapZoom.at(0).first.lower, 1.0);
    QCOMPARE(atMapZoom.at(0).second, zoom + 1);
    QVERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));

    action("actionZoom_Arri_re")->trigger();
    QCOMPARE(x->range().lower, 0.0);
    QCOMPARE(x->range().upper, 4.0);
    QCOMPARE(online()->zoom(), zoom);
    QCOMPARE(atMapZoom.size(), 2);
    QCOMPARE(atMapZoom.at(1).first.upper, 4.0);
    QCOMPARE(atMapZoom.at(1).second, zoom);
    QVERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));
}

void TestDisplayWiring::equalScalesThroughResizes()
{
    showWindow();
    graph()->xAxis->setRange(6.1, 6.3);
    QVERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));
    const QSize sizes[] = {{900, 600}, {1400, 500}, {700, 900}, {1205, 740}};
    for (const QSize &size : sizes) {
        m_window->resize(size);
        QTRY_VERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));
    }
    // Dragging or wheel zooming changes either range: the other follows.
    graph()->yAxis->setRange(45.0, 45.9);
    QVERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));
    graph()->xAxis->setRange(-120.5, -119.25);
    QVERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));
}

void TestDisplayWiring::hiddenAndSqueezedGraph()
{
    QCPAxis *x = graph()->xAxis;
    QCPAxis *y = graph()->yAxis;
    const auto allFinite = [&]() {
        return finite(x->range()) && finite(y->range()) && finite(graph()->xAxis2->range())
               && finite(graph()->yAxis2->range());
    };
    const QDateTime now = QDateTime::currentDateTime();

    // Never shown: the plot has no area yet.
    emit m_window->newPosition(QStringLiteral("0a1b2c3d4e01"), now, position(45.2, 6.2), QPen());
    emit m_window->newPosition(QStringLiteral("0a1b2c3d4e01"), now, position(45.3, 6.25), QPen());
    action("actionRecadrer")->trigger();
    action("actionZoom_Avant")->trigger();
    action("actionZoom_Arri_re")->trigger();
    QMetaObject::invokeMethod(m_window, "adjustTicks");
    QVERIFY(allFinite());

    // Shown on another tab, resized, then brought forward.
    showWindow();
    showTab(2);
    m_window->resize(1000, 650);
    action("actionRecadrer")->trigger();
    action("actionZoom_Avant")->trigger();
    QVERIFY(allFinite());
    showTab(0);
    QTRY_VERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));

    // Squeezed to nothing beside the beacon list, then given room again.
    m_window->resize(m_window->minimumSizeHint().width(), 200);
    QCoreApplication::processEvents();
    QMetaObject::invokeMethod(m_window, "adjustTicks");
    action("actionZoom_Avant")->trigger();
    action("actionRecadrer")->trigger();
    QVERIFY(allFinite());
    m_window->resize(1205, 740);
    QTRY_VERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));
    QVERIFY(allFinite());
}

void TestDisplayWiring::onlineViewport()
{
    const auto expected = [this]() {
        const QSize page = tabs()->widget(2)->contentsRect().size();
        return QSizeF(page.width() - 30, page.height() - 30);
    };
    showWindow();
    showTab(2);
    QCOMPARE(online()->viewportSize(), expected());
    m_window->resize(1000, 600);
    QTRY_COMPARE(online()->viewportSize(), expected());

    // Resized while another tab shows: the viewport takes the size that tab was given.
    showTab(0);
    m_window->resize(1300, 800);
    QCoreApplication::processEvents();
    const QSize shown = tabs()->widget(0)->contentsRect().size();
    showTab(2);
    QCOMPARE(online()->viewportSize(), QSizeF(shown.width() - 30, shown.height() - 30));
}

void TestDisplayWiring::scrollBarsWithoutEcho()
{
    auto *horizontal = child<QScrollBar>("mapHScroll");
    auto *vertical = child<QScrollBar>("mapVScroll");
    showWindow();
    showTab(1);
    useMap(m_folder.filePath("map.tif"));
    const int width = map()->width();
    const int height = map()->height();
    QVERIFY(width > 0 && width < mapWidth && height > 0 && height < mapHeight);
    // Loading shows the map from its corner; the bars cover the rest of it.
    QCOMPARE(horizontal->maximum(), mapWidth - width);
    QCOMPARE(vertical->maximum(), mapHeight - height);
    QCOMPARE(horizontal->value(), 0);

    // A move of the map sets the bars and no more.
    QSignalSpy moves(map(), &GeoMapWidget::XChanged);
    emit map()->XChanged(120, 400);
    QCOMPARE(horizontal->minimum(), 0);
    QCOMPARE(horizontal->maximum(), 400);
    QCOMPARE(horizontal->value(), 120);
    QCOMPARE(map()->originX(), 0);
    emit map()->YChanged(30, 90);
    QCOMPARE(vertical->maximum(), 90);
    QCOMPARE(vertical->value(), 30);
    QCOMPARE(map()->originY(), 0);
    QVERIFY(!horizontal->signalsBlocked());
    // A bar whose signals were already blocked keeps them blocked.
    vertical->blockSignals(true);
    emit map()->YChanged(10, 90);
    QVERIFY(vertical->signalsBlocked());
    vertical->blockSignals(false);

    // The user moves the bars: the map follows, without a move coming back to the bars.
    map()->SetMapView(0, 0, 1.0, true);
    moves.clear();
    horizontal->setValue(50);
    vertical->setValue(40);
    QCOMPARE(map()->originX(), 50);
    QCOMPARE(map()->originY(), 40);
    QCOMPARE(moves.size(), 0);
    QCOMPARE(horizontal->value(), 50);

    // Zooming moves the map, and the bars follow it.
    action("actionZoom_Avant")->trigger();
    QCOMPARE(horizontal->value(), map()->originX());
    QCOMPARE(horizontal->maximum(), int(mapWidth - width / map()->scale()));
    QCOMPARE(vertical->value(), map()->originY());
    QCOMPARE(vertical->maximum(), int(mapHeight - height / map()->scale()));
}

void TestDisplayWiring::mapRedrawnAfterResizes()
{
    showWindow();
    showTab(1);
    useMap(m_folder.filePath("map.tif"));
    const QSize before = map()->pixmap(Qt::ReturnByValue).size();
    QCOMPARE(before, map()->size());

    // A burst of resizes: the picture is rebuilt once, for the last size.
    QStringList redraws;
    static QStringList *seen = nullptr;
    seen = &redraws;
    passOn = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context,
                                       const QString &message) {
        if (message == QLatin1String("Full map redraw\n"))
            seen->append(message);
        passOn(type, context, message);
    });
    m_window->resize(1000, 650);
    m_window->resize(1100, 700);
    QVERIFY(map()->size() != before);
    QTRY_COMPARE(map()->pixmap(Qt::ReturnByValue).size(), map()->size());
    qInstallMessageHandler(passOn);
    QCOMPARE(redraws.size(), 1);
}

void TestDisplayWiring::loadMap()
{
    QList<QStringList> asked;
    QString answer;
    m_window->dialogs().openFilePrompt = [&](QWidget *parent, const QString &caption,
                                             const QString &directory, const QString &filter) {
        asked.append({parent == m_window ? QStringLiteral("window") : QStringLiteral("other"),
                      caption, directory, filter});
        return answer;
    };
    QStringList errors;
    m_window->dialogs().errorBox = [&](QWidget *, const QString &title, const QString &text) {
        errors << title << text;
    };
    QStringList warnings;
    m_window->dialogs().warningBox = [&](QWidget *, const QString &title, const QString &text) {
        warnings << title << text;
    };
    // A position that came before any map.
    emit m_window->newPosition(QStringLiteral("0a1b2c3d4e01"), QDateTime::currentDateTime(),
                               position(45.25, 6.25), QPen(Qt::red));
    QVERIFY(!map()->model().tracks().front().points.front().isDrawable());

    answer = m_folder.filePath("map.tif");
    action("actionLoadMap")->trigger();
    QCOMPARE(asked.size(), 1);
    QCOMPARE(asked.at(0), (QStringList{QStringLiteral("window"), QStringLiteral("Ouvrir une carte"),
                                      QString(), QStringLiteral("GeoTIFF (*.tif *.tiff)")}));
    QVERIFY(map()->model().image().isLoaded());
    QCOMPARE(map()->model().imageSize(), QSize(mapWidth, mapHeight));
    // It is placed on the new map.
    const MapPoint placed = map()->model().tracks().front().points.front();
    QCOMPARE(placed.px, 500);
    QCOMPARE(placed.py, 400);

    // Cancelled: the map and its view stay.
    map()->ZoomUp();
    const double zoomed = map()->scale();
    answer = QString();
    action("actionLoadMap")->trigger();
    QCOMPARE(asked.size(), 2);
    QVERIFY(map()->model().image().isLoaded());
    QCOMPARE(map()->scale(), zoomed);

    QVERIFY(errors.isEmpty());
    QVERIFY(warnings.isEmpty());

    // Not a map: the user is told why, and the map, its track and the view stay.
    QFile text(m_folder.filePath("notes.tif"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a TIFF file\n");
    text.close();
    answer = text.fileName();
    QTest::ignoreMessage(QtDebugMsg, "libtiff failed to open TIFF file\n");
    action("actionLoadMap")->trigger();
    QCOMPARE(errors, (QStringList{QStringLiteral("Erreur"),
                                  QStringLiteral("La carte %1 n'a pas pu être chargée.\nCe fichier "
                                                 "n'est pas une image TIFF.")
                                      .arg(QDir::toNativeSeparators(answer))}));
    QVERIFY(map()->model().image().isLoaded());
    QCOMPARE(map()->model().imageSize(), QSize(mapWidth, mapHeight));
    QCOMPARE(map()->model().tracks().front().points.front().px, 500);
    QCOMPARE(map()->scale(), zoomed);

    // A picture without geo-referencing is shown, with a warning that no track can go on it.
    TestGeoTiff plain;
    plain.width = 40;
    plain.height = 30;
    plain.georef = TestGeoTiff::Georef::None;
    answer = m_folder.filePath("plain.tif");
    QVERIFY(plain.write(answer));
    errors.clear();
    action("actionLoadMap")->trigger();
    QVERIFY(errors.isEmpty());
    QCOMPARE(map()->model().imageSize(), QSize(40, 30));
    QCOMPARE(warnings, (QStringList{QStringLiteral("Attention"),
                                    QStringLiteral("La carte %1 n'est pas géoréférencée : les "
                                                   "positions des modules ne peuvent pas y être "
                                                   "placées.")
                                        .arg(QDir::toNativeSeparators(answer))}));
}

void TestDisplayWiring::reframe()
{
    showWindow();
    showTab(1);
    useMap(m_folder.filePath("map.tif"));
    showTab(0);
    const QDateTime now = QDateTime::currentDateTime();
    // One beacon walks east, the other north three times as far: fitting the graph's width to the
    // longitudes alone would leave latitudes out.
    const QString east = QStringLiteral("0a1b2c3d4e01");
    const QString north = QStringLiteral("0a1b2c3d4e02");
    emit m_window->newPosition(east, now, position(45.2, 6.2), QPen(Qt::red));
    emit m_window->newPosition(east, now, position(45.2, 6.3), QPen(Qt::red));
    emit m_window->newPosition(north, now, position(45.1, 6.25), QPen(Qt::blue));
    emit m_window->newPosition(north, now, position(45.4, 6.25), QPen(Qt::blue));
    // Adding points does not move the view.
    QCOMPARE(graph()->xAxis->range().lower, 0.0);

    // What the graph and the online map show when the GeoTIFF map fits itself.
    QList<QPair<QCPRange, int>> atMapFit;
    connect(map(), &GeoMapWidget::XChanged, this,
            [&]() { atMapFit.append({graph()->xAxis->range(), online()->zoom()}); });
    action("actionRecadrer")->trigger();

    const QCPRange x = graph()->xAxis->range();
    const QCPRange y = graph()->yAxis->range();
    QVERIFY(x.lower <= 6.2 + 1e-9 && x.upper >= 6.3 - 1e-9);
    QVERIFY(y.lower <= 45.1 + 1e-9 && y.upper >= 45.4 - 1e-9);
    // Tight in the direction that limits, but for a few pixels around the markers.
    QVERIFY(y.size() > 0.3 && y.size() < 0.3 * 1.1);
    QVERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));

    // The online map is centred on all positions at the closest zoom that shows them.
    QVERIFY(online()->zoom() > 8);
    QVERIFY(qAbs(online()->mapFocusPoint().longitude() - 6.25) < 1e-6);
    QVERIFY(qAbs(online()->mapFocusPoint().latitude() - 45.25) < 0.01);
    for (const QPointF &corner : {QPointF(6.2, 45.1), QPointF(6.3, 45.4)}) {
        const QPointF at = online()->toScreen(qmapcontrol::PointWorldCoord(corner.x(), corner.y()));
        QVERIFY(online()->rect().contains(at.toPoint()));
    }

    // The GeoTIFF map fits last.
    QCOMPARE(atMapFit.size(), 1);
    QCOMPARE(atMapFit.at(0).first.lower, x.lower);
    QCOMPARE(atMapFit.at(0).second, online()->zoom());
}

void TestDisplayWiring::reframeShowsEveryTrackWhole_data()
{
    QTest::addColumn<QList<QList<QPointF>>>("tracks");  // per beacon, (longitude, latitude)
    QTest::addColumn<QSize>("windowSize");
    const QSize usual(1205, 740);
    QTest::newRow("track taller than wide")
        << QList<QList<QPointF>>{{{6.20, 45.0}, {6.21, 45.15}, {6.205, 45.3}}} << usual;
    QTest::newRow("track wider than tall")
        << QList<QList<QPointF>>{{{6.0, 45.2}, {6.3, 45.21}, {6.6, 45.205}}} << usual;
    QTest::newRow("three beacons far apart")
        << QList<QList<QPointF>>{{{6.00, 45.00}, {6.04, 45.03}},
                                 {{6.90, 45.50}, {6.95, 45.52}},
                                 {{6.10, 45.90}, {6.12, 45.97}}}
        << usual;
    QTest::newRow("tall track in a narrow window")
        << QList<QList<QPointF>>{{{6.20, 45.0}, {6.21, 45.3}}} << QSize(700, 740);
    QTest::newRow("one position") << QList<QList<QPointF>>{{{6.25, 45.25}}} << usual;
}

// "Recadrer" shows every position of every track inside the graph, markers whole, at equal scale,
// and no looser than it needs to be.
void TestDisplayWiring::reframeShowsEveryTrackWhole()
{
    QFETCH(QList<QList<QPointF>>, tracks);
    QFETCH(QSize, windowSize);
    showWindow();
    m_window->resize(windowSize);
    showTab(0);
    const QDateTime now = QDateTime::currentDateTime();
    QRectF extent;
    for (int beacon = 0; beacon < tracks.size(); ++beacon) {
        for (const QPointF &p : tracks.at(beacon)) {
            emit m_window->newPosition(QStringLiteral("0a1b2c3d4e0%1").arg(beacon), now,
                                       position(p.y(), p.x()), QPen(Qt::red));
            extent = extent.isNull() ? QRectF(p, QSizeF(0, 0)) : extent.united(QRectF(p, QSizeF(0, 0)));
        }
    }

    for (int twice = 0; twice < 2; ++twice) {
        action("actionRecadrer")->trigger();
        QCoreApplication::processEvents();
        graph()->replot();
        QVERIFY2(pointOutside().isEmpty(), qPrintable(pointOutside()));
        QVERIFY2(graphMismatch().isEmpty(), qPrintable(graphMismatch()));
        QVERIFY2(labelClash(graph()->xAxis).isEmpty(), qPrintable(labelClash(graph()->xAxis)));
        QVERIFY2(labelClash(graph()->yAxis).isEmpty(), qPrintable(labelClash(graph()->yAxis)));
        // The direction that limits is filled, margins aside.
        if (extent.width() > 0 || extent.height() > 0) {
            const double filled = qMax(extent.width() / graph()->xAxis->range().size(),
                                       extent.height() / graph()->yAxis->range().size());
            QVERIFY2(filled > 0.8, qPrintable(QString::number(filled)));
        }
    }
}

// Zoomed far in and out again, the tick labels of both axes neither repeat nor run into each
// other, and both axes keep one step.
void TestDisplayWiring::tickLabelsReadableAtEveryZoom()
{
    showWindow();
    showTab(0);
    const QDateTime now = QDateTime::currentDateTime();
    emit m_window->newPosition(QStringLiteral("0a1b2c3d4e01"), now, position(45.1, 6.11044), QPen(Qt::red));
    emit m_window->newPosition(QStringLiteral("0a1b2c3d4e01"), now, position(45.4, 6.9), QPen(Qt::red));
    action("actionRecadrer")->trigger();
    for (const char *zoom : {"actionZoom_Avant", "actionZoom_Arri_re"}) {
        for (int step = 0; step < 16; ++step) {
            action(zoom)->trigger();
            graph()->replot();
            const QString where = QStringLiteral("%1 %2: ").arg(QLatin1String(zoom)).arg(step);
            QVERIFY2(labelClash(graph()->xAxis).isEmpty(), qPrintable(where + labelClash(graph()->xAxis)));
            QVERIFY2(labelClash(graph()->yAxis).isEmpty(), qPrintable(where + labelClash(graph()->yAxis)));
            QVERIFY2(graphMismatch().isEmpty(), qPrintable(where + graphMismatch()));
        }
    }
}

QTEST_MAIN(TestDisplayWiring)
#include "tst_displaywiring.moc"
