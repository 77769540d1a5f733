// GeoTIFF map view: scale and origin arithmetic (zoom, fit, clamping, drag, wheel), scroll-bar
// signals, the render cache seen through refreshes, the legend box and a widget without area.
#include "GeoMapWidget.h"
#include "TestGeoTiff.h"

#include <QApplication>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QLoggingCategory>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

QStringList messages;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    messages << message;
}

int fullRedraws()
{
    return messages.count("Full map redraw\n");
}

int refreshes()
{
    return int(std::count_if(messages.begin(), messages.end(),
                             [](const QString &m) { return m.startsWith("Refresh in "); }));
}

// The test map: 400 x 300 black pixels from 10E 50N, 0.01 degree per pixel.
GpsCoords coordsOfPixel(int col, int row)
{
    const double lon = 10.0 + (col + 0.5) * 0.01;
    const double lat = 50.0 - (row + 0.5) * 0.01;
    // Degrees to the receptor's degrees x 100 + minutes.
    const auto ddmm = [](double deg) { return std::floor(deg) * 100 + (deg - std::floor(deg)) * 60; };
    return GpsCoords(ddmm(lat), 'N', ddmm(lon), 'E');
}

void sendMouse(QWidget &w, QEvent::Type type, QPoint pos)
{
    QMouseEvent event(type, pos, w.mapToGlobal(pos), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void sendWheel(QWidget &w, QPoint pos, int delta)
{
    QWheelEvent event(pos, w.mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
}

QRgb pictureAt(const GeoMapWidget &w, int x, int y)
{
    return w.pixmap(Qt::ReturnByValue).toImage().pixel(x, y);
}

} // namespace

class TestGeoMapWidget : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_map;

    // A widget of the given size (never shown, as in a tab not yet opened) with the test map.
    void setUpWidget(GeoMapWidget &w, QSize size)
    {
        w.resize(size);
        QVERIFY(w.LoadMap(m_map));
        messages.clear();
    }

private slots:
    void initTestCase()
    {
        // The debug lines checked here; their category is off by default.
        QLoggingCategory::setFilterRules(QStringLiteral("korvane.views.debug=true"));
        qInstallMessageHandler(captureMessage);
        QVERIFY(m_dir.isValid());
        TestGeoTiff t;
        t.width = 400;
        t.height = 300;
        t.placeTopLeft(10.0, 50.0, 0.01, 0.01);
        m_map = m_dir.filePath("map.tif");
        QVERIFY(t.write(m_map));
    }

    void init() { messages.clear(); }

    void zoomUpStopsBelowFour()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(100, 50));
        const double expected[] = {1 / 0.75, 1 / 0.5625, 1 / 0.421875, 1 / 0.31640625};
        for (double scale : expected) {
            w.ZoomUp();
            QVERIFY(qFuzzyCompare(w.scale(), scale));
        }
        const QPoint origin(w.originX(), w.originY());
        QSignalSpy xSpy(&w, &GeoMapWidget::XChanged);
        w.ZoomUp();
        QVERIFY(qFuzzyCompare(w.scale(), expected[3]));
        QCOMPARE(QPoint(w.originX(), w.originY()), origin);
        // The refused step reports the scroll range of the scale still in force.
        QCOMPARE(xSpy.count(), 1);
        QCOMPARE(xSpy[0][1].toInt(), int(400 - 100 / expected[3]));
    }

    void zoomOutOfAFittingMapKeepsScaleAndResetsOrigin()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(500, 400));
        QSignalSpy xSpy(&w, &GeoMapWidget::XChanged);
        QSignalSpy ySpy(&w, &GeoMapWidget::YChanged);
        w.ZoomDown();
        QCOMPARE(w.scale(), 1.0);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(0, 0));
        // Maxima from the image width and height, negative since the map is smaller.
        QCOMPARE(xSpy.takeFirst(), (QVariantList{0, -100}));
        QCOMPARE(ySpy.takeFirst(), (QVariantList{0, -100}));

        // A map larger than the widget may shrink.
        w.resize(100, 50);
        w.SetMapView(60, 30, 2.0);
        w.ZoomDown();
        QCOMPARE(w.scale(), 1.5);
    }

    void viewIsClampedToTheMap()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(100, 50));
        QSignalSpy xSpy(&w, &GeoMapWidget::XChanged);
        QSignalSpy ySpy(&w, &GeoMapWidget::YChanged);
        w.SetMapView(1000, 1000, 1.0);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(300, 250));
        QCOMPARE(xSpy.takeFirst(), (QVariantList{300, 300}));
        QCOMPARE(ySpy.takeFirst(), (QVariantList{250, 250}));
        w.SetMapView(1000, 1000, 2.0);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(350, 275));
        w.SetMapView(-5, -7, 2.0);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(0, 0));

        // A new map shows its top-left corner at scale 1.
        w.SetMapView(120, 40, 3.0);
        QVERIFY(w.LoadMap(m_map));
        QCOMPARE(w.scale(), 1.0);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(0, 0));
    }

    void scrollBarMovesDoNotEcho()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(100, 50));
        QSignalSpy xSpy(&w, &GeoMapWidget::XChanged);
        QSignalSpy ySpy(&w, &GeoMapWidget::YChanged);
        w.SetXPosition(120);
        w.SetYPosition(80);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(120, 80));
        w.SetXPosition(5000);
        QCOMPARE(w.originX(), 300);
        QCOMPARE(xSpy.count(), 0);
        QCOMPARE(ySpy.count(), 0);
    }

    void wheelKeepsTheMapPixelUnderThePointer()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(100, 50));
        w.SetMapView(40, 20, 1.0);
        const QPoint pointer(30, 10);
        // Anchor and origin are whole map pixels: each step may slip by a little over one.
        for (int delta : {120, 120, 120, -120, -120, 0}) {
            const double featureX = w.originX() + pointer.x() / w.scale();
            const double featureY = w.originY() + pointer.y() / w.scale();
            sendWheel(w, pointer, delta);
            QVERIFY(std::fabs(w.originX() + pointer.x() / w.scale() - featureX) <= 1.25);
            QVERIFY(std::fabs(w.originY() + pointer.y() / w.scale() - featureY) <= 1.25);
        }
        // Three steps in, two out and a zero delta, which zooms out too.
        QVERIFY(qFuzzyCompare(w.scale(), 1.0));
    }

    void dragMovesByScreenDistanceOverScale()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(100, 50));
        w.SetMapView(60, 30, 2.0);
        sendMouse(w, QEvent::MouseMove, QPoint(50, 10));
        QCOMPARE(w.originX(), 60);

        sendMouse(w, QEvent::MouseButtonPress, QPoint(10, 10));
        sendMouse(w, QEvent::MouseMove, QPoint(30, 10));
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(50, 30));
        sendMouse(w, QEvent::MouseMove, QPoint(30, 16));
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(50, 27));
        sendMouse(w, QEvent::MouseMove, QPoint(300, 16));
        QCOMPARE(w.originX(), 0);
        sendMouse(w, QEvent::MouseButtonRelease, QPoint(300, 16));
        sendMouse(w, QEvent::MouseMove, QPoint(10, 16));
        QCOMPARE(w.originX(), 0);
    }

    void zoomFitFramesAllPositions()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(128, 64));
        // Nothing to fit: the view stays.
        w.SetMapView(10, 10, 1.0);
        w.ZoomFit();
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(10, 10));

        // One position asks for a scale of about 5: refused.
        w.Slot_BeaconMoved("a", QDateTime(), coordsOfPixel(40, 50), QPen(Qt::red));
        w.ZoomFit();
        QCOMPARE(w.scale(), 1.0);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(10, 10));

        // Bounds 232 x 101 plus margins 12 and 6: 256 x 113, so scale 0.5 and a 256 x 128 window.
        w.Slot_BeaconMoved("b", QDateTime(), coordsOfPixel(271, 150), QPen(Qt::blue));
        QSignalSpy xSpy(&w, &GeoMapWidget::XChanged);
        QSignalSpy ySpy(&w, &GeoMapWidget::YChanged);
        w.ZoomFit();
        QCOMPARE(w.scale(), 0.5);
        QCOMPARE(QPoint(w.originX(), w.originY()), QPoint(28, 37));
        QCOMPARE(xSpy.takeFirst(), (QVariantList{28, 144}));
        QCOMPARE(ySpy.takeFirst(), (QVariantList{37, 172}));
    }

    void refreshesReuseTheCachedPicture()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(300, 200));
        w.SetXPosition(10);
        const QRgb box = pictureAt(w, 199, 5);
        w.RefreshMap();
        w.RefreshMap();
        QCOMPARE(fullRedraws(), 1);
        QCOMPARE(refreshes(), 3);
        // The legend box is painted on a copy: the cached picture never gets it twice.
        QCOMPARE(pictureAt(w, 199, 5), box);

        w.Slot_BeaconMoved("a", QDateTime(), coordsOfPixel(150, 100), QPen(Qt::red, 2));
        QCOMPARE(fullRedraws(), 1);
        QCOMPARE(QColor(pictureAt(w, 144, 100)), QColor(Qt::red));

        w.Slot_BeaconDelete("a");
        QCOMPARE(fullRedraws(), 2);
        QCOMPARE(QColor(pictureAt(w, 144, 100)), QColor(Qt::black));
    }

    void legendBoxGrowsPerBeacon()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(300, 200));
        w.RefreshMap();
        const QRgb grey = pictureAt(w, 199, 9);
        QVERIFY(grey != qRgb(0, 0, 0));
        QCOMPARE(pictureAt(w, 199, 10), qRgb(0, 0, 0));
        QCOMPARE(pictureAt(w, 200, 5), qRgb(0, 0, 0));

        w.Slot_BeaconMoved("a", QDateTime(), coordsOfPixel(250, 150), QPen(Qt::red));
        QCOMPARE(pictureAt(w, 199, 25), grey);
        QCOMPARE(pictureAt(w, 199, 26), qRgb(0, 0, 0));
        w.Slot_BeaconMoved("b", QDateTime(), coordsOfPixel(260, 150), QPen(Qt::blue));
        QCOMPARE(pictureAt(w, 199, 41), grey);
        QCOMPARE(pictureAt(w, 199, 42), qRgb(0, 0, 0));
        // A second position of a known beacon adds no line.
        w.Slot_BeaconMoved("a", QDateTime(), coordsOfPixel(255, 150), QPen(Qt::red));
        QCOMPARE(pictureAt(w, 199, 42), qRgb(0, 0, 0));
    }

    void positionWithoutFixStillMakesATrack()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        GeoMapWidget w;
        setUpWidget(w, QSize(300, 200));
        w.Slot_BeaconMoved("a", QDateTime(), GpsCoords(nan, 'N', nan, 'E'), QPen(Qt::red));
        QCOMPARE(int(w.model().tracks().size()), 1);
        QVERIFY(!w.model().tracks()[0].points[0].isDrawable());
        QCOMPARE(pictureAt(w, 199, 25), pictureAt(w, 199, 9));
    }

    void widgetWithoutAreaKeepsAUsableView()
    {
        GeoMapWidget w;
        w.resize(0, 0);
        QSignalSpy xSpy(&w, &GeoMapWidget::XChanged);
        QSignalSpy ySpy(&w, &GeoMapWidget::YChanged);
        QVERIFY(w.LoadMap(m_map));
        w.Slot_BeaconMoved("a", QDateTime(), coordsOfPixel(40, 50), QPen(Qt::red));
        w.Slot_BeaconMoved("a", QDateTime(), coordsOfPixel(271, 150), QPen(Qt::red));
        w.ZoomFit();
        for (int i = 0; i < 5; ++i)
            w.ZoomDown();
        w.Zoom(-1, -1, 0.0);
        w.SetMapView(0, 0, std::numeric_limits<double>::infinity());
        w.SetMapView(0, 0, std::numeric_limits<double>::quiet_NaN());
        sendWheel(w, QPoint(0, 0), -120);
        QCOMPARE(w.scale(), 1.0);

        w.ZoomUp();
        QVERIFY(qFuzzyCompare(w.scale(), 1 / 0.75));
        QVERIFY(xSpy.count() >= 2);
        for (const QList<QVariant> &args : xSpy)
            QCOMPARE(args[1].toInt(), 400);
        for (const QList<QVariant> &args : ySpy)
            QCOMPARE(args[1].toInt(), 300);
        // No picture, and no copy of the whole map for it.
        QVERIFY(w.pixmap(Qt::ReturnByValue).isNull());

        // Once the tab is shown the view works as usual.
        w.resize(128, 64);
        w.ZoomFit();
        QCOMPARE(w.scale(), 0.5);
    }

    void resizesAreCollapsedIntoOneRefresh()
    {
        GeoMapWidget w;
        setUpWidget(w, QSize(100, 50));
        for (int width : {120, 160, 200}) {
            w.resize(width, 80);
            QResizeEvent event(QSize(width, 80), QSize());
            QApplication::sendEvent(&w, &event);
        }
        QCOMPARE(refreshes(), 0);
        QTRY_COMPARE(refreshes(), 1);
        QCOMPARE(w.pixmap(Qt::ReturnByValue).size(), QSize(200, 80));
    }
};

QTEST_MAIN(TestGeoMapWidget)
#include "tst_geomapwidget.moc"
