// Cost on the window thread of one more position for 20 beacons, on the track graph and the online
// map together, at 1k, 10k, 100k and 1M positions shown. A position costs the two slots the window
// calls directly, then the graph's coalesced replot and a paint of the online map into an image
// (tiles come from PNG files written here, so no network is used). Measured with every track in
// view (after "Recadrer") and close up on one beacon.
//
// Usage: bench_track_views [largest total, default 1000000] [measured positions per step, default 20]
#include "GpsOnlineMap.h"
#include "GraphManager.h"
#include "XCustomPlot.h"
#include "qmapcontrol/LayerMapAdapter.h"
#include "qmapcontrol/MapAdapterOSM.h"
#include "qmapcontrol/Projection.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <time.h>

using namespace qmapcontrol;

namespace {

constexpr int beacons = 20;
const QSize viewSize(900, 600);

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

long long residentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atoll(line.c_str() + 6) / 1024;
    return 0;
}

// Decimal degrees to the receptor's degrees×100 + minutes.
double receptorForm(double degrees)
{
    const double whole = std::trunc(degrees);
    return whole * 100.0 + (degrees - whole) * 60.0;
}

// Each beacon walks from its own start by steps of about ten metres.
class Walks
{
public:
    Walks()
        : m_random(7), m_step(0.0, 0.0001)
    {
        for (int b = 0; b < beacons; ++b)
            m_at.push_back({45.0 + 0.02 * (b % 5), 6.0 + 0.03 * (b / 5)});
    }
    GpsCoords next(int beacon)
    {
        auto &at = m_at[size_t(beacon)];
        at.first += m_step(m_random);
        at.second += m_step(m_random);
        return GpsCoords(receptorForm(at.first), 'N', receptorForm(at.second), 'E');
    }
    double latitude(int beacon) const { return m_at[size_t(beacon)].first; }
    double longitude(int beacon) const { return m_at[size_t(beacon)].second; }

private:
    std::mt19937 m_random;
    std::normal_distribution<double> m_step;
    std::vector<std::pair<double, double>> m_at;
};

// Writes the tiles the map's view needs (one plain colour each) and waits until they are loaded.
void provideTiles(GpsOnlineMap &map, MapAdapterOSM &adapter, const QString &folder)
{
    const int zoom = map.zoom();
    const double tiles = std::ldexp(1.0, zoom);
    const QPointF topLeft = Projection::toNormalized(map.toWorld(QPointF(0, 0))) * tiles;
    const QPointF bottomRight =
        Projection::toNormalized(map.toWorld(QPointF(viewSize.width(), viewSize.height()))) * tiles;
    std::vector<QPoint> wanted;
    for (int x = int(topLeft.x()); x <= int(bottomRight.x()); ++x)
        for (int y = int(topLeft.y()); y <= int(bottomRight.y()); ++y) {
            const QString dir = QStringLiteral("%1/%2/%3").arg(folder).arg(zoom).arg(x);
            QDir().mkpath(dir);
            QImage tile(256, 256, QImage::Format_RGB32);
            tile.fill(QColor::fromHsv((x * 31 + y * 17) % 360, 40, 235));
            tile.save(QStringLiteral("%1/%2.png").arg(dir).arg(y));
            wanted.push_back(QPoint(x, y));
        }
    QImage image(viewSize, QImage::Format_ARGB32_Premultiplied);
    map.render(&image);
    for (const QPoint &tile : wanted)
        while (adapter.tileState(zoom, tile.x(), tile.y()) != TileLoader::State::Ready
               && adapter.tileState(zoom, tile.x(), tile.y()) != TileLoader::State::Failed) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            map.render(&image);
        }
}

struct Costs
{
    double slotsUs = 0;
    double replotMs = 0;
    double paintMs = 0;
    double wallMs = 0;
};

// Feeds `count` more positions one at a time and averages what each one costs.
Costs measure(int count, Walks &walks, int &beacon, GraphManager &graphManager, XCustomPlot &plot,
              GpsOnlineMap &map)
{
    QImage mapImage(viewSize, QImage::Format_ARGB32_Premultiplied);
    QImage plotImage(viewSize, QImage::Format_ARGB32_Premultiplied);
    Costs sum;
    for (int i = 0; i < count; ++i) {
        const QString id = QStringLiteral("%1").arg(beacon, 12, 16, QLatin1Char('0'));
        const GpsCoords coords = walks.next(beacon);
        const QPen pen(QColor::fromHsv(beacon * 18, 255, 200));
        beacon = (beacon + 1) % beacons;

        QElapsedTimer wall;
        wall.start();
        double t0 = threadCpuMs();
        graphManager.beaconMoved(id, QDateTime(), coords, pen);
        map.beaconMoved(id, QDateTime(), coords, pen);
        double t1 = threadCpuMs();
        // The replot the graph queued, then the graph widget's paint (it copies the plot's buffers).
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        plot.render(&plotImage);
        double t2 = threadCpuMs();
        map.render(&mapImage);
        double t3 = threadCpuMs();
        sum.wallMs += wall.nsecsElapsed() / 1e6;
        sum.slotsUs += (t1 - t0) * 1e3;
        sum.replotMs += t2 - t1;
        sum.paintMs += t3 - t2;
    }
    sum.slotsUs /= count;
    sum.replotMs /= count;
    sum.paintMs /= count;
    sum.wallMs /= count;
    return sum;
}

void report(const char *view, long long total, const Costs &c)
{
    const double perPosition = c.slotsUs / 1e3 + c.replotMs + c.paintMs;
    // In a scan, the 20 reports arrive together and share one replot and one paint.
    const double inBurst = c.slotsUs / 1e3 + (c.replotMs + c.paintMs) / beacons;
    std::printf("%-9s %9lld %10.1f %11.2f %10.2f %11.2f %12.2f %10.2f %8lld\n", view, total,
                c.slotsUs, c.replotMs, c.paintMs, perPosition, inBurst, c.wallMs, residentMiB());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const long long largest = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int measured = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;

    QTemporaryDir tileFolder;
    XCustomPlot plot;
    plot.resize(viewSize);
    GraphManager graphManager(&plot);
    plot.xAxis->ticker()->setTickCount(10);
    GpsOnlineMap map;
    map.resize(viewSize);
    map.setViewportSize(QSizeF(viewSize) - QSizeF(30, 30));
    auto tiles = std::dynamic_pointer_cast<LayerMapAdapter>(map.getLayer("Map"));
    tiles->getMapAdapter()->setCacheDirectory(QString());
    tiles->getMapAdapter()->setBaseUrl(QUrl::fromLocalFile(tileFolder.path()));

    std::printf("CPU time of the window thread per new position, %d beacons, %dx%d views\n",
                beacons, viewSize.width(), viewSize.height());
    std::printf("%-9s %9s %10s %11s %10s %11s %12s %10s %8s\n", "view", "positions", "slots_us",
                "replot_ms", "paint_ms", "alone_ms", "in_burst_ms", "wall_ms", "rss_MiB");

    Walks walks;
    int beacon = 0;
    long long total = 0;
    for (long long target = 1000; target <= largest; target *= 10) {
        // Fill up to the target without drawing.
        for (; total < target - measured; ++total) {
            const QString id = QStringLiteral("%1").arg(beacon, 12, 16, QLatin1Char('0'));
            const QPen pen(QColor::fromHsv(beacon * 18, 255, 200));
            const GpsCoords coords = walks.next(beacon);
            graphManager.beaconMoved(id, QDateTime(), coords, pen);
            map.beaconMoved(id, QDateTime(), coords, pen);
            beacon = (beacon + 1) % beacons;
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);

        // "Recadrer": every track in view.
        plot.rescaleAxes();
        plot.yAxis->setScaleRatio(plot.xAxis, 1.0);
        map.centerMap();
        plot.replot();
        provideTiles(map, *tiles->getMapAdapter(), tileFolder.path());
        const Costs all = measure(measured, walks, beacon, graphManager, plot, map);
        total += measured;
        report("all", total, all);

        // Close up on the beacon that moves next: about 200 m across.
        const double lat = walks.latitude(beacon);
        const double lon = walks.longitude(beacon);
        plot.xAxis->setRange(lon - 0.0013, lon + 0.0013);
        plot.yAxis->setScaleRatio(plot.xAxis, 1.0);
        plot.yAxis->setRange(lat, plot.yAxis->range().size(), Qt::AlignCenter);
        map.setZoom(17);
        map.setMapFocusPoint(PointWorldCoord(lon, lat));
        plot.replot();
        provideTiles(map, *tiles->getMapAdapter(), tileFolder.path());
        const Costs closeUp = measure(measured, walks, beacon, graphManager, plot, map);
        total += measured;
        report("close-up", total, closeUp);
    }
    return 0;
}
