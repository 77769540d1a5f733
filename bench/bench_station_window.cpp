// Cost of the station's whole report path on the window thread, for 20 beacons reporting every 2 s
// until a million positions are held: KorvaneMainWindow::beaconUpdate with its list entries,
// records tables (one of them shown), records files, and the three displays (graph, GeoTIFF map
// with a map loaded, online map with tiles served from local files), each 900 x 600.
//
// Per size and view (every track in view, or close up on one beacon) it prints the window thread's
// CPU time for one scan of 20 reports and for one report alone, each with the window's repaint
// that follows, measured with each display's tab shown in turn and the worst tab kept; the CPU time
// of a view change with the three displays drawn anew; the cost of a report without painting; and
// the growth of anonymous resident memory per position since the window was up. Then the
// start-to-window and exit times.
//
// Usage: bench_station_window [largest total, default 1000000] [scans measured per tab, default 10]
// Reports alone: 20 per tab and row, the median is kept.
#include "BenchSupport.h"
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "KorvaneMainWindow.h"
#include "MemoryTuning.h"
#include "ReceptorMetaTypes.h"
#include "SilentReceptor.h"
#include "XCustomPlot.h"
#include "qmapcontrol/LayerMapAdapter.h"
#include "qmapcontrol/MapAdapterOSM.h"
#include "qmapcontrol/Projection.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLocale>
#include <QMetaMethod>
#include <QTemporaryDir>
#include <QTabWidget>
#include <QTreeWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace bench;
using namespace qmapcontrol;

namespace {

// Private anonymous resident memory: the heap and image buffers, not the pages of mapped files.
long long residentAnonKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("RssAnon:", 0) == 0)
            return std::atoll(line.c_str() + 8);
    return 0;
}

// Each beacon wanders by steps of about ten metres, kept within about three kilometres of its
// start, as at an event that lasts all day.
class Walks
{
public:
    Walks()
        : m_random(7), m_step(0.0, 0.0001)
    {
        for (int b = 0; b < beacons; ++b) {
            const QPointF home = homeOf(b);
            m_home.push_back({home.y(), home.x()});
            m_at.push_back({home.y(), home.x()});
        }
    }
    void step(int beacon)
    {
        auto &at = m_at[size_t(beacon)];
        const auto &home = m_home[size_t(beacon)];
        at.first = keptNear(at.first + m_step(m_random), home.first);
        at.second = keptNear(at.second + m_step(m_random), home.second);
    }
    double latitude(int beacon) const { return m_at[size_t(beacon)].first; }
    double longitude(int beacon) const { return m_at[size_t(beacon)].second; }

private:
    std::mt19937 m_random;
    std::normal_distribution<double> m_step;
    std::vector<std::pair<double, double>> m_home;
    std::vector<std::pair<double, double>> m_at;
};

// Decimal degrees as the receptor writes them: degrees, minutes with five decimals, letter.
QString receptorText(double degrees, int degreeDigits, char letter)
{
    const double whole = std::floor(degrees);
    return QString::asprintf("%0*d%08.5f%c", degreeDigits, int(whole), (degrees - whole) * 60.0,
                             letter);
}

// The reports of one scan: every beacon one step further, two seconds after the previous scan.
std::vector<BeaconInfo> scanReports(Walks &walks, long long scan)
{
    static const QDateTime start(QDate(2026, 6, 12), QTime(6, 0), Qt::UTC);
    const QDateTime at = start.addSecs(2 * scan);
    // Western digits whatever the machine's locale, as the receptor sends them.
    const QLocale c = QLocale::c();
    const QString date = c.toString(at, QStringLiteral("ddMMyy"));
    const QString time = c.toString(at, QStringLiteral("hhmmss"));
    std::vector<BeaconInfo> reports;
    for (int b = 0; b < beacons; ++b) {
        walks.step(b);
        BeaconInfo info;
        info.serial = serialOf(b);
        info.name = QStringLiteral("BAL%1").arg(b, 2, 10, QLatin1Char('0'));
        info.date = date;
        info.time = time;
        info.latitude = receptorText(walks.latitude(b), 4, 'N');
        info.longitude = receptorText(walks.longitude(b), 5, 'E');
        info.state = 2;
        info.memory = 12;
        info.rssi = -80 - b;
        info.snr = 9;
        reports.push_back(info);
    }
    return reports;
}

class Station
{
public:
    Station(const QString &tileFolder)
        : m_tileFolder(tileFolder)
    {
        KorvaneMainWindow::setOnlineTileServer(QUrl::fromLocalFile(tileFolder));
        window = std::make_unique<KorvaneMainWindow>();
        graph = window->findChild<XCustomPlot *>(QStringLiteral("graph"));
        map = window->findChild<GeoMapWidget *>(QStringLiteral("map"));
        online = window->findChild<GpsOnlineMap *>(QStringLiteral("map_online"));
        list = window->findChild<QTreeWidget *>(QStringLiteral("listWidget"));
        const QMetaObject *meta = window->metaObject();
        m_beaconUpdate = meta->method(meta->indexOfSlot("beaconUpdate(BeaconInfo)"));
        showAtViewSize(*window);
        // A page is laid out when shown: each tab in turn, then back to the graph.
        tabs = window->findChild<QTabWidget *>(QStringLiteral("tabs"));
        for (int page : {1, 2, 0})
            showTab(page);
    }

    void showTab(int page)
    {
        tabs->setCurrentIndex(page);
        settle();
    }

    void report(const BeaconInfo &info)
    {
        m_beaconUpdate.invoke(window.get(), Qt::DirectConnection, Q_ARG(BeaconInfo, info));
    }

    // A receptor that is plugged in but never has news: the window holds it (so that the records
    // table of a selected beacon is shown), and its worker's scans find nothing.
    void plugQuietReceptor()
    {
        ReceptorDeviceDesc receptor(new SilentReceptor);
        // The handle took its own reference; the creator's goes.
        receptor->release();
        QMetaObject::invokeMethod(window.get(), "enableReceptor", Qt::DirectConnection,
                                  Q_ARG(ReceptorDeviceDesc, receptor));
    }

    void frameAll()
    {
        window->findChild<QAction *>(QStringLiteral("actionRecadrer"))->trigger();
    }

    // About 200 m across around a position on the graph and the online map; the GeoTIFF map at its
    // largest scale around it.
    void closeUp(double lat, double lon)
    {
        graph->xAxis->setRange(lon - 0.0013, lon + 0.0013);
        graph->yAxis->setRange(lat, graph->yAxis->range().size(), Qt::AlignCenter);
        online->setZoom(17);
        online->setMapFocusPoint(PointWorldCoord(lon, lat));
        const double scale = 4.0;
        const double px = (lon - mapWest) / mapDegreesPerPixel;
        const double py = (mapNorth - lat) / mapDegreesPerPixel;
        map->SetMapView(int(px - viewSize.width() / scale / 2),
                        int(py - viewSize.height() / scale / 2), scale, true);
    }

    // Writes the tiles the online map shows (one plain colour each), shows its tab and waits until
    // it has them.
    void provideTiles()
    {
        auto layer = std::dynamic_pointer_cast<LayerMapAdapter>(online->getLayer("Map"));
        MapAdapterOSM &adapter = *layer->getMapAdapter();
        const int zoom = online->zoom();
        const double tiles = std::ldexp(1.0, zoom);
        const QPointF topLeft = Projection::toNormalized(online->toWorld(QPointF(0, 0))) * tiles;
        const QPointF bottomRight = Projection::toNormalized(online->toWorld(
                                        QPointF(online->width(), online->height())))
            * tiles;
        const int last = int(tiles) - 1;
        std::vector<QPoint> wanted;
        for (int x = std::max(0, int(topLeft.x())); x <= std::min(last, int(bottomRight.x())); ++x)
            for (int y = std::max(0, int(topLeft.y())); y <= std::min(last, int(bottomRight.y()));
                 ++y) {
                const QString dir = QStringLiteral("%1/%2/%3").arg(m_tileFolder).arg(zoom).arg(x);
                const QString file = QStringLiteral("%1/%2.png").arg(dir).arg(y);
                if (!QFile::exists(file)) {
                    QDir().mkpath(dir);
                    QImage tile(256, 256, QImage::Format_RGB32);
                    tile.fill(QColor::fromHsv((x * 31 + y * 17) % 360, 30, 235));
                    tile.save(file);
                }
                wanted.push_back(QPoint(x, y));
            }
        showTab(onlineTab);
        for (const QPoint &tile : wanted)
            while (adapter.tileState(zoom, tile.x(), tile.y()) != TileLoader::State::Ready
                   && adapter.tileState(zoom, tile.x(), tile.y()) != TileLoader::State::Failed) {
                online->update();
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            }
        settle();
    }

    static constexpr int graphTab = 0;
    static constexpr int onlineTab = 2;
    std::unique_ptr<KorvaneMainWindow> window;
    XCustomPlot *graph = nullptr;
    GeoMapWidget *map = nullptr;
    GpsOnlineMap *online = nullptr;
    QTreeWidget *list = nullptr;
    QTabWidget *tabs = nullptr;

private:
    QString m_tileFolder;
    QMetaMethod m_beaconUpdate;
};

struct Row
{
    double scanMs = 0;
    double aloneMs = 0;
    double viewMs = 0;
    // The tab shown when a scan cost most.
    int worstTab = 0;
};

const char *const tabNames[] = {"graph", "map", "online"};

class Run
{
public:
    Run(Station &station, long long baseKiB)
        : m_station(station), m_baseKiB(baseKiB)
    {
    }

    long long total() const { return m_total; }

    // Feeds scans until `target` positions are held, the event loop running every 256 scans.
    // Returns the average CPU time per report.
    double fillTo(long long target)
    {
        double cpu = 0;
        long long reports = 0;
        while (m_total + beacons <= target) {
            const std::vector<BeaconInfo> scan = scanReports(m_walks, m_scan++);
            const double t0 = threadCpuMs();
            for (const BeaconInfo &info : scan)
                m_station.report(info);
            cpu += threadCpuMs() - t0;
            reports += beacons;
            m_total += beacons;
            // The event loop runs now and then, as it would between scans.
            if (m_scan % 256 == 0)
                settle();
        }
        settle();
        if (m_station.list->currentItem() == nullptr && m_station.list->topLevelItemCount() > 0)
            m_station.list->setCurrentItem(m_station.list->topLevelItem(0));
        return reports ? cpu * 1e3 / reports : 0.0;
    }

    // A view change with the three displays drawn anew, then, with each display's tab shown in
    // turn, scans and single reports in that view; `focus` is the beacon whose reports come alone.
    template <typename ChangeView>
    Row measure(int scans, int focus, ChangeView changeView)
    {
        Row row;
        m_station.showTab(Station::graphTab);
        const double v0 = threadCpuMs();
        changeView();
        settle();
        for (int page : {1, 2, 0})
            m_station.showTab(page);
        row.viewMs = threadCpuMs() - v0;
        m_station.provideTiles();

        for (int page = 0; page < 3; ++page) {
            m_station.showTab(page);
            // The first scan after a tab is shown catches up with what the tab missed.
            scan(m_scan++, -1);
            std::vector<double> scanMs;
            for (int i = 0; i < scans; ++i)
                scanMs.push_back(scan(m_scan++, -1));
            std::vector<double> aloneMs;
            for (int i = 0; i < beacons; ++i)
                aloneMs.push_back(scan(m_scan++, focus));
            if (median(scanMs) > row.scanMs) {
                row.scanMs = median(scanMs);
                row.worstTab = page;
            }
            row.aloneMs = std::max(row.aloneMs, median(aloneMs));
        }
        return row;
    }

    // The reports of one scan (or only the one of beacon `alone`) and the event loop's work after
    // them; returns its CPU time.
    double scan(long long number, int alone)
    {
        const std::vector<BeaconInfo> reports = scanReports(m_walks, number);
        const double t0 = threadCpuMs();
        if (alone >= 0) {
            m_station.report(reports[size_t(alone)]);
            m_total += 1;
        } else {
            for (const BeaconInfo &info : reports)
                m_station.report(info);
            m_total += beacons;
        }
        settle();
        return threadCpuMs() - t0;
    }

    double bytesPerPosition() const
    {
        return double(residentAnonKiB() - m_baseKiB) * 1024.0 / double(m_total);
    }

    Walks &walks() { return m_walks; }

private:
    Station &m_station;
    long long m_baseKiB;
    Walks m_walks;
    long long m_scan = 0;
    long long m_total = 0;
};

void printRow(const char *view, long long total, const Row &row, double reportUs,
              double bytesPerPosition)
{
    std::printf("%-9s %9lld %9.2f %9.2f %-9s %9.1f %10.1f %19.0f\n", view, total, row.scanMs,
                row.aloneMs, tabNames[row.worstTab], row.viewMs, reportUs, bytesPerPosition);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    const double startCpu = threadCpuMs();
    QElapsedTimer startWall;
    startWall.start();
    // As the station's main does.
    keepLargeBlocksMapped();

    // The records files and the tile cache go to a throw-away home folder.
    QTemporaryDir home;
    useThrowAwayHome(home.path());
    registerReceptorMetaTypes();
    QApplication app(argc, argv);
    const long long largest = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const int scans = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    const QString tileFolder = home.path() + QStringLiteral("/tiles");
    auto station = std::make_unique<Station>(tileFolder);
    const double startMs = threadCpuMs() - startCpu;
    const double startWallMs = startWall.nsecsElapsed() / 1e6;

    const QString mapPath = home.path() + QStringLiteral("/map.tif");
    if (!writeMap(mapPath)) {
        std::fprintf(stderr, "cannot write the map\n");
        return 1;
    }
    loadMap(*station->window, mapPath);
    station->plugQuietReceptor();
    station->frameAll();
    settle();
    station->provideTiles();
    settle();
    const long long baseKiB = residentAnonKiB();

    std::printf("Window-thread CPU per scan of %d reports and per report alone, displays %dx%d "
                "(graph %dx%d, GeoTIFF %dx%d, online %dx%d)\n",
                beacons, viewSize.width(), viewSize.height(), station->graph->width(),
                station->graph->height(), station->map->width(), station->map->height(),
                station->online->width(), station->online->height());
    std::printf("%-9s %9s %9s %9s %-9s %9s %10s %19s\n", "view", "positions", "scan_ms", "alone_ms",
                "worst_tab", "view_ms", "report_us", "bytes_per_position");

    Run run(*station, baseKiB);
    // Each row adds, for each tab, a first scan, its scans and as many reports alone as there are
    // beacons.
    const long long measuredPerRow = 3 * beacons * (scans + 2);
    for (long long target = 1000; target <= largest; target *= 10) {
        // The close-up rows come right after the others, the positions of one row later.
        const double reportUs = run.fillTo(target - measuredPerRow);
        const int focus = int(run.total() / beacons) % beacons;

        const Row all = run.measure(scans, focus, [&] { station->frameAll(); });
        printRow("all", run.total(), all, reportUs, run.bytesPerPosition());

        const double lat = run.walks().latitude(focus);
        const double lon = run.walks().longitude(focus);
        const Row close = run.measure(scans, focus, [&] { station->closeUp(lat, lon); });
        printRow("close-up", run.total(), close, reportUs, run.bytesPerPosition());
    }

    const double exitCpu = threadCpuMs();
    QElapsedTimer exitWall;
    exitWall.start();
    station.reset();
    std::printf("\nstart to window shown: %.0f ms CPU (%.0f ms wall); exit with %lld positions: "
                "%.0f ms CPU (%.0f ms wall)\n",
                startMs, startWallMs, run.total(), threadCpuMs() - exitCpu,
                exitWall.nsecsElapsed() / 1e6);
    return 0;
}
