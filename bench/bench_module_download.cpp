// Download of a full module: 32 MiB of flash (131,072 pages, about 520,000 records in tracks of
// varied length) logged into a virtual module on the emulated bus and saved to CSV files by
// USBCommunicator::saveData, the worker's own code; beside it gpsbabel converting the same
// positions from NMEA (GPGGA + GPRMC) to CSV. Host CPU is the CPU time of the thread that
// downloads; the share of the emulated bus and of the virtual module (on hardware the USB time,
// about 5 ms a page, which is not host CPU) is measured by reading the same pages without the
// manager's code.
//
// Build and run (Release; under a minute):
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKORVANE_BUILD_BENCH=ON
//   cmake --build build-bench --target bench_module_download -j2
//   build-bench/bench/bench_module_download [sectors logged, 1 to 512, default 512]
// gpsbabel runs as "TZ=UTC gpsbabel -t -i nmea -f positions.nmea -o unicsv -F positions.csv"
// (without -t unicsv writes no track point). A smaller run for profiling, on one line:
//   valgrind --tool=callgrind
//     --toggle-collect='USBCommunicator::saveData(USBDeviceDesc, QString)'
//     build-bench/bench/bench_module_download 16
#include "EmulatedBus.h"
#include "ModuleFlashWriter.h"
#include "PositionRecord.h"
#include "TrackCsv.h"
#include "USBCommunicator.h"
#include "USBDetector.h"
#include "USBDevice.h"
#include "UsbAccess.h"
#include "VirtualModule.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

namespace {

QtMessageHandler previousHandler = nullptr;

// Debug lines are dropped (still formatted when the debug category is on); warnings go through.
void dropDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg)
        previousHandler(type, context, message);
}

void setDebugLines(bool on)
{
    QLoggingCategory::setFilterRules(on ? QStringLiteral("quorvel.*.debug=true")
                                        : QStringLiteral("quorvel.*.debug=false"));
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double seconds(const timeval &tv)
{
    return double(tv.tv_sec) + tv.tv_usec / 1e6;
}

// Wall, CPU (user + system) and system time of one measured step.
struct Cost
{
    double wall = 0;
    double cpu = 0;
    double system = 0;
};

// Measures `step` on the calling thread.
template <typename Step>
Cost measure(Step &&step)
{
    rusage before{};
    rusage after{};
    getrusage(RUSAGE_THREAD, &before);
    const double cpuBefore = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    step();
    Cost cost;
    cost.wall = wall.nsecsElapsed() / 1e9;
    cost.cpu = threadCpuSeconds() - cpuBefore;
    getrusage(RUSAGE_THREAD, &after);
    cost.system = seconds(after.ru_stime) - seconds(before.ru_stime);
    return cost;
}

// ---- The logged positions -------------------------------------------------------------------

std::string twoDigits(int value)
{
    char text[12];
    std::snprintf(text, sizeof text, "%02d", value % 100);
    return text;
}

double quantize(double value, double step)
{
    return std::round(value / step) * step;
}

// Decimal degrees to degrees × 100 + minutes, on the 0.0001' grid that both the V1 record style and
// the NMEA sentences hold exactly.
double degreesMinutes(double degrees)
{
    const double whole = std::floor(degrees);
    return quantize(whole * 100.0 + (degrees - whole) * 60.0, 1e-4);
}

class NmeaFile
{
public:
    explicit NmeaFile(const QString &path)
        : m_file(std::fopen(path.toLocal8Bit().constData(), "wb"))
    {
    }
    ~NmeaFile()
    {
        if (m_file)
            std::fclose(m_file);
    }
    bool isOpen() const { return m_file != nullptr; }

    // One fix as GPGGA (position, HDOP, altitude) then GPRMC (date, speed), the order in which
    // gpsbabel merges both into one track point.
    void write(const ModuleFlashWriter::Fix &fix)
    {
        char time[16];
        std::snprintf(time, sizeof time, "%02d%02d%02d.%03d", fix.hour, fix.minute, fix.second,
                      fix.millisecond);
        char body[160];
        std::snprintf(body, sizeof body, "GPGGA,%s,%09.4f,%c,%010.4f,%c,1,08,%.2f,%.1f,M,0.0,M,,",
                      time, fix.latitude, fix.latitudeHemisphere, fix.longitude,
                      fix.longitudeHemisphere, fix.hdop, fix.altitude);
        sentence(body);
        std::snprintf(body, sizeof body,
                      "GPRMC,%s,A,%09.4f,%c,%010.4f,%c,%.2f,0.0,%02d%02d%02d,,,A", time,
                      fix.latitude, fix.latitudeHemisphere, fix.longitude, fix.longitudeHemisphere,
                      fix.speed, fix.day, fix.month, fix.year % 100);
        sentence(body);
    }

private:
    void sentence(const char *body)
    {
        unsigned checksum = 0;
        for (const char *c = body; *c; ++c)
            checksum ^= static_cast<unsigned char>(*c);
        std::fprintf(m_file, "$%s*%02X\r\n", body, checksum);
    }

    std::FILE *m_file;
};

struct Logged
{
    int tracks = 0;
    long records = 0;
};

// Fills the first `sectors` sectors with tracks of 1 to 24 sectors, each a few records short of its
// last sector, in both coordinate styles and all four hemispheres, and writes every fix to `nmea`.
Logged logTracks(VirtualModule &module, int sectors, NmeaFile &nmea)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> trackSectors(1, 24);
    std::uniform_int_distribution<int> shortfall(0, 59);
    std::normal_distribution<double> step(0.0, 2e-5);
    std::normal_distribution<double> drift(0.0, 0.3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    static const char *const frequencies[] = {"001", "002", "005"};
    static const int intervals[] = {1000, 2000, 5000};

    ModuleFlashWriter writer(module);
    const quint32 end = quint32(sectors) * VirtualModule::sectorSize;
    qint64 clock = QDateTime(QDate(2023, 5, 1), QTime(6, 0), Qt::UTC).toMSecsSinceEpoch();
    Logged logged;
    while (writer.cursor() < end) {
        const int kind = logged.tracks % 3;
        const auto style = logged.tracks % 2 == 0 ? ModuleFlashWriter::CoordinateStyle::V1
                                                  : ModuleFlashWriter::CoordinateStyle::V5;
        ModuleFlashWriter::Fix fix;
        fix.latitudeHemisphere = "NNSS"[logged.tracks % 4];
        fix.longitudeHemisphere = "EWEW"[logged.tracks % 4];
        double latitude = 10.0 + 60.0 * unit(random);
        double longitude = 150.0 * unit(random);
        double speed = 20.0 * unit(random);
        double altitude = 3000.0 * unit(random);
        const long records = trackSectors(random) * 1020L - shortfall(random);

        for (long r = 0; r < records && writer.cursor() < end; ++r) {
            const QDateTime at = QDateTime::fromMSecsSinceEpoch(clock, Qt::UTC);
            const QDate date = at.date();
            const QTime time = at.time();
            fix.year = date.year();
            fix.month = date.month();
            fix.day = date.day();
            fix.hour = time.hour();
            fix.minute = time.minute();
            fix.second = time.second();
            fix.millisecond = time.msec();
            latitude = std::min(89.0, std::max(0.0, latitude + step(random)));
            longitude = std::min(179.0, std::max(0.0, longitude + step(random)));
            speed = std::min(99.0, std::max(0.0, speed + drift(random)));
            altitude = std::min(8000.0, std::max(0.0, altitude + drift(random)));
            fix.latitude = degreesMinutes(latitude);
            fix.longitude = degreesMinutes(longitude);
            fix.speed = quantize(speed, 0.01);
            fix.altitude = quantize(altitude, 0.1);
            fix.hdop = quantize(0.8 + 2.0 * unit(random), 0.01);
            fix.pdop = quantize(fix.hdop * 1.4, 0.01);
            fix.vdop = quantize(fix.hdop * 1.1, 0.01);
            if (r == 0) {
                const std::string date =
                    twoDigits(fix.day) + twoDigits(fix.month) + twoDigits(fix.year);
                const std::string time = twoDigits(fix.hour) + twoDigits(fix.minute)
                                         + twoDigits(fix.second) + '.'
                                         + std::to_string(1000 + fix.millisecond).substr(1);
                writer.startTrack(date, time, frequencies[kind]);
                ++logged.tracks;
            }
            writer.appendFix(fix, style);
            nmea.write(fix);
            ++logged.records;
            clock += intervals[kind];
        }
        clock += 3600 * 1000;  // the module rests between two tracks
    }
    return logged;
}

// ---- The output -------------------------------------------------------------------------------

struct Output
{
    int files = 0;
    long lines = 0;
    qint64 bytes = 0;
    QByteArray digest;
};

Output readOutput(const QString &directory)
{
    Output out;
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const QDir dir(directory);
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray content = file.readAll();
        ++out.files;
        out.lines += content.count('\n');
        out.bytes += content.size();
        hash.addData(name.toUtf8());
        hash.addData(content);
    }
    out.digest = hash.result();
    return out;
}

// ---- The measured steps -----------------------------------------------------------------------

// Reads every page as USBDevice::readPage does it (one read-position request, four 64-byte bulk
// reads) on `device`, either the virtual module itself or a handle on the emulated bus.
template <typename Device>
quint64 readAllPages(Device &device, quint32 pages)
{
    usb::SetupPacket setup;
    setup.requestType = 0x40;
    setup.request = 0x04;
    setup.length = 4;
    uint8_t page[VirtualModule::pageSize];
    quint64 sum = 0;
    for (quint32 p = 0; p < pages; ++p) {
        uint8_t position[4] = {uint8_t(p), uint8_t(p >> 8), uint8_t(p >> 16), uint8_t(p >> 24)};
        device.control(setup, position);
        for (int slice = 0; slice < 4; ++slice)
            device.bulkRead(VirtualModule::bulkInPipe, page + 64 * slice, 64);
        sum += page[17];
    }
    return sum;
}

struct ChildCost
{
    Cost cost;
    bool ran = false;
};

// Runs a program with TZ=UTC and waits for it, with its own CPU time from wait4. Without a TZ
// variable gpsbabel looks at /etc/localtime about twenty times a point, which costs it more than
// the conversion (the time zone does not change its output here: every time is UTC).
ChildCost runChild(std::vector<std::string> arguments)
{
    std::vector<char *> argv;
    for (std::string &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string zone = "TZ=UTC";
    std::vector<char *> environment;
    for (char **variable = environ; *variable; ++variable) {
        if (std::strncmp(*variable, "TZ=", 3) != 0)
            environment.push_back(*variable);
    }
    environment.push_back(zone.data());
    environment.push_back(nullptr);
    ChildCost child;
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environment.data()) != 0)
        return child;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return child;
    child.cost.wall = wall.nsecsElapsed() / 1e9;
    child.cost.system = seconds(usage.ru_stime);
    child.cost.cpu = seconds(usage.ru_utime) + child.cost.system;
    child.ran = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return child;
}

long lineCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    long lines = 0;
    while (!file.atEnd())
        lines += file.read(1 << 20).count('\n');
    return lines;
}

void printRow(const char *what, const Cost &cost, double pages, double records)
{
    std::printf("%-34s %7.3f %7.3f %6.3f ", what, cost.wall, cost.cpu, cost.system);
    if (pages > 0)
        std::printf("%10.0f %10.0f %8.2f", pages / cost.wall, records / cost.wall,
                    cost.cpu * 1e6 / pages);
    else
        std::printf("%10s %10.0f %8s", "-", records / cost.wall, "-");
    std::printf(" %7.3f\n", cost.cpu * 1e6 / records);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int sectors = argc > 1 ? std::atoi(argv[1]) : int(VirtualModule::sectorCount);
    if (sectors < 1 || sectors > int(VirtualModule::sectorCount)) {
        std::fprintf(stderr, "usage: %s [sectors logged, 1 to 512]\n", argv[0]);
        return 2;
    }
    previousHandler = qInstallMessageHandler(dropDebug);

    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        return 1;
    }
    const QString nmeaPath = work.filePath(QStringLiteral("positions.nmea"));

    // Inputs: the module's flash and the NMEA file of the same fixes.
    usb::setPlatformBackendEnabled(false);
    auto module = std::make_shared<VirtualModule>("0123456789AB", "BENCH");
    Logged logged;
    {
        NmeaFile nmea(nmeaPath);
        if (!nmea.isOpen()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(nmeaPath));
            return 1;
        }
        QElapsedTimer timer;
        timer.start();
        logged = logTracks(*module, sectors, nmea);
        std::printf("logged %ld records in %d tracks over %d sectors, used %d bytes (%.1f s)\n",
                    logged.records, logged.tracks, sectors, module->usedSize(),
                    timer.nsecsElapsed() / 1e9);
    }
    const QString path = QString::fromStdString(
        usb::EmulatedBus::instance().attach(USBDetector::interfaceClass(), "bench-module", module));
    USBDevice *device = new USBDevice(path);
    const USBDeviceDesc desc = device->getDeviceInfo();
    device->release();  // the descriptor holds it now

    // The downloads, as the worker runs them, with the per-record debug lines formatted and
    // dropped, then with the debug category off; each twice, in turn, keeping the cheaper run.
    USBCommunicator worker;
    struct Run
    {
        const char *label;
        bool debugLines;
        Cost cost;
        Output output;
        int pagesRead = 0;
    } runs[] = {{"saveData, debug lines dropped", true, {}, {}},
                {"saveData, debug category off", false, {}, {}}};
    bool sameOutput = true;
    for (int round = 0; round < 2; ++round) {
        for (Run &run : runs) {
            const QString outDirectory = work.filePath(QStringLiteral("csv"));
            QDir().mkpath(outDirectory);
            setDebugLines(run.debugLines);
            const int pagesBefore = module->pagesRead();
            const Cost cost = measure([&] { worker.saveData(desc, outDirectory); });
            const Output output = readOutput(outDirectory);
            QDir(outDirectory).removeRecursively();
            sameOutput = sameOutput && (runs[0].output.digest.isEmpty()
                                        || output.digest == runs[0].output.digest);
            if (round == 0 || cost.cpu < run.cost.cpu) {
                run.cost = cost;
                run.output = output;
                run.pagesRead = module->pagesRead() - pagesBefore;
            }
        }
    }
    setDebugLines(false);
    const double pages = runs[0].pagesRead;
    const double records = double(logged.records);

    // The same pages without the manager: the virtual module alone, then through the emulated bus;
    // and the manager's conversion alone over the records held in memory.
    quint64 sink = 0;
    const Cost deviceSide = measure([&] { sink += readAllPages(*module, quint32(pages)); });
    std::unique_ptr<usb::Device> handle = usb::openDevice(path.toStdString());
    const Cost busSide = measure([&] { sink += readAllPages(*handle, quint32(pages)); });
    handle.reset();
    std::vector<char> flash(size_t(pages) * USBDevice::pageSize);
    const Cost readPages = measure([&] {
        for (quint32 p = 0; p < quint32(pages); ++p)
            desc.device->readPage(flash.data() + size_t(p) * USBDevice::pageSize, p,
                                  USBDevice::pageSize);
    });
    std::vector<PositionRecord> decoded;
    decoded.reserve(size_t(records));
    const Cost decoding = measure([&] {
        for (quint32 p = 0; p < quint32(pages); ++p) {
            if (p % 256 == 0)
                continue;
            for (int slot = 0; slot < 4; ++slot) {
                const char *record = flash.data() + size_t(p) * USBDevice::pageSize + slot * 64;
                if (static_cast<unsigned char>(record[0]) != 0xFF)
                    decoded.push_back(PositionRecord::decode(record));
            }
        }
    });
    const Cost formatting = measure([&] {
        for (const PositionRecord &record : decoded)
            sink += quint64(TrackCsv::line(record).size());
    });

    // gpsbabel on the same positions.
    const QString unicsvPath = work.filePath(QStringLiteral("positions.csv"));
    ChildCost babel;
    const bool haveBabel = !QStandardPaths::findExecutable(QStringLiteral("gpsbabel")).isEmpty();
    if (haveBabel) {
        babel = runChild({"gpsbabel", "-t", "-i", "nmea", "-f", nmeaPath.toStdString(), "-o",
                          "unicsv", "-F", unicsvPath.toStdString()});
    }

    std::printf("\nfull module download: %.0f pages, %.0f records, %d tracks\n", pages, records,
                logged.tracks);
    std::printf("%-34s %7s %7s %6s %10s %10s %8s %7s\n", "step", "wall_s", "cpu_s", "sys_s",
                "pages/s", "records/s", "us/page", "us/rec");
    for (const Run &run : runs)
        printRow(run.label, run.cost, pages, records);
    printRow("  pages through USBDevice::readPage", readPages, pages, records);
    printRow("  pages through the emulated bus", busSide, pages, records);
    printRow("  pages from the virtual module", deviceSide, pages, records);
    printRow("  PositionRecord::decode, no debug", decoding, pages, records);
    printRow("  TrackCsv::line", formatting, pages, records);
    if (!haveBabel)
        std::printf("gpsbabel not on PATH: comparison skipped\n");
    else if (!babel.ran)
        std::printf("gpsbabel failed\n");
    else
        printRow("gpsbabel nmea -> unicsv", babel.cost, 0, records);

    std::printf("\nhost CPU per page (saveData minus the emulated bus and module):\n");
    for (const Run &run : runs) {
        std::printf("  %-32s %6.2f us/page (emulation %.2f us/page)\n", run.label,
                    (run.cost.cpu - busSide.cpu) * 1e6 / pages, busSide.cpu * 1e6 / pages);
    }
    std::printf("\ninputs: flash %u bytes used, NMEA %lld bytes\n", unsigned(module->usedSize()),
                QFileInfo(nmeaPath).size());
    for (const Run &run : runs) {
        std::printf("output (%s): %d files, %ld lines, %lld bytes\n", run.label, run.output.files,
                    run.output.lines, run.output.bytes);
    }
    if (haveBabel && babel.ran) {
        std::printf("output (gpsbabel): 1 file, %ld lines, %lld bytes\n", lineCount(unicsvPath),
                    QFileInfo(unicsvPath).size());
    }
    const bool allWritten = runs[0].output.lines == logged.records + logged.tracks
                            && runs[0].output.files == logged.tracks;
    std::printf("CSV identical in every run: %s; every record written: %s (check %llu)\n",
                sameOutput ? "yes" : "NO", allWritten ? "yes" : "NO",
                static_cast<unsigned long long>(sink % 10));
    // Names and bytes of every file: two builds that write the same files print the same digest.
    std::printf("CSV digest (SHA-1): %s\n", runs[0].output.digest.toHex().constData());
    return sameOutput && allWritten ? 0 : 1;
}
