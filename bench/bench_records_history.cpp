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
#include "BenchSupport.h"
#include "KorvaneMainWindow.h"
#include "ReceptorMetaTypes.h"
#include "RecordsFileParser.h"
#include "RecordsHistory.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QTabWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

using namespace bench;

namespace {

constexpr int rowsPerDay = 24 * 3600 / 2;

// A day of one beacon's records, as the station writes them: it wanders by steps of about ten
// metres within about three kilometres of its start.
QByteArray dayOfRecords(int beacon)
{
    std::mt19937 random(unsigned(7 + beacon));
    std::normal_distribution<double> step(0.0, 0.0001);
    const double homeLat = homeOf(beacon).y();
    const double homeLon = homeOf(beacon).x();
    QByteArray bytes = RecordsFileParser::header();
    bytes.reserve(rowsPerDay * 45);
    const QDateTime start(QDate(2026, 6, 12), QTime(0, 0), Qt::UTC);
    const QLocale c = QLocale::c();
    double lat = homeLat;
    double lon = homeLon;
    for (int i = 0; i < rowsPerDay; ++i) {
        lat = keptNear(lat + step(random), homeLat);
        lon = keptNear(lon + step(random), homeLon);
        bytes += c.toString(start.addSecs(2 * i), QStringLiteral("dd/MM/yyyy hh:mm:ss")).toLatin1();
        bytes += ';' + QByteArray::number(lat, 'f', 4) + ';' + QByteArray::number(lon, 'f', 4);
        bytes += ';' + QByteArray::number(-80 - i % 9) + ";9\r\n";
    }
    return bytes;
}
} // namespace

int main(int argc, char *argv[])
{
    // The records files go to a throw-away home folder; no tile is fetched.
    QTemporaryDir home;
    useThrowAwayHome(home.path());
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
    auto *tabs = window->findChild<QTabWidget *>(QStringLiteral("tabs"));
    showAtViewSize(*window);
    const QString mapPath = home.path() + QStringLiteral("/map.tif");
    if (!writeMap(mapPath)) {
        std::fprintf(stderr, "cannot write the map\n");
        return 1;
    }
    loadMap(*window, mapPath);
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
