// The three displays drawn from long, dense tracks, compared with a plain drawing of every position
// (every segment and every mark, nothing left out, nothing kept from an earlier paint) at several
// zooms and sizes, with positions arriving in bursts between paints after the view was set; the
// first half of each track comes one position at a time or all at once, as a history does. The
// antialiased pictures must match everywhere but where an edge falls a pixel apart; the GeoTIFF
// map, drawn without antialiasing, must match exactly.
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "GraphManager.h"
#include "TestGeoTiff.h"
#include "XCustomPlot.h"
#include "qmapcontrol/LayerMapAdapter.h"
#include "qmapcontrol/MapAdapterOSM.h"

#include <QPainter>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <random>
#include <vector>

using namespace qmapcontrol;

namespace {

struct Position
{
    double lat; // decimal degrees
    double lon;
};
using Track = std::vector<Position>;

const QColor colours[] = {QColor(255, 104, 0), QColor(0, 83, 138), QColor(147, 170, 0)};

QString idOf(size_t track)
{
    return QStringLiteral("%1").arg(0xa0b0c0d0e000LL + qint64(track), 12, 16, QLatin1Char('0'));
}

GpsCoords coordsOf(const Position &p)
{
    const auto receptorForm = [](double degrees) {
        return std::floor(degrees) * 100 + (degrees - std::floor(degrees)) * 60;
    };
    return GpsCoords(receptorForm(p.lat), 'N', receptorForm(p.lon), 'E');
}

// Three tracks, each in an area of its own: a dense wander (many positions per pixel when all are
// in view), a wander that stands still for a long while, and one of long steps.
std::vector<Track> makeTracks()
{
    std::mt19937 random(11);
    std::normal_distribution<double> unit(0.0, 1.0);
    // Kept within 0.015 degree of its start.
    const auto reflect = [](double v, double home) {
        return std::fabs(v - home) <= 0.015 ? v : 2 * home + (v > home ? 0.03 : -0.03) - v;
    };
    const auto wander = [&](Position from, int count, double step, int stillAt, int stillFor) {
        Track track;
        Position at = from;
        for (int i = 0; i < count; ++i) {
            if (i < stillAt || i >= stillAt + stillFor) {
                at.lat = reflect(at.lat + step * unit(random), from.lat);
                at.lon = reflect(at.lon + step * unit(random), from.lon);
            }
            track.push_back(at);
        }
        return track;
    };
    return {wander({45.03, 6.03}, 4000, 0.00006, 0, 0),
            wander({45.03, 6.08}, 3000, 0.0001, 1000, 1500),
            wander({45.07, 6.05}, 400, 0.003, 0, 0)};
}

// Feeds the part of every track between fractions `from` and `to` of its length, one position of
// each track in turn, as scans do.
template <typename Feed>
void feed(const std::vector<Track> &tracks, double from, double to, Feed show)
{
    for (size_t step = 0;; ++step) {
        bool fed = false;
        for (size_t t = 0; t < tracks.size(); ++t) {
            const size_t i = size_t(tracks[t].size() * from) + step;
            if (i < size_t(tracks[t].size() * to)) {
                show(t, tracks[t][i]);
                fed = true;
            }
        }
        if (!fed)
            return;
    }
}

// Half of each track before the view is set, then the rest in bursts, painted after each.
constexpr double firstPart = 0.5;

// The first half of a track in decimal degrees (longitude, latitude), for a display to take at
// once.
QVector<QPointF> firstPartOf(const Track &track)
{
    QVector<QPointF> positions;
    for (size_t i = 0; i < size_t(track.size() * firstPart); ++i) {
        const GpsCoords coords = coordsOf(track[i]);
        positions.append(QPointF(coords.longitudeDegrees(), coords.latitudeDegrees()));
    }
    return positions;
}

// The first half of every track, one position of each in turn or each track's at once.
template <typename Feed, typename Batch>
void feedFirstPart(const std::vector<Track> &tracks, bool atOnce, Feed show, Batch showAll)
{
    if (!atOnce) {
        feed(tracks, 0, firstPart, show);
        return;
    }
    for (size_t t = 0; t < tracks.size(); ++t)
        showAll(t, firstPartOf(tracks[t]));
}
constexpr int bursts = 24;

template <typename Feed, typename Paint>
void feedInBursts(const std::vector<Track> &tracks, Feed show, Paint paint)
{
    for (int b = 0; b < bursts; ++b) {
        feed(tracks, firstPart + (1 - firstPart) * b / bursts,
             firstPart + (1 - firstPart) * (b + 1) / bursts, show);
        paint();
    }
}

// How far a pixel is from the picture without tracks, and in which direction of colour: a track's
// ink blended at any coverage over the background lies along one direction.
struct Ink
{
    int r, g, b;
    explicit Ink(QRgb c, QRgb background)
        : r(qRed(c) - qRed(background)), g(qGreen(c) - qGreen(background)),
          b(qBlue(c) - qBlue(background))
    {
    }
    int strength() const { return std::max({std::abs(r), std::abs(g), std::abs(b)}); }
    bool sameColour(const Ink &other) const
    {
        const double dot = double(r) * other.r + double(g) * other.g + double(b) * other.b;
        const double norms = std::sqrt(double(r) * r + double(g) * g + double(b) * b)
            * std::sqrt(double(other.r) * other.r + double(other.g) * other.g
                        + double(other.b) * other.b);
        return dot > 0.9 * norms;
    }
};

// The pixels (outside `ignored`) where one picture shows a track's ink that the other shows
// nowhere within a pixel, in any coverage: a line or mark missing, added, more than a pixel away or
// of another colour. Antialiased edges that fall a pixel apart, or cover a pixel more or less, or
// darken where marks overlap, differ only in coverage. The first such pixel goes to `where`.
int unmatched(const QImage &shown, const QImage &plain, const QImage &without, QString *where,
              const QRegion &ignored = QRegion())
{
    constexpr int strong = 96;
    constexpr int faint = 24;
    const QImage images[2] = {shown.convertToFormat(QImage::Format_RGB32),
                              plain.convertToFormat(QImage::Format_RGB32)};
    const QImage background = without.convertToFormat(QImage::Format_RGB32);
    if (images[0].size() != images[1].size() || images[0].size() != background.size()) {
        *where = QStringLiteral("sizes differ");
        return -1;
    }
    int count = 0;
    for (int y = 0; y < background.height(); ++y)
        for (int x = 0; x < background.width(); ++x) {
            const QPoint p(x, y);
            if (ignored.contains(p))
                continue;
            for (int side = 0; side < 2; ++side) {
                const Ink ink(images[side].pixel(p), background.pixel(p));
                if (ink.strength() <= strong)
                    continue;
                const QImage &other = images[1 - side];
                bool seen = false;
                for (int dy = -1; dy <= 1 && !seen; ++dy)
                    for (int dx = -1; dx <= 1 && !seen; ++dx) {
                        const QPoint q = p + QPoint(dx, dy);
                        if (!other.rect().contains(q))
                            continue;
                        const Ink there(other.pixel(q), background.pixel(q));
                        seen = there.strength() > faint && there.sameColour(ink);
                    }
                if (seen)
                    continue;
                if (count++ == 0)
                    *where = QStringLiteral("(%1, %2) in the %3 picture")
                                 .arg(x)
                                 .arg(y)
                                 .arg(side == 0 ? QLatin1String("shown") : QLatin1String("plain"));
            }
        }
    return count;
}

// A plot set up as the graph manager sets its plot up, with plain curves drawing every position of
// the tracks listed.
void setUpPlainPlot(QCustomPlot &plot, const std::vector<Track> &tracks,
                    const std::vector<size_t> &shown)
{
    plot.xAxis2->setVisible(true);
    plot.xAxis2->setTickLabels(false);
    plot.yAxis2->setVisible(true);
    plot.yAxis2->setTickLabels(false);
    plot.legend->setVisible(true);
    plot.setAutoAddPlottableToLegend(true);
    for (size_t t : shown) {
        auto *curve = new QCPCurve(plot.xAxis, plot.yAxis);
        curve->setPen(QPen(colours[t]));
        curve->setName(idOf(t));
        curve->setScatterStyle(
            QCPScatterStyle(QCPScatterStyle::ssCircle, colours[t], QBrush(Qt::NoBrush), 5.0));
        for (const Position &p : tracks[t]) {
            const GpsCoords coords = coordsOf(p);
            curve->addData(coords.longitudeDegrees(), coords.latitudeDegrees());
        }
    }
}

QString failure(int count, const QString &where)
{
    return QStringLiteral("%1 pixels, first %2").arg(count).arg(where);
}

void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents();
}

} // namespace

class TestTrackPictures : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_map;
    std::vector<Track> m_tracks;

private slots:
    void initTestCase();
    void comparisonSeesAMissingSegment();
    void graph_data();
    void graph();
    void geoTiffMap_data();
    void geoTiffMap();
    void onlineMap_data();
    void onlineMap();
};

void TestTrackPictures::initTestCase()
{
    m_tracks = makeTracks();
    // 6.0E 45.1N to 6.15E 45.0N, 1500 x 1000 pixels.
    QVERIFY(m_dir.isValid());
    TestGeoTiff map;
    map.width = 1500;
    map.height = 1000;
    map.placeTopLeft(6.0, 45.1, 0.0001, 0.0001);
    map.colour = [](int x, int y) {
        return ((x / 40 + y / 40) % 2) ? qRgb(236, 232, 220) : qRgb(214, 226, 206);
    };
    m_map = m_dir.filePath(QStringLiteral("map.tif"));
    QVERIFY(map.write(m_map));
}

void TestTrackPictures::comparisonSeesAMissingSegment()
{
    QImage white(200, 100, QImage::Format_RGB32);
    white.fill(Qt::white);
    const auto draw = [&](const QPolygonF &line, const QColor &colour) {
        QImage image = white;
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(colour, 1));
        p.drawPolyline(line);
        return image;
    };
    const QPolygonF line({{10, 10}, {100, 60}, {190, 20}});
    const QImage plain = draw(line, colours[0]);
    QString where;
    // The same line a third of a pixel away: its antialiased edges differ, nothing else.
    const QImage shifted = draw(line.translated(0.3, 0.3), colours[0]);
    QVERIFY(shifted != plain);
    QCOMPARE(unmatched(shifted, plain, white, &where), 0);
    // A segment missing, two pixels away, or of another colour.
    QVERIFY(unmatched(draw(line.mid(0, 2), colours[0]), plain, white, &where) > 50);
    QVERIFY(unmatched(draw(line.translated(0, 2), colours[0]), plain, white, &where) > 50);
    QVERIFY(unmatched(draw(line, colours[1]), plain, white, &where) > 50);
}

void TestTrackPictures::graph_data()
{
    QTest::addColumn<QSize>("size");
    // The view's width against the width that shows every track.
    QTest::addColumn<double>("zoom");
    QTest::addColumn<bool>("atOnce");
    for (const QSize size : {QSize(420, 300), QSize(900, 600)}) {
        const QString name = QStringLiteral("%1x%2 ").arg(size.width()).arg(size.height());
        QTest::newRow(qPrintable(name + "all")) << size << 1.0 << false;
        QTest::newRow(qPrintable(name + "zoomed")) << size << 1.0 / 6 << false;
        QTest::newRow(qPrintable(name + "close")) << size << 1.0 / 80 << false;
    }
    QTest::newRow("900x600 all, first half at once") << QSize(900, 600) << 1.0 << true;
    QTest::newRow("900x600 zoomed, first half at once") << QSize(900, 600) << 1.0 / 6 << true;
}

void TestTrackPictures::graph()
{
    QFETCH(QSize, size);
    QFETCH(double, zoom);
    QFETCH(bool, atOnce);
    XCustomPlot plot;
    plot.resize(size);
    GraphManager manager(&plot);
    const auto show = [&](size_t t, const Position &p) {
        manager.beaconMoved(idOf(t), QDateTime(), coordsOf(p), QPen(colours[t]));
    };
    feedFirstPart(m_tracks, atOnce, show, [&](size_t t, const QVector<QPointF> &positions) {
        manager.addTrack(idOf(t), positions, QPen(colours[t]));
    });
    settle();

    // Every track in view, then the view narrowed around the first track's latest position.
    plot.rescaleAxes();
    plot.replot();
    plot.yAxis->setScaleRatio(plot.xAxis, 1.0);
    const GpsCoords centre = coordsOf(m_tracks[0][size_t(m_tracks[0].size() * firstPart)]);
    plot.xAxis->setRange(centre.longitudeDegrees(), plot.xAxis->range().size() * zoom,
                         Qt::AlignCenter);
    plot.yAxis->setRange(centre.latitudeDegrees(), plot.yAxis->range().size() * zoom,
                         Qt::AlignCenter);
    plot.replot();
    plot.grab();

    feedInBursts(m_tracks, show, [&] {
        settle();
        plot.grab();
    });
    // Then, once all have come, another beacon leaves and the view moves.
    const auto compare = [&](const std::vector<size_t> &tracks) {
        const QImage shown = plot.grab().toImage();
        QCustomPlot plain;
        plain.resize(size);
        setUpPlainPlot(plain, m_tracks, tracks);
        // The same plot area: margins follow the tick labels of a plot's earlier replots.
        plain.axisRect()->setAutoMargins(QCP::msNone);
        plain.axisRect()->setMargins(plot.axisRect()->margins());
        plain.xAxis->setRange(plot.xAxis->range());
        plain.yAxis->setRange(plot.yAxis->range());
        plain.replot();
        const QImage plainImage = plain.grab().toImage();
        for (int i = 0; i < plain.plottableCount(); ++i)
            plain.plottable(i)->setVisible(false);
        plain.replot();
        // QCPCurve moves the far end of a segment that leaves the plot to a point of its own:
        // close to the edge, its line may then run a pixel or two off the true one.
        const QRect area = plain.axisRect()->rect();
        const QRegion edges =
            QRegion(area.adjusted(-3, -3, 3, 3)) - QRegion(area.adjusted(3, 3, -3, -3));
        QString where;
        const int count = unmatched(shown, plainImage, plain.grab().toImage(), &where, edges);
        QVERIFY2(count == 0, qPrintable(failure(count, where)));
    };
    compare({0, 1, 2});
    manager.beaconDeleted(idOf(1));
    plot.xAxis->moveRange(plot.xAxis->range().size() * 0.15);
    plot.replot();
    settle();
    compare({0, 2});
}

void TestTrackPictures::geoTiffMap_data()
{
    QTest::addColumn<QSize>("size");
    // Screen pixels per map pixel, and the map pixel at the top-left corner.
    QTest::addColumn<double>("scale");
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<bool>("atOnce");
    for (const QSize size : {QSize(420, 300), QSize(900, 600)}) {
        const QString name = QStringLiteral("%1x%2 ").arg(size.width()).arg(size.height());
        QTest::newRow(qPrintable(name + "whole map")) << size << 0.45 << QPoint(0, 0) << false;
        QTest::newRow(qPrintable(name + "scale 1")) << size << 1.0 << QPoint(150, 250) << false;
        QTest::newRow(qPrintable(name + "scale 4")) << size << 4.0 << QPoint(250, 600) << false;
    }
    QTest::newRow("900x600 whole map, first half at once")
        << QSize(900, 600) << 0.45 << QPoint(0, 0) << true;
    QTest::newRow("900x600 scale 4, first half at once")
        << QSize(900, 600) << 4.0 << QPoint(250, 600) << true;
}

void TestTrackPictures::geoTiffMap()
{
    QFETCH(QSize, size);
    QFETCH(double, scale);
    QFETCH(QPoint, origin);
    QFETCH(bool, atOnce);
    GeoMapWidget map;
    map.resize(size);
    QVERIFY(map.LoadMap(m_map));
    const auto show = [&](size_t t, const Position &p) {
        map.Slot_BeaconMoved(idOf(t), QDateTime(), coordsOf(p), QPen(colours[t]));
    };
    feedFirstPart(m_tracks, atOnce, show, [&](size_t t, const QVector<QPointF> &positions) {
        map.addTrack(idOf(t), positions, QPen(colours[t]));
    });
    map.SetMapView(origin.x(), origin.y(), scale, true);
    QCOMPARE(map.scale(), scale);
    // Each position refreshes the picture shown.
    feedInBursts(m_tracks, show, [] {});
    // Every circle and every line drawn, in track order, over the scaled part of the map; drawn
    // without antialiasing, in one opaque colour per track, nothing may differ at all. Then, once
    // all have come, another beacon leaves and the view moves.
    const auto plainPicture = [&] {
        const QPixmap &whole = map.model().image().pixmap();
        QPixmap plain = whole.copy(map.originX(), map.originY(), int(size.width() / scale),
                                   int(size.height() / scale));
        plain = plain.scaled(int(plain.width() * scale), int(plain.height() * scale),
                             Qt::KeepAspectRatio, Qt::FastTransformation);
        QPainter painter(&plain);
        const qint64 offX = qint64(map.originX() * scale);
        const qint64 offY = qint64(map.originY() * scale);
        const auto at = [&](const MapPoint &p) {
            return QPointF(double(qint64(p.px * scale) - offX),
                           double(qint64(p.py * scale) - offY));
        };
        for (const MapTrack &track : map.model().tracks()) {
            painter.setPen(track.pen);
            painter.setBrush(Qt::NoBrush);
            const MapPoint *previous = nullptr;
            for (const MapPoint &point : track.points) {
                if (point.isDrawable()) {
                    painter.drawEllipse(at(point), 4, 4);
                    if (previous && previous->px > 0 && previous->py > 0)
                        painter.drawLine(at(*previous), at(point));
                }
                previous = &point;
            }
        }
        const QPixmap legend = map.model().renderLegend();
        painter.fillRect(QRect(QPoint(0, 0), legend.size()), QColor(200, 200, 200, 150));
        painter.drawPixmap(0, 0, legend);
        painter.end();
        return plain.toImage();
    };
    QCOMPARE(map.pixmap(Qt::ReturnByValue).toImage(), plainPicture());
    map.Slot_BeaconDelete(idOf(1));
    QCOMPARE(int(map.model().tracks().size()), 2);
    map.SetMapView(origin.x() + 7, origin.y() + 5, scale, true);
    QCOMPARE(map.pixmap(Qt::ReturnByValue).toImage(), plainPicture());
}

void TestTrackPictures::onlineMap_data()
{
    QTest::addColumn<QSize>("size");
    // Zoom levels above the one that shows every track.
    QTest::addColumn<int>("closer");
    QTest::addColumn<bool>("atOnce");
    for (const QSize size : {QSize(420, 300), QSize(900, 600)}) {
        const QString name = QStringLiteral("%1x%2 ").arg(size.width()).arg(size.height());
        QTest::newRow(qPrintable(name + "all")) << size << 0 << false;
        QTest::newRow(qPrintable(name + "zoomed")) << size << 2 << false;
        QTest::newRow(qPrintable(name + "close")) << size << 5 << false;
    }
    QTest::newRow("900x600 all, first half at once") << QSize(900, 600) << 0 << true;
    QTest::newRow("900x600 zoomed, first half at once") << QSize(900, 600) << 2 << true;
}

void TestTrackPictures::onlineMap()
{
    QFETCH(QSize, size);
    QFETCH(int, closer);
    QFETCH(bool, atOnce);
    GpsOnlineMap map;
    map.resize(size);
    // No tile server: the tiles are stood in for by plain placeholders, the same in both pictures.
    auto tiles = std::dynamic_pointer_cast<LayerMapAdapter>(map.getLayer("Map"));
    tiles->getMapAdapter()->setCacheDirectory(QString());
    tiles->getMapAdapter()->setBaseUrl(QUrl());
    const auto show = [&](size_t t, const Position &p) {
        map.beaconMoved(idOf(t), QDateTime(), coordsOf(p), QPen(colours[t]));
    };
    feedFirstPart(m_tracks, atOnce, show, [&](size_t t, const QVector<QPointF> &positions) {
        map.addTrack(idOf(t), positions, QPen(colours[t]));
    });
    map.centerMap();
    const Position &centre = m_tracks[0][size_t(m_tracks[0].size() * firstPart)];
    map.setZoom(map.zoom() + closer);
    if (closer > 0)
        map.setMapFocusPoint(PointWorldCoord(centre.lon, centre.lat));
    map.grab();
    feedInBursts(m_tracks, show, [&] { map.grab(); });
    // The map without its tracks, then each track's line through every position and a circle on
    // every position, track after track. Then, once all have come, another beacon leaves and the
    // view moves.
    const auto compare = [&](const std::vector<size_t> &tracks) {
        const QImage shown = map.grab().toImage();
        for (size_t t : tracks)
            map.getLayer(idOf(t).toStdString())->setVisible(false);
        const QImage without = map.grab().toImage();
        for (size_t t : tracks)
            map.getLayer(idOf(t).toStdString())->setVisible(true);
        QImage plain = without;
        QPainter painter(&plain);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(Qt::NoBrush);
        for (size_t t : tracks) {
            QPolygonF line;
            for (const Position &p : m_tracks[t]) {
                const GpsCoords coords = coordsOf(p);
                line << map.toScreen(
                    PointWorldCoord(coords.longitudeDegrees(), coords.latitudeDegrees()));
            }
            painter.setPen(QPen(colours[t], 1));
            painter.drawPolyline(line);
            painter.setPen(QPen(colours[t], 2));
            for (const QPointF &at : line)
                painter.drawEllipse(at, 5.0, 5.0);
        }
        painter.end();
        // The credits are drawn over the tracks in one picture and under them in the other.
        const QRect credits(size.width() - 240, size.height() - 24, 240, 24);
        QString where;
        const int count = unmatched(shown, plain, without, &where, credits);
        QVERIFY2(count == 0, qPrintable(failure(count, where)));
    };
    compare({0, 1, 2});
    map.beaconDeleted(idOf(1));
    map.setZoom(map.zoom() - 1);
    compare({0, 2});
}

QTEST_MAIN(TestTrackPictures)
#include "tst_trackpictures.moc"
