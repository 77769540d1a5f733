// Loading a large GeoTIFF map: GeoTiffImage::load (decode into the map image, byte-order conversion,
// hand-over to the pixmap) side by side with a bare TIFFRGBAImageGet into one preallocated buffer,
// on the same file written here. Reports the time, the peak private (anonymous) memory against the
// decoded image size, and the pages of the memory-mapped file separately.
//
// Usage: bench_geotiff_load [side in pixels, default 12000] [rounds, default 3] [folder]
#include "GeoTiffImage.h"
#include "TestGeoTiff.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <tiffio.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

// CPU time of the calling thread: steadier than wall time on a busy machine.
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Residency
{
    long long anonKiB = 0; // private anonymous pages: heap, image buffers
    long long fileKiB = 0; // file-backed pages, among them the memory-mapped map file
};

Residency readResidency()
{
    Residency r;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("RssAnon:", 0) == 0)
            r.anonKiB = std::atoll(line.c_str() + 8);
        else if (line.rfind("RssFile:", 0) == 0)
            r.fileKiB = std::atoll(line.c_str() + 8);
    }
    return r;
}

long long readPeakRssKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atoll(line.c_str() + 6);
    }
    return 0;
}

void resetPeakRss()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

// Samples the process's residency every millisecond while a phase runs and keeps the highest values.
class PeakSampler
{
public:
    PeakSampler()
        : m_base(readResidency())
        , m_thread([this] { run(); })
    {
        resetPeakRss();
    }

    ~PeakSampler() { stop(); }

    void stop()
    {
        if (m_thread.joinable()) {
            m_running = false;
            m_thread.join();
            sample();
        }
    }

    double anonPeakMiB() const { return (m_peak.anonKiB - m_base.anonKiB) / 1024.0; }
    double filePeakMiB() const { return (m_peak.fileKiB - m_base.fileKiB) / 1024.0; }

private:
    void sample()
    {
        const Residency r = readResidency();
        m_peak.anonKiB = std::max(m_peak.anonKiB, r.anonKiB);
        m_peak.fileKiB = std::max(m_peak.fileKiB, r.fileKiB);
    }

    void run()
    {
        while (m_running) {
            sample();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    Residency m_base;
    Residency m_peak = m_base;
    std::atomic<bool> m_running{true};
    std::thread m_thread;
};

// Each pixel's colour from its position.
bool writeMap(const QString &path, int side)
{
    TestGeoTiff map;
    map.width = side;
    map.height = side;
    map.placeTopLeft(139.0, 36.0, 1e-4, 1e-4);
    map.rowsPerStrip = 0;
    map.colour = [](int x, int y) { return qRgb(uchar(x), uchar(y), uchar(x ^ y)); };
    return map.write(path);
}

struct Result
{
    double seconds = 0;
    double cpuSeconds = 0;
    double anonMiB = 0;
    double fileMiB = 0;
    double hwmMiB = 0; // peak resident set (anonymous and file pages together) during the phase
    bool ok = false;
};

// The reference: what libtiff alone needs to decode the file into one buffer.
Result bareDecode(const QString &path)
{
    Result r;
    const long long before = readResidency().anonKiB + readResidency().fileKiB;
    PeakSampler sampler;
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = threadCpuSeconds();
    TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tif) {
        TIFFRGBAImage reader;
        char message[1024];
        if (TIFFRGBAImageBegin(&reader, tif, 0, message)) {
            reader.req_orientation = ORIENTATION_TOPLEFT;
            auto *raster = static_cast<uint32_t *>(
                _TIFFmalloc(tmsize_t(reader.width) * tmsize_t(reader.height) * 4));
            if (raster) {
                r.ok = TIFFRGBAImageGet(&reader, raster, reader.width, reader.height) == 1;
                r.seconds = timer.nsecsElapsed() / 1e9;
                r.cpuSeconds = threadCpuSeconds() - cpu0;
                sampler.stop();
                _TIFFfree(raster);
            }
            TIFFRGBAImageEnd(&reader);
        }
        TIFFClose(tif);
    }
    sampler.stop();
    r.anonMiB = sampler.anonPeakMiB();
    r.fileMiB = sampler.filePeakMiB();
    r.hwmMiB = (readPeakRssKiB() - before) / 1024.0;
    return r;
}

Result mapLoad(const QString &path)
{
    Result r;
    const long long before = readResidency().anonKiB + readResidency().fileKiB;
    GeoTiffImage image;
    PeakSampler sampler;
    QElapsedTimer timer;
    timer.start();
    const double cpu0 = threadCpuSeconds();
    r.ok = image.load(path);
    r.seconds = timer.nsecsElapsed() / 1e9;
    r.cpuSeconds = threadCpuSeconds() - cpu0;
    sampler.stop();
    r.anonMiB = sampler.anonPeakMiB();
    r.fileMiB = sampler.filePeakMiB();
    r.hwmMiB = (readPeakRssKiB() - before) / 1024.0;
    image.close();
    return r;
}

void quietMessages(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    qInstallMessageHandler(quietMessages);

    const int side = argc > 1 ? std::atoi(argv[1]) : 12000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    QTemporaryDir tmp(argc > 3 ? QDir(QString::fromLocal8Bit(argv[3])).filePath("bench-XXXXXX")
                               : QDir::temp().filePath("bench-XXXXXX"));
    if (side <= 0 || !tmp.isValid()) {
        std::fprintf(stderr, "usage: %s [side] [rounds] [folder]\n", argv[0]);
        return 2;
    }
    const QString path = tmp.filePath("map.tif");

    QElapsedTimer writing;
    writing.start();
    if (!writeMap(path, side)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return 1;
    }
    const double decodedMiB = double(side) * side * 4 / kMiB;
    std::printf("map %dx%d RGB, file %.1f MiB (written in %.1f s), decoded image %.1f MiB\n", side,
                side, QFile(path).size() / kMiB, writing.nsecsElapsed() / 1e9, decodedMiB);
    std::printf("%-22s %5s %8s %7s %12s %8s %11s %13s\n", "phase", "round", "wall s", "cpu s",
                "private MiB", "x image", "mapped MiB", "peak RSS MiB");

    bool allOk = true;
    for (int round = 1; round <= rounds; ++round) {
        const Result results[2] = {bareDecode(path), mapLoad(path)};
        const char *names[2] = {"bare TIFFRGBAImageGet", "GeoTiffImage::load"};
        for (int i = 0; i < 2; ++i) {
            const Result &r = results[i];
            allOk = allOk && r.ok;
            std::printf("%-22s %5d %8.3f %7.3f %12.1f %8.2f %11.1f %13.1f%s\n", names[i], round,
                        r.seconds, r.cpuSeconds, r.anonMiB, r.anonMiB / decodedMiB, r.fileMiB,
                        r.hwmMiB, r.ok ? "" : "  FAILED");
        }
    }
    std::printf("wall and cpu (of the loading thread) run from opening the file to the decoded "
                "pixels (bare) or to the finished pixmap (load)\n");
    std::printf("private = growth of anonymous resident pages (RssAnon); mapped = growth of "
                "file-backed resident pages (RssFile, the map file mapped by libtiff); peak RSS = "
                "growth of VmHWM, both together\n");
    return allOk ? 0 : 1;
}
