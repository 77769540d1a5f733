// The station window drawn on the offscreen platform with three beacons reporting: the picture of
// each tab (graph, GeoTIFF map, online map) shows the track colours of all three beacons. The
// online map takes its tiles from a server of the test's own on 127.0.0.1. The pictures are left
// in the test's home folder.
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "KorvaneMainWindow.h"
#include "ReceptorMetaTypes.h"
#include "SilentReceptor.h"
#include "TestGeoTiff.h"
#include "TestTileServer.h"
#include "UsbAccess.h"

#include <QAction>
#include <QDir>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

namespace
{
// The first three pens the window hands out, in the order the beacons first report.
const QColor trackColours[] = {{255, 179, 0}, {128, 46, 117}, {255, 104, 0}};

// Signed decimal degrees as the receptor writes them: degrees, minutes with five decimals, then
// the hemisphere.
QString coordinateText(double degrees, int degreeDigits, QChar positive, QChar negative)
{
    const double magnitude = std::abs(degrees);
    const int whole = int(magnitude);
    return QStringLiteral("%1%2%3")
        .arg(whole, degreeDigits, 10, QLatin1Char('0'))
        .arg((magnitude - whole) * 60, 8, 'f', 5, QLatin1Char('0'))
        .arg(degrees < 0 ? negative : positive);
}

BeaconInfo report(const QString &serial, const QString &name, double latitude, double longitude)
{
    BeaconInfo info;
    info.date = QStringLiteral("010224");
    info.time = QStringLiteral("123456");
    info.name = name;
    info.serial = serial;
    info.latitude = coordinateText(latitude, 2, QLatin1Char('N'), QLatin1Char('S'));
    info.longitude = coordinateText(longitude, 3, QLatin1Char('E'), QLatin1Char('W'));
    info.memory = 40;
    info.state = 2;
    info.snr = 5;
    info.rssi = -60;
    return info;
}

// The colours of `wanted` that no pixel of the picture has.
QList<QColor> missing(const QImage &picture, QList<QColor> wanted)
{
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height() && !wanted.isEmpty(); ++y) {
        const QRgb *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            for (int i = 0; i < wanted.size(); ++i) {
                if (qRgb(qRed(row[x]), qGreen(row[x]), qBlue(row[x])) == wanted.at(i).rgb()) {
                    wanted.removeAt(i);
                    break;
                }
            }
        }
    }
    return wanted;
}

QString describe(const QList<QColor> &colours)
{
    QStringList names;
    for (const QColor &colour : colours)
        names << QStringLiteral("%1,%2,%3")
                     .arg(colour.red())
                     .arg(colour.green())
                     .arg(colour.blue());
    return names.join(QLatin1String(" / "));
}

// The colours of the tiles the server was asked for, as it sends them.
QList<QColor> tileColours(const TestTileServer &server)
{
    static const QRegularExpression tile(QStringLiteral("^/(\\d+)/(\\d+)/(\\d+)\\.png$"));
    QList<QColor> colours;
    for (const QString &path : server.paths()) {
        const QRegularExpressionMatch match = tile.match(path);
        if (match.hasMatch())
            colours << TestTileServer::tileColor(match.captured(1).toInt(),
                                                 match.captured(2).toInt(),
                                                 match.captured(3).toInt());
    }
    return colours;
}
} // namespace

class TestWindowScreenshot : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void threeBeaconsOnEveryTab();

private:
    QTemporaryDir m_folder;
    TestTileServer *m_server = nullptr;
};

void TestWindowScreenshot::initTestCase()
{
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    m_server = new TestTileServer;
    QVERIFY(m_server->isListening());
    KorvaneMainWindow::setOnlineTileServer(m_server->baseUrl());

    // 900 x 1000 pixels of pale squares from 6.1E 45.5N to 6.4E 45.0N.
    QVERIFY(m_folder.isValid());
    TestGeoTiff map;
    map.width = 900;
    map.height = 1000;
    const double tiePoint[6] = {0, 0, 0, 6.1, 45.5, 0};
    const double pixelScale[3] = {0.3 / 900, 0.5 / 1000, 0};
    std::copy(std::begin(tiePoint), std::end(tiePoint), map.tiePoint);
    std::copy(std::begin(pixelScale), std::end(pixelScale), map.pixelScale);
    map.colour = [](int x, int y) {
        return ((x / 40 + y / 40) % 2) ? qRgb(225, 232, 220) : qRgb(245, 245, 240);
    };
    QVERIFY(map.write(m_folder.filePath("map.tif")));
}

void TestWindowScreenshot::cleanupTestCase()
{
    delete m_server;
}

void TestWindowScreenshot::threeBeaconsOnEveryTab()
{
    KorvaneMainWindow window;
    window.findChild<QTimer *>("refreshTimer", Qt::FindDirectChildrenOnly)->stop();
    const QString mapPath = m_folder.filePath("map.tif");
    window.dialogs().openFilePrompt = [mapPath](QWidget *, const QString &, const QString &,
                                                const QString &) { return mapPath; };
    auto *tabs = window.findChild<QTabWidget *>("tabs");
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Every page once, so that each has its size.
    for (int index : {1, 2, 0}) {
        tabs->setCurrentIndex(index);
        QCoreApplication::processEvents();
    }

    // Reports are taken from the receptor the window holds.
    auto *receptor = new SilentReceptor;
    const ReceptorDeviceDesc held(receptor);
    receptor->release();
    QMetaObject::invokeMethod(&window, "enableReceptor", Q_ARG(ReceptorDeviceDesc, held));

    // Three beacons, four positions each, reported in turn; they take the first three pens.
    const QString serials[] = {QStringLiteral("0a1b2c3d4e01"), QStringLiteral("0a1b2c3d4e02"),
                               QStringLiteral("0a1b2c3d4e03")};
    const QString names[] = {QStringLiteral("Alpha"), QStringLiteral("Bravo"),
                             QStringLiteral("Charlie")};
    const double starts[3][2] = {{45.20, 6.18}, {45.32, 6.21}, {45.12, 6.33}};
    const double steps[3][2] = {{0.012, 0.02}, {-0.015, 0.025}, {0.02, -0.02}};
    for (int position = 0; position < 4; ++position) {
        for (int beacon = 0; beacon < 3; ++beacon) {
            const BeaconInfo info = report(serials[beacon], names[beacon],
                                           starts[beacon][0] + position * steps[beacon][0],
                                           starts[beacon][1] + position * steps[beacon][1]);
            QMetaObject::invokeMethod(&window, "beaconUpdate", Q_ARG(BeaconInfo, info));
        }
    }
    window.findChild<QAction *>("actionLoadMap")->trigger();
    QVERIFY(window.findChild<GeoMapWidget *>("map")->model().image().isLoaded());
    window.findChild<QAction *>("actionRecadrer")->trigger();

    const QList<QColor> wanted(std::begin(trackColours), std::end(trackColours));
    const QString tabNames[] = {QStringLiteral("graph"), QStringLiteral("map"),
                                QStringLiteral("online")};
    for (int index = 0; index < 3; ++index) {
        tabs->setCurrentIndex(index);
        QCoreApplication::processEvents();
        // The page alone: the beacon list beside it shows the pens' colours too.
        QWidget *page = tabs->widget(index);
        const QString file = QDir::home().filePath(tabNames[index] + QStringLiteral(".png"));
        const auto grab = [page, file]() {
            const QImage picture = page->grab().toImage();
            picture.save(file);
            return picture;
        };
        if (index == 2) {
            // Tiles come from the local server, and are drawn.
            const auto someTileShown = [&]() {
                const QList<QColor> tiles = tileColours(*m_server);
                return missing(grab(), tiles).size() < tiles.size();
            };
            QTRY_VERIFY(someTileShown());
        }
        // A page may complete its picture a moment after it shows.
        QTRY_VERIFY2(missing(grab(), wanted).isEmpty(),
                     qPrintable(tabNames[index] + QStringLiteral(" lacks ")
                                + describe(missing(grab(), wanted))));
    }
}

QTEST_MAIN(TestWindowScreenshot)
#include "tst_windowscreenshot.moc"
