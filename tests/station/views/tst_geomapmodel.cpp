// GeoTIFF map store: decoding, placing positions through tie point or matrix, failures, bounds and the
// render cache.
#include "GeoMapModel.h"
#include "TestGeoTiff.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
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

// The test map: 200 x 100 pixels from 139.8E 35.7N, 0.0015 degree per pixel.
constexpr double kLon0 = 139.8;
constexpr double kLat0 = 35.7;
constexpr double kStep = 0.0015;

TestGeoTiff tiePointMap()
{
    TestGeoTiff t;
    t.width = 200;
    t.height = 100;
    t.placeTopLeft(kLon0, kLat0, kStep, kStep);
    t.colour = [](int x, int y) { return qRgb(x, y, 200); };
    return t;
}

// The centre of map pixel (col, row) of the test map.
MapPoint at(double col, double row)
{
    MapPoint p;
    p.lon = kLon0 + (col + 0.5) * kStep;
    p.lat = kLat0 - (row + 0.5) * kStep;
    return p;
}

MapPoint lonLat(double lon, double lat)
{
    MapPoint p;
    p.lon = lon;
    p.lat = lat;
    return p;
}

QPoint pixelOf(const MapPoint &p)
{
    return QPoint(p.px, p.py);
}

const QRect kEmptyBounds(-1, -1, 0, 0);

} // namespace

class TestGeoMapModel : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_map;

private slots:
    void initTestCase()
    {
        // The debug lines checked here; their category is off by default.
        QLoggingCategory::setFilterRules(QStringLiteral("korvane.views.debug=true"));
        qInstallMessageHandler(captureMessage);
        QVERIFY(m_dir.isValid());
        m_map = m_dir.filePath("map.tif");
        QVERIFY(tiePointMap().write(m_map));
    }

    void init() { messages.clear(); }

    void decodesTopLeftFirstInArgb()
    {
        GeoTiffImage image;
        QVERIFY(image.load(m_map));
        QCOMPARE(messages, QStringList{"Image size : 200x100\n"});
        QCOMPARE(QSize(image.width(), image.height()), QSize(200, 100));
        const QImage pixels = image.pixmap().toImage();
        for (const QPoint p : {QPoint(0, 0), QPoint(199, 0), QPoint(17, 63), QPoint(199, 99)})
            QCOMPARE(pixels.pixel(p) & 0xFFFFFFu, qRgb(p.x(), p.y(), 200) & 0xFFFFFFu);
    }

    void keepsColoursOfSemiTransparentMaps()
    {
        TestGeoTiff t = tiePointMap();
        t.width = 4;
        t.height = 2;
        t.alpha = true;
        t.colour = [](int x, int) {
            const QRgb colours[] = {qRgba(200, 100, 50, 128), qRgba(10, 220, 90, 255),
                                    qRgba(255, 255, 255, 0), qRgba(40, 80, 160, 64)};
            return colours[x];
        };
        const QString path = m_dir.filePath("alpha.tif");
        QVERIFY(t.write(path));

        GeoTiffImage image;
        QVERIFY(image.load(path));
        const QImage pixels = image.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
        for (int x : {0, 1, 3}) {
            const QColor expected = QColor::fromRgba(t.colour(x, 0));
            const QColor actual = pixels.pixelColor(x, 1);
            QCOMPARE(actual.alpha(), expected.alpha());
            // Premultiplied 8-bit samples lose a little precision at low alpha.
            QVERIFY2(qAbs(actual.red() - expected.red()) <= 4
                         && qAbs(actual.green() - expected.green()) <= 4
                         && qAbs(actual.blue() - expected.blue()) <= 4,
                     qPrintable(actual.name(QColor::HexArgb)));
        }
        QCOMPARE(pixels.pixelColor(2, 0).alpha(), 0);
    }

    void placesPositionsThroughTiePointAndScale()
    {
        GeoMapModel model;
        // Stored before any map: no place yet.
        model.addPoint("a", at(0, 0), QPen(Qt::red));
        model.addPoint("a", at(66, 33), QPen(Qt::red));
        model.addPoint("b", at(199, 99), QPen(Qt::blue));
        for (const MapTrack &track : model.tracks()) {
            for (const MapPoint &p : track.points)
                QCOMPARE(pixelOf(p), QPoint(-1, -1));
        }
        QCOMPARE(model.bounds(), kEmptyBounds);

        QVERIFY(model.loadMap(m_map));
        QCOMPARE(model.imageSize(), QSize(200, 100));
        QCOMPARE(pixelOf(model.tracks()[0].points[0]), QPoint(0, 0));
        QCOMPARE(pixelOf(model.tracks()[0].points[1]), QPoint(66, 33));
        QCOMPARE(pixelOf(model.tracks()[1].points[0]), QPoint(199, 99));
        QCOMPARE(model.bounds(), QRect(QPoint(0, 0), QPoint(199, 99)));

        // Positions arriving with the map loaded are placed at once.
        model.addPoint("b", lonLat(139.95, 35.6), QPen(Qt::blue));
        QCOMPARE(pixelOf(model.tracks()[1].points[1]), QPoint(99, 66));
    }

    void placesPositionsThroughRotatedMatrix()
    {
        // Pixel to model: 0.001 degree per pixel, rows pointing south, turned by 30 degrees.
        const double s = 0.001;
        const double a = std::cos(M_PI / 6);
        const double b = std::sin(M_PI / 6);
        TestGeoTiff t;
        t.width = 120;
        t.height = 80;
        t.georef = TestGeoTiff::Georef::Matrix;
        const double m[16] = {s * a, s * b, 0, 5.0, s * b, -s * a, 0, 45.0, 0, 0, 0, 0, 0, 0, 0, 1};
        std::copy(m, m + 16, t.matrix);
        const QString path = m_dir.filePath("rotated.tif");
        QVERIFY(t.write(path));

        GeoMapModel model;
        QVERIFY(model.loadMap(path));
        const QPoint pixels[] = {QPoint(0, 0), QPoint(30, 70), QPoint(119, 5), QPoint(64, 41)};
        for (const QPoint p : pixels) {
            const double i = p.x() + 0.5;
            const double j = p.y() + 0.5;
            model.addPoint("r", lonLat(5.0 + s * a * i + s * b * j, 45.0 + s * b * i - s * a * j),
                           QPen(Qt::green));
        }
        const QVector<MapPoint> &points = model.tracks()[0].points;
        for (int k = 0; k < 4; ++k)
            QCOMPARE(pixelOf(points[k]), pixels[k]);
        QCOMPARE(model.bounds(), QRect(QPoint(0, 0), QPoint(119, 70)));
        QVERIFY(model.image().isGeoReferenced());
    }

    void plainTiffLoadsWithoutPlacingPositions()
    {
        TestGeoTiff t;
        t.width = 30;
        t.height = 20;
        t.georef = TestGeoTiff::Georef::None;
        const QString path = m_dir.filePath("plain.tif");
        QVERIFY(t.write(path));

        GeoMapModel model;
        model.addPoint("a", at(3, 3), QPen(Qt::red));
        QVERIFY(model.loadMap(path));
        QVERIFY(messages.contains("Image size : 30x20\n"));
        QCOMPARE(model.imageSize(), QSize(30, 20));
        model.addPoint("a", at(4, 4), QPen(Qt::red));
        for (const MapPoint &p : model.tracks()[0].points)
            QCOMPARE(pixelOf(p), QPoint(-1, -1));
        QCOMPARE(model.bounds(), kEmptyBounds);
        // Which the view tells the user.
        QVERIFY(!model.image().isGeoReferenced());
        QVERIFY(model.loadMap(m_map));
        QVERIFY(model.image().isGeoReferenced());
    }

    // A file that does not load says why, and leaves the map shown before with its positions.
    void failedLoadKeepsThePreviousMap()
    {
        const QString path = m_dir.filePath("notamap.tif");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("This is a list of beacons, not a picture.\n");
        file.close();

        GeoMapModel model;
        QVERIFY(model.loadMap(m_map));
        QCOMPARE(model.image().lastError(), GeoTiffImage::LoadError::None);
        model.addPoint("a", at(10, 10), QPen(Qt::red));
        QCOMPARE(model.bounds(), QRect(10, 10, 0, 0));
        const QImage before = model.image().pixmap().toImage();

        messages.clear();
        QVERIFY(!model.loadMap(path));
        QCOMPARE(messages, QStringList{"libtiff failed to open TIFF file\n"});
        QCOMPARE(model.image().lastError(), GeoTiffImage::LoadError::NotTiff);
        QVERIFY(model.image().isLoaded());
        QCOMPARE(model.image().pixmap().toImage(), before);
        QCOMPARE(model.imageSize(), before.size());
        QCOMPARE(pixelOf(model.tracks()[0].points[0]), QPoint(10, 10));
        QCOMPARE(model.bounds(), QRect(10, 10, 0, 0));
        // Later positions are still placed on it.
        model.addPoint("a", at(12, 14), QPen(Qt::red));
        QCOMPARE(pixelOf(model.tracks()[0].points[1]), QPoint(12, 14));

        // A file that is not there, or a folder, cannot be read at all.
        for (const QString &unreadable : {m_dir.filePath("missing.tif"), m_dir.path()}) {
            QVERIFY(!model.loadMap(unreadable));
            QCOMPARE(model.image().lastError(), GeoTiffImage::LoadError::Unreadable);
            QVERIFY(!model.image().lastErrorDetail().isEmpty());
            QVERIFY(model.image().isLoaded());
        }
        QVERIFY(model.loadMap(m_map));
        QCOMPARE(model.image().lastError(), GeoTiffImage::LoadError::None);
        QCOMPARE(pixelOf(model.tracks()[0].points[0]), QPoint(10, 10));
    }

    void unreadablePixelsFailCleanly()
    {
        TestGeoTiff t = tiePointMap();
        t.width = 8;
        t.height = 4;
        const QString path = m_dir.filePath("strips.tif");
        QVERIFY(t.write(path));
        // Point every strip past the end of the file: the directory reads, the pixels do not.
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("II"));
        const quint32 directory = qFromLittleEndian<quint32>(bytes.constData() + 4);
        const quint16 entries = qFromLittleEndian<quint16>(bytes.constData() + directory);
        bool patched = false;
        for (int i = 0; i < entries; ++i) {
            const char *entry = bytes.constData() + directory + 2 + 12 * i;
            if (qFromLittleEndian<quint16>(entry) != TIFFTAG_STRIPOFFSETS)
                continue;
            const quint32 offsets = qFromLittleEndian<quint32>(entry + 8);
            for (int strip = 0; strip < 4; ++strip)
                qToLittleEndian<quint32>(0x7FFFFF00u, bytes.data() + offsets + 4 * strip);
            patched = true;
        }
        QVERIFY(patched);
        QVERIFY(file.seek(0));
        QCOMPARE(file.write(bytes), qint64(bytes.size()));
        file.close();

        GeoMapModel model;
        model.addPoint("a", at(1, 1), QPen(Qt::red));
        QVERIFY(!model.loadMap(path));
        QCOMPARE(messages, QStringList{"Failed to read image\n"});
        QCOMPARE(model.image().lastError(), GeoTiffImage::LoadError::Damaged);
        QVERIFY(!model.image().isLoaded());
        QVERIFY(model.image().pixmap().isNull());
        QCOMPARE(pixelOf(model.tracks()[0].points[0]), QPoint(-1, -1));
    }

    void mapInNonLatin1FolderLoads()
    {
        const QString folder = m_dir.filePath(QString::fromUtf8("Cartes_東京_Ωμέγα"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + QString::fromUtf8("/région.tif");
        QVERIFY(tiePointMap().write(path));
        QVERIFY(QFile::exists(path));

        GeoMapModel model;
        QVERIFY(model.loadMap(path));
        model.addPoint("a", at(12, 34), QPen(Qt::red));
        QCOMPARE(pixelOf(model.tracks()[0].points[0]), QPoint(12, 34));
    }

    void sizesNoImageCanHoldFailCleanly_data()
    {
        QTest::addColumn<qint64>("width");
        QTest::newRow("row of 2.4 GB") << qint64(600000000);
        QTest::newRow("width beyond int") << qint64(3000000000);
    }

    void sizesNoImageCanHoldFailCleanly()
    {
        QFETCH(qint64, width);
        TestGeoTiff t = tiePointMap();
        t.width = width;
        t.height = 1;
        t.headerOnly = true;
        const QString path = m_dir.filePath("huge.tif");
        QVERIFY(t.write(path));

        GeoMapModel model;
        QVERIFY(!model.loadMap(path));
        QCOMPARE(messages, QStringList{"Failed to allocate QImage\n"});
        QCOMPARE(model.imageSize(), QSize(0, 0));
        QVERIFY(!model.image().isLoaded());
        QCOMPARE(model.image().declaredWidth(), width);
    }

    // 20000 x 20000 pixels declared by a file of a few hundred bytes: decoding it would fill
    // 1.6 GB. Refused before any pixel is read.
    void rasterBeyondAnyMapIsRefused()
    {
        TestGeoTiff t = tiePointMap();
        t.width = 20000;
        t.height = 20000;
        t.headerOnly = true;
        const QString path = m_dir.filePath("declared-huge.tif");
        QVERIFY(t.write(path));
        QVERIFY(QFileInfo(path).size() < 1024);

        GeoMapModel model;
        QVERIFY(!model.loadMap(path));
        QCOMPARE(messages, QStringList{"Failed to allocate QImage\n"});
        QCOMPARE(model.imageSize(), QSize(0, 0));
        QVERIFY(!model.image().isLoaded());
        QCOMPARE(model.image().lastError(), GeoTiffImage::LoadError::TooLarge);
        QCOMPARE(model.image().declaredWidth(), qint64(20000));
    }

    void boundsHoldPositionsInsideTheImage()
    {
        GeoMapModel model;
        QVERIFY(model.loadMap(m_map));
        model.addPoint("a", at(50, 40), QPen(Qt::red, 2));
        QCOMPARE(model.bounds(), QRect(50, 40, 0, 0));
        // Up and to the right of the first: the first one's row stays inside.
        model.addPoint("a", at(70, 20), QPen(Qt::yellow));
        QCOMPARE(model.bounds(), QRect(QPoint(50, 20), QPoint(70, 40)));
        // The pen of the first position stays the track's.
        QCOMPARE(model.tracks()[0].pen, QPen(Qt::red, 2));
        QCOMPARE(model.tracks()[0].brush, QBrush(Qt::NoBrush));

        // East of the map: stored, drawable, but not in the bounds.
        model.addPoint("b", at(260, 30), QPen(Qt::blue));
        // West of the map: not drawable.
        model.addPoint("b", at(-30, 30), QPen(Qt::blue));
        model.addPoint("c", at(10, 90), QPen(Qt::green));
        QCOMPARE(pixelOf(model.tracks()[1].points[0]), QPoint(260, 30));
        QVERIFY(model.tracks()[1].points[0].isDrawable());
        QVERIFY(!model.tracks()[1].points[1].isDrawable());
        QCOMPARE(model.bounds(), QRect(QPoint(10, 20), QPoint(70, 90)));

        model.removeTrack("c");
        QCOMPARE(model.bounds(), QRect(QPoint(50, 20), QPoint(70, 40)));
        model.removeTrack("nobody");
        QCOMPARE(model.bounds(), QRect(QPoint(50, 20), QPoint(70, 40)));
        QCOMPARE(int(model.tracks().size()), 2);
        model.removeTrack("a");
        QCOMPARE(model.bounds(), kEmptyBounds);

        // Down and to the left of the first: the first one's column stays inside.
        model.addPoint("d", at(90, 10), QPen(Qt::red));
        model.addPoint("d", at(80, 30), QPen(Qt::red));
        QCOMPARE(model.bounds(), QRect(QPoint(80, 10), QPoint(90, 30)));
        model.addPoint("d", at(80, 30), QPen(Qt::red));
        QCOMPARE(model.bounds(), QRect(QPoint(80, 10), QPoint(90, 30)));
        QCOMPARE(model.tracks()[0].name, QString("b"));
    }

    void positionsWithoutPixelAreStoredUnplaced()
    {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        GeoMapModel model;
        QVERIFY(model.loadMap(m_map));
        model.addPoint("a", lonLat(nan, nan), QPen(Qt::red));
        model.addPoint("a", lonLat(1e12, 35.6), QPen(Qt::red));
        QCOMPARE(int(model.tracks().size()), 1);
        QCOMPARE(pixelOf(model.tracks()[0].points[0]), QPoint(-1, -1));
        QCOMPARE(pixelOf(model.tracks()[0].points[1]), QPoint(-1, -1));
        QCOMPARE(model.bounds(), kEmptyBounds);
    }

    void farPositionsRenderWithoutTrouble()
    {
        GeoMapModel model;
        QVERIFY(model.loadMap(m_map));
        model.addPoint("a", at(20, 20), QPen(Qt::red, 2));
        model.addPoint("a", at(5e8, 7e8), QPen(Qt::red, 2));
        model.addPoint("a", at(30, 30), QPen(Qt::red, 2));
        QCOMPARE(pixelOf(model.tracks()[0].points[1]).x(), 500000000);
        const QImage picture = model.render(4.0, 10, 10, 160, 120).toImage();
        QCOMPARE(picture.size(), QSize(160, 120));
        // The track goes on around the far position: its last dot is drawn at (30-10) x 4 + 2.
        QCOMPARE(picture.pixelColor(82, 82), QColor(Qt::red));
    }

    void renderCacheTakesNewPositionsIncrementally_data()
    {
        QTest::addColumn<double>("scale");
        QTest::addColumn<QPoint>("origin");
        QTest::newRow("scale 1") << 1.0 << QPoint(10, 5);
        QTest::newRow("scale 2.37") << 2.37 << QPoint(33, 21);
    }

    void renderCacheTakesNewPositionsIncrementally()
    {
        QFETCH(double, scale);
        QFETCH(QPoint, origin);
        const auto fullRedraws = [] { return messages.count("Full map redraw\n"); };

        GeoMapModel model;
        QVERIFY(model.loadMap(m_map));
        model.addPoint("a", at(40, 30), QPen(Qt::red, 2));
        model.render(scale, origin.x(), origin.y(), 150, 80);
        model.render(scale, origin.x(), origin.y(), 150, 80);
        QCOMPARE(fullRedraws(), 1);

        model.addPoint("a", at(60, 45), QPen(Qt::red, 2));
        model.addPoint("b", at(55, 35), QPen(Qt::blue, 3));
        model.addPoint("b", at(0, 50), QPen(Qt::blue, 3));
        model.addPoint("b", at(65, 60), QPen(Qt::blue, 3));
        const QImage incremental = model.render(scale, origin.x(), origin.y(), 150, 80).toImage();
        QCOMPARE(fullRedraws(), 1);

        GeoMapModel fresh;
        QVERIFY(fresh.loadMap(m_map));
        for (const MapTrack &track : model.tracks()) {
            for (const MapPoint &p : track.points)
                fresh.addPoint(track.name, p, track.pen);
        }
        QCOMPARE(fresh.render(scale, origin.x(), origin.y(), 150, 80).toImage(), incremental);
        QCOMPARE(fullRedraws(), 2);

        // Any change of view, a removed track or a new map draws in full again.
        model.render(scale, origin.x() + 1, origin.y(), 150, 80);
        QCOMPARE(fullRedraws(), 3);
        model.removeTrack("b");
        model.render(scale, origin.x() + 1, origin.y(), 150, 80);
        QCOMPARE(fullRedraws(), 4);
        QVERIFY(model.loadMap(m_map));
        model.render(scale, origin.x() + 1, origin.y(), 150, 80);
        QCOMPARE(fullRedraws(), 5);
    }

    void batchesLandAsPositionsOneByOne()
    {
        const auto fullRedraws = [] { return messages.count("Full map redraw\n"); };
        QVector<MapPoint> batch;
        for (int i = 0; i < 300; ++i)
            batch.append(at(20 + (i * 7) % 90, 10 + (i * 13) % 60));
        GeoMapModel single;
        GeoMapModel batched;
        QVERIFY(single.loadMap(m_map));
        QVERIFY(batched.loadMap(m_map));
        single.render(1.5, 5, 5, 150, 80);
        batched.render(1.5, 5, 5, 150, 80);
        // Pictures after each step: single positions, and batches drawn into the cached picture or
        // (as many positions as there were) drawn anew.
        const auto compare = [&](int redrawn) {
            const int before = fullRedraws();
            const QImage drawn = batched.render(1.5, 5, 5, 150, 80).toImage();
            QCOMPARE(fullRedraws() - before, redrawn);
            QCOMPARE(drawn, single.render(1.5, 5, 5, 150, 80).toImage());
        };
        for (const MapPoint &p : batch.mid(0, 100))
            single.addPoint("a", p, QPen(Qt::red, 2));
        batched.addPoints("a", batch.mid(0, 100), QPen(Qt::red, 2));
        compare(1);
        // Later batches grow the same track; the pen of its first position stays.
        for (const MapPoint &p : batch.mid(100, 50))
            single.addPoint("a", p, QPen(Qt::red, 2));
        batched.addPoints("a", batch.mid(100, 50), QPen(Qt::blue));
        compare(0);
        for (const MapPoint &p : batch.mid(150))
            single.addPoint("a", p, QPen(Qt::red, 2));
        batched.addPoints("a", batch.mid(150), QPen(Qt::blue));
        batched.addPoints("a", {}, QPen(Qt::blue));
        compare(1);

        QCOMPARE(batched.tracks().size(), size_t(1));
        QCOMPARE(batched.tracks()[0].pen, QPen(Qt::red, 2));
        QCOMPARE(batched.tracks()[0].points.size(), 300);
        QCOMPARE(batched.tracks()[0].points[299].px, single.tracks()[0].points[299].px);
        QCOMPARE(batched.bounds(), single.bounds());
    }

    void renderWithoutAreaOrMapIsEmpty()
    {
        GeoMapModel model;
        QVERIFY(model.render(1.0, 0, 0, 300, 200).isNull());
        QVERIFY(model.loadMap(m_map));
        QVERIFY(model.render(1.0, 0, 0, 0, 0).isNull());
        QVERIFY(model.render(1.0, 0, 0, 300, 0).isNull());
        QCOMPARE(model.render(1.0, 150, 20, 300, 200).size(), QSize(50, 80));
    }

    void legendGrowsByOneLinePerTrack()
    {
        GeoMapModel model;
        QCOMPARE(model.renderLegend().size(), QSize(200, 10));
        model.addPoint("a", at(1, 1), QPen(Qt::red));
        model.addPoint("b", at(2, 2), QPen(Qt::blue));
        const QImage legend = model.renderLegend().toImage();
        QCOMPARE(legend.size(), QSize(200, 42));
        // Each line starts with a stroke of the track's pen at y = 9 + 14 i.
        QCOMPARE(legend.pixelColor(3, 9), QColor(Qt::red));
        QCOMPARE(legend.pixelColor(3, 23), QColor(Qt::blue));
        QCOMPARE(legend.pixelColor(3, 16).alpha(), 0);

        // A name longer than the legend's width widens it to the name's end.
        const QString longName = QStringLiteral("0a1b2c3d4e5f (historique), trace du matin");
        model.addPoint(longName, at(3, 3), QPen(Qt::black));
        const QImage wide = model.renderLegend().toImage();
        QCOMPARE(wide.height(), 58);
        QFont font;
        font.setPointSize(10);
        const int textEnd = 25 + QFontMetrics(font).horizontalAdvance(longName);
        QVERIFY2(wide.width() >= textEnd && wide.width() <= textEnd + 8,
                 qPrintable(QStringLiteral("%1 for %2").arg(wide.width()).arg(textEnd)));
        int inked = 0;
        for (int x = 25; x < wide.width(); ++x)
            inked = wide.pixelColor(x, 9 + 28).alpha() > 0 ? x : inked;
        QVERIFY(inked > 200);
    }
};

QTEST_MAIN(TestGeoMapModel)
#include "tst_geomapmodel.moc"
