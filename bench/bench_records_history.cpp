// Cost of bringing a day of records back: the records file of a beacon that reported every 2 s for
// 24 hours (43,200 rows) read and parsed, and the station window's "Historique" command with such
// files, from the command to the window repainted: reading, the three displays taking each track at
// once (graph, GeoTIFF map with a map loaded, online map, each about 900 x 600), the reframing that
// follows, and the repaint with each display's tab shown in turn.
//
// Prints the medians of the rounds: CPU time of parsing the bytes alone, of reading the file (open,
// read, parse), and of the whole command for 1 and for 20 beacons, per tab shown.
//
// Usage: bench_records_history [rounds, default 9]
#include "GeoMapWidget.h"
#include "GpsOnlineMap.h"
#include "KorvaneMainWindow.h"
#include "ReceptorMetaTypes.h"
#include "RecordsFileParser.h"
#include "RecordsHistory.h"
#include "XCustomPlot.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>

#include <geotiffio.h>
#include <xtiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include <time.h>

namespace {

constexpr int rowsPerDay = 24 * 3600 / 2;
constexpr int beacons = 20;
const QSize viewSize(900, 600);

// The map: 0.5 degree square at 6000 pixels per degree, around the beacons' area.
constexpr double mapWest = 5.8;
constexpr double mapNorth = 45.3;
constexpr double mapDegreesPerPixel = 1.0 / 6000.0;
constexpr int mapSide = 3000;

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

QString serialOf(int beacon)
{
    return QStringLiteral("%1").arg(0xa0b0c0d0e000LL + beacon, 12, 16, QLatin1Char('0'));
}

// A day of one beacon's records, as the station writes them: it wanders by steps of about ten
// metres within about three kilometres of its start.
QByteArray dayOfRecords(int beacon)
{
    std::mt19937 random(unsigned(7 + beacon));
    std::normal_distribution<double> step(0.0, 0.0001);
    const double homeLat = 45.0 + 0.02 * (beacon % 5);
    const double homeLon = 6.0 + 0.03 * (beacon / 5);
    const auto reflect = [](double v, double home) {
        constexpr double reach = 0.025;
        return v > home + reach ? 2 * (home + reach) - v
                                : v < home - reach ? 2 * (home - reach) - v : v;
    };
    QByteArray bytes = RecordsFileParser::header();
    bytes.reserve(rowsPerDay * 45);
    const QDateTime start(QDate(2026, 6, 12), QTime(0, 0), Qt::UTC);
    const QLocale c = QLocale::c();
    double lat = homeLat;
    double lon = homeLon;
    for (int i = 0; i < rowsPerDay; ++i) {
        lat = reflect(lat + step(random), homeLat);
        lon = reflect(lon + step(random), homeLon);
        bytes += c.toString(start.addSecs(2 * i), QStringLiteral("dd/MM/yyyy hh:mm:ss")).toLatin1();
        bytes += ';' + QByteArray::number(lat, 'f', 4) + ';' + QByteArray::number(lon, 'f', 4);
        bytes += ';' + QByteArray::number(-80 - i % 9) + ";9\r\n";
    }
    return bytes;
}

bool writeMap(const QString &path)
{
    TIFF *tif = XTIFFOpen(QFile::encodeName(path).constData(), "w");
    if (!tif)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(mapSide));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(mapSide));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    const double tiePoint[6] = {0, 0, 0, mapWest, mapNorth, 0};
    const double pixelScale[3] = {mapDegreesPerPixel, mapDegreesPerPixel, 0};
    TIFFSetField(tif, TIFFTAG_GEOTIEPOINTS, 6, tiePoint);
    TIFFSetField(tif, TIFFTAG_GEOPIXELSCALE, 3, pixelScale);
    GTIF *gtif = GTIFNew(tif);
    GTIFKeySet(gtif, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeGeographic);
    GTIFKeySet(gtif, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
    GTIFKeySet(gtif, GeographicTypeGeoKey, TYPE_SHORT, 1, GCS_WGS_84);
    GTIFWriteKeys(gtif);
    GTIFFree(gtif);
    std::vector<unsigned char> row(size_t(mapSide) * 3);
    bool ok = true;
    for (int y = 0; y < mapSide && ok; ++y) {
        for (int x = 0; x < mapSide; ++x) {
            const bool light = ((x / 100 + y / 100) % 2) != 0;
            row[size_t(x) * 3] = light ? 236 : 214;
            row[size_t(x) * 3 + 1] = light ? 232 : 226;
            row[size_t(x) * 3 + 2] = light ? 220 : 206;
        }
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    XTIFFClose(tif);
    return ok;
}

// What the event loop runs after the command: the coalesced replots and the window's repaint.
void settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char *argv[])
{
    // The records files go to a throw-away home folder; no tile is fetched.
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + QStringLiteral("/.cache")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/.local/share")));
    QDir(home.path()).mkdir(QStringLiteral("run"));
    QFile(home.path() + QStringLiteral("/run")).setPermissions(QFileDevice::ReadOwner
                                                              | QFileDevice::WriteOwner
                                                              | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.path() + QStringLiteral("/run")));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "*.debug=false");
    registerReceptorMetaTypes();
    QApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;

    QStringList files;
    for (int b = 0; b < beacons; ++b) {
        const QString path = home.path() + QStringLiteral("/%1_BAL%2.csv").arg(serialOf(b)).arg(b);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(dayOfRecords(b)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return 1;
        }
        files << path;
    }

    // The file alone: its bytes parsed, then read and parsed.
    QFile first(files.first());
    first.open(QIODevice::ReadOnly);
    const QByteArray bytes = first.readAll();
    std::vector<double> parseMs;
    std::vector<double> readMs;
    std::vector<double> readWallMs;
    size_t rows = 0;
    for (int r = 0; r < rounds; ++r) {
        double t0 = threadCpuMs();
        rows = RecordsFileParser::parse(bytes).rows.size();
        parseMs.push_back(threadCpuMs() - t0);
        QElapsedTimer wall;
        wall.start();
        t0 = threadCpuMs();
        const RecordsHistory::Result result = RecordsHistory::read({files.first()});
        readMs.push_back(threadCpuMs() - t0);
        readWallMs.push_back(wall.nsecsElapsed() / 1e6);
        if (result.tracks.size() != 1 || result.tracks.front().rows.size() != rows)
            return 1;
    }
    std::printf("A day of one beacon: %zu rows, %d bytes\n", rows, bytes.size());
    std::printf("  parse the bytes:          %7.1f ms CPU\n", median(parseMs));
    std::printf("  read the file and parse:  %7.1f ms CPU, %7.1f ms wall\n", median(readMs),
                median(readWallMs));

    // The window, its displays the size of bench_station_window's, with a map loaded.
    KorvaneMainWindow::setOnlineTileServer(QUrl());
    auto window = std::make_unique<KorvaneMainWindow>();
    auto *graph = window->findChild<XCustomPlot *>(QStringLiteral("graph"));
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabs"));
    window->show();
    settle();
    window->resize(window->size() + viewSize - graph->size());
    settle();
    const QString mapPath = home.path() + QStringLiteral("/map.tif");
    if (!writeMap(mapPath)) {
        std::fprintf(stderr, "cannot write the map\n");
        return 1;
    }
    window->dialogs().openFilePrompt = [mapPath](QWidget *, const QString &, const QString &,
                                                 const QString &) { return mapPath; };
    window->findChild<QAction *>(QStringLiteral("actionLoadMap"))->trigger();
    QAction *history = window->findChild<QAction *>(QStringLiteral("actionHistorique"));

    std::printf("The \"Historique\" command, to the window repainted (CPU ms, window thread)\n");
    std::printf("%-8s %9s %9s %9s %9s\n", "beacons", "positions", "graph", "map", "online");
    for (const int count : {1, beacons}) {
        const QStringList chosen = files.mid(0, count);
        window->dialogs().openFilesPrompt = [chosen](QWidget *, const QString &, const QString &,
                                                     const QStringList &,
                                                     const QString &) { return chosen; };
        double perTab[3];
        for (int tab = 0; tab < 3; ++tab) {
            tabs->setCurrentIndex(tab);
            settle();
            std::vector<double> ms;
            for (int r = 0; r < rounds; ++r) {
                const double t0 = threadCpuMs();
                // Each load replaces the one before.
                history->trigger();
                settle();
                window->repaint();
                ms.push_back(threadCpuMs() - t0);
            }
            perTab[tab] = median(ms);
        }
        std::printf("%-8d %9zu %9.1f %9.1f %9.1f\n", count, rows * size_t(count), perTab[0],
                    perTab[1], perTab[2]);
    }
    return 0;
}
