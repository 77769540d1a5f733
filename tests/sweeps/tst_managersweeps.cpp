// Fault-injection sweeps of the manager's module traffic. An identity read, the detector's arrival
// pass, a download and an erase are each run once cleanly to count their transfers, then once per
// transfer with that transfer failing, timing out or unplugging the module, on the worker's and the
// detector's threads against virtual modules.
#include "EmulatedBus.h"
#include "ModuleFlashWriter.h"
#include "QuorvelMetaTypes.h"
#include "SweepSupport.h"
#include "TrackCsv.h"
#include "USBCommunicator.h"
#include "USBDetector.h"
#include "USBDevice.h"
#include "UsbAccess.h"
#include "VirtualModule.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace
{
constexpr quint8 requestMemoryInfo = 0x03;
constexpr quint8 requestReadPosition = 0x04;
constexpr quint8 requestEraseStatus = 0x06;
constexpr quint8 requestEraseSector = 0x07;
constexpr quint8 requestEndErase = 0x08;

const std::string modulePath = "emu:module-1";
const QString moduleSerial = QStringLiteral("0123456789AB");
const QString moduleName = QStringLiteral("TRK1");

// Tracks of the download image, one per sector: sector 0 and sector 1, then a blank sector header
// that ends the download. 2 × 256 + 1 pages keep the sweep in the low thousands of transfers.
struct TrackPlan
{
    const char *date;
    const char *time;
    int fixes;
    ModuleFlashWriter::CoordinateStyle style;
};
const TrackPlan downloadPlan[] = {
    {"061220", "093015.000", 37, ModuleFlashWriter::CoordinateStyle::V1},
    {"071220", "101500.500", 22, ModuleFlashWriter::CoordinateStyle::V5},
};
constexpr int recordsPerPage = 4;

void logTrack(ModuleFlashWriter &writer, int fixes, ModuleFlashWriter::CoordinateStyle style)
{
    ModuleFlashWriter::Fix fix;
    fix.latitude = 4807.038;
    fix.longitude = 1131.0;
    fix.altitude = 120.5;
    for (int i = 0; i < fixes; ++i) {
        fix.second = i % 60;
        fix.latitude += 0.001;
        writer.appendFix(fix, style);
    }
}

std::shared_ptr<VirtualModule> makeModule()
{
    auto module = std::make_shared<VirtualModule>(moduleSerial.toStdString(), moduleName.toStdString());
    module->setVersions(1, 4, 2, 0);
    // Idle at the first status poll: a busy module would add a 10 ms pause per erased sector.
    module->setEraseBusyPolls(0);
    return module;
}

std::shared_ptr<VirtualModule> makeDownloadModule()
{
    auto module = makeModule();
    ModuleFlashWriter writer(*module);
    for (const TrackPlan &track : downloadPlan) {
        writer.startTrack(track.date, track.time, "001");
        logTrack(writer, track.fixes, track.style);
    }
    return module;
}

// Logged sectors 0 and 1 (two tracks), 2 (the second one continued) and 9 (a stray page); the
// other sectors start with an erased page.
const std::vector<uint32_t> loggedSectors = {0, 1, 2, 9};

std::shared_ptr<VirtualModule> makeEraseModule()
{
    auto module = makeModule();
    ModuleFlashWriter writer(*module);
    writer.startTrack("061220", "093015.000", "001");
    logTrack(writer, 5, ModuleFlashWriter::CoordinateStyle::V1);
    writer.startTrack("071220", "101500.500", "001");
    logTrack(writer, 5, ModuleFlashWriter::CoordinateStyle::V5);
    writer.continueTrack();
    logTrack(writer, 5, ModuleFlashWriter::CoordinateStyle::V5);
    VirtualModule::Page page;
    page.fill(0x00);
    module->writePage(9 * VirtualModule::pagesPerSector, page);
    return module;
}

quint32 le32(const std::vector<uint8_t> &bytes)
{
    return bytes.size() < 4 ? 0 : quint32(bytes[0]) | quint32(bytes[1]) << 8 | quint32(bytes[2]) << 16 | quint32(bytes[3]) << 24;
}

bool isControl(const usb::BusRecord &record, quint8 request)
{
    return !record.bulk && record.setup.request == request;
}

// The page being read when transfer `n` (1-based) of the reference run happened: the page of the
// last read-position request at or before it; 0 before any.
quint32 pageAt(const std::vector<usb::BusRecord> &reference, uint64_t n)
{
    for (uint64_t i = n; i > 0; --i) {
        if (isControl(reference[i - 1], requestReadPosition))
            return le32(reference[i - 1].out);
    }
    return 0;
}

// The first `lines` lines of `content`, each with its line end.
QByteArray firstLines(const QByteArray &content, int lines)
{
    int end = 0;
    for (int i = 0; i < lines; ++i) {
        const int newline = content.indexOf('\n', end);
        if (newline < 0)
            return content;
        end = newline + 1;
    }
    return content.left(end);
}

QMap<QString, QByteArray> filesIn(const QString &folder)
{
    QMap<QString, QByteArray> files;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        QFile file(dir.filePath(name));
        files.insert(name, file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<not a readable file>"));
    }
    return files;
}
} // namespace

// The worker's outcomes on the test thread (queued, as the window gets them); erase progress is
// counted on the worker thread so that thousands of runs do not queue half a million signals.
class WorkerLog : public QObject
{
    Q_OBJECT

public:
    explicit WorkerLog(USBCommunicator *worker)
    {
        connect(worker, &USBCommunicator::deviceInfo, this, [this](USBDeviceDesc dev) {
            infos << dev;
            record(QStringLiteral("deviceInfo"));
        });
        connect(worker, &USBCommunicator::saveFinished, this, [this] { record(QStringLiteral("saveFinished")); });
        connect(worker, &USBCommunicator::saveFailed, this, [this] { record(QStringLiteral("saveFailed")); });
        connect(worker, &USBCommunicator::eraseFinished, this, [this] { record(QStringLiteral("eraseFinished")); });
        connect(
            worker, &USBCommunicator::eraseProgress, this,
            [this](const USBDeviceDesc &, int percent) {
                ++eraseProgressCount;
                lastErasePercent = percent;
            },
            Qt::DirectConnection);
    }

    QStringList outcomes;
    QList<USBDeviceDesc> infos;
    std::atomic<int> eraseProgressCount{0};
    std::atomic<int> lastErasePercent{-1};

signals:
    void outcome();

private:
    void record(const QString &name)
    {
        outcomes << name;
        emit outcome();
    }
};

class DetectorLog : public QObject
{
    Q_OBJECT

public:
    explicit DetectorLog(USBDetector *detector)
    {
        connect(detector, &USBDetector::deviceAdded, this, [this](USBDeviceDesc dev) { added << dev; });
        connect(detector, &USBDetector::deviceRemoved, this, [this](USBDeviceDesc dev) { removed << dev; });
    }

    QList<USBDeviceDesc> added;
    QList<USBDeviceDesc> removed;
};

class TestManagerSweeps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void identityRead();
    void detectorArrivals();
    void download();
    void erase();
    void eraseOfStuckModuleEnds();

private:
    // One module operation on the worker: how to build the module, how to ask, and how to judge a
    // run (`n` is the failing transfer, 0 for the clean run).
    struct Scenario
    {
        const char *name;
        std::function<std::shared_ptr<VirtualModule>()> makeModule;
        std::function<void(const USBDeviceDesc &)> request;
        std::function<void(uint64_t n, bool unplug, const VirtualModule &module)> check;
    };

    void runSweep(const Scenario &scenario);
    // One run: a fresh module taken up by the detector, the request on the worker until its outcome,
    // then the module given up again with every hold and handle accounted for.
    void runOnce(const Scenario &scenario, const usb::Fault *fault, uint64_t n);
    void pass();
    // Checks the detector's next pass (the module is reported gone exactly when it was unplugged),
    // then drops the module and checks that nothing of it is left.
    void giveUp(USBDeviceDesc &desc, bool unplugged);
    // The detector's arrival pass over three modules, then their departure.
    void arrivalRun(const usb::Fault *fault);
    void printSwept(const char *operation, int points, uint64_t transfers);

    void checkDownload(uint64_t n, bool unplug);
    void checkErase(uint64_t n, bool unplug, const VirtualModule &module);

    USBCommunicator *m_worker = nullptr;
    USBDetector *m_detector = nullptr;
    WorkerLog *m_workerLog = nullptr;
    DetectorLog *m_detectorLog = nullptr;
    sweep::Fence m_fence;
    std::unique_ptr<QTemporaryDir> m_root;  // downloads go to its folder "out"
    QString m_out;

    std::vector<usb::BusRecord> m_reference;  // every transfer of the clean run
    QMap<QString, QByteArray> m_referenceFiles;
    std::vector<uint32_t> m_referenceErased;
    uint64_t m_arrivalTransfers = 0;
};

void TestManagerSweeps::initTestCase()
{
    usb::setPlatformBackendEnabled(false);
    registerQuorvelMetaTypes();
    sweep::installQuietLog();
}

void TestManagerSweeps::init()
{
    usb::EmulatedBus::instance().reset();
    m_worker = new USBCommunicator;
    m_detector = new USBDetector;
    m_workerLog = new WorkerLog(m_worker);
    m_detectorLog = new DetectorLog(m_detector);
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    m_out = m_root->filePath(QStringLiteral("out"));
}

void TestManagerSweeps::cleanup()
{
    delete m_detector;
    delete m_worker;
    QCoreApplication::sendPostedEvents();
    delete m_detectorLog;
    delete m_workerLog;
    m_root.reset();
    usb::EmulatedBus::instance().reset();
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
    QCOMPARE(sweep::modulesDestroyed.load(), sweep::devicesOpened.load());
}

void TestManagerSweeps::pass()
{
    QMetaObject::invokeMethod(m_detector, "updateDevices", Qt::QueuedConnection);
    QVERIFY2(m_fence.pass(m_detector), "detector pass did not end");
}

void TestManagerSweeps::giveUp(USBDeviceDesc &desc, bool unplugged)
{
    auto &bus = usb::EmulatedBus::instance();
    pass();
    QVERIFY(m_detectorLog->added.isEmpty());
    if (!unplugged) {
        QVERIFY(m_detectorLog->removed.isEmpty());
        bus.detach(modulePath);
        pass();
    }
    QCOMPARE(m_detectorLog->removed.size(), 1);
    QVERIFY(m_detectorLog->removed.at(0).sameDevice(desc));
    QVERIFY(m_detectorLog->removed.at(0).serialNumber.isEmpty());
    m_detectorLog->removed.clear();
    m_workerLog->infos.clear();

    // The detector's list and the worker dropped their holds: this descriptor is the last one.
    QCOMPARE(desc.device->holders(), 1);
    desc = USBDeviceDesc();
    QCOMPARE(bus.openHandles(), 0);
    QCOMPARE(sweep::modulesDestroyed.load(), sweep::devicesOpened.load());
}

void TestManagerSweeps::runOnce(const Scenario &scenario, const usb::Fault *fault, uint64_t n)
{
    auto &bus = usb::EmulatedBus::instance();
    const std::shared_ptr<VirtualModule> module = scenario.makeModule();
    bus.attach(USBDetector::interfaceClass(), modulePath, module);
    pass();
    QCOMPARE(m_detectorLog->added.size(), 1);
    USBDeviceDesc desc = m_detectorLog->added.takeFirst();
    QCOMPARE(desc.serialNumber, moduleSerial);

    bus.resetCounters();
    bus.setRecording(!fault);
    if (fault)
        bus.addFault(*fault);
    m_workerLog->outcomes.clear();
    m_workerLog->eraseProgressCount = 0;
    m_workerLog->lastErasePercent = -1;
    sweep::eraseFailures = 0;
    QSignalSpy outcome(m_workerLog, &WorkerLog::outcome);
    scenario.request(desc);
    QVERIFY2(outcome.wait(30000), "no outcome signal");
    QVERIFY2(m_fence.pass(m_worker), "module request did not end");
    QCOMPARE(m_workerLog->outcomes.size(), 1);

    if (fault) {
        QVERIFY2(bus.transferCount() >= fault->atTransfer, "the fault point was never reached");
    } else {
        m_reference = bus.takeRecord();
        QCOMPARE(uint64_t(m_reference.size()), bus.transferCount());
    }
    bus.clearFaults();
    bus.setRecording(false);

    const bool unplugged = fault && fault->kind == usb::FaultKind::Unplug;
    scenario.check(n, unplugged, *module);
    if (QTest::currentTestFailed())
        return;
    giveUp(desc, unplugged);
}

void TestManagerSweeps::printSwept(const char *operation, int points, uint64_t transfers)
{
    qInfo("%s: %d fault points swept (%llu transfers x %d fault kinds)", operation, points,
          static_cast<unsigned long long>(transfers), int(sweep::faultKinds.size()));
}

void TestManagerSweeps::runSweep(const Scenario &scenario)
{
    runOnce(scenario, nullptr, 0);
    if (QTest::currentTestFailed())
        return;
    const uint64_t transfers = m_reference.size();
    QVERIFY(transfers > 0);

    int points = 0;
    for (const sweep::KindName &kind : sweep::faultKinds) {
        for (uint64_t n = 1; n <= transfers; ++n) {
            const usb::Fault fault = sweep::faultAt(kind.kind, n, modulePath);
            runOnce(scenario, &fault, n);
            if (QTest::currentTestFailed()) {
                qWarning("%s: %s at transfer %llu of %llu", scenario.name, kind.name,
                         static_cast<unsigned long long>(n), static_cast<unsigned long long>(transfers));
                return;
            }
            ++points;
        }
    }
    printSwept(scenario.name, points, transfers);
}

void TestManagerSweeps::identityRead()
{
    Scenario scenario;
    scenario.name = "identity read";
    scenario.makeModule = makeModule;
    scenario.request = [this](const USBDeviceDesc &desc) {
        QMetaObject::invokeMethod(m_worker, "getDeviceInfo", Qt::QueuedConnection, Q_ARG(USBDeviceDesc, desc));
    };
    scenario.check = [this](uint64_t n, bool, const VirtualModule &) {
        QCOMPARE(m_workerLog->outcomes, QStringList{"deviceInfo"});
        QCOMPARE(m_workerLog->infos.size(), 1);
        const USBDeviceDesc &info = m_workerLog->infos.at(0);
        QVERIFY(info.device);
        if (n == 0) {
            QCOMPARE(m_reference.size(), std::size_t(1));
            QCOMPARE(info.serialNumber, moduleSerial);
            QCOMPARE(info.name, moduleName);
            QCOMPARE(info.hardwareVersion, QStringLiteral("1.4"));
            QCOMPARE(info.softwareVersion, QStringLiteral("2.0"));
        } else {
            // A failed read still answers, with the module and four empty texts.
            QVERIFY(info.serialNumber.isEmpty() && info.name.isEmpty());
            QVERIFY(info.hardwareVersion.isEmpty() && info.softwareVersion.isEmpty());
        }
    };
    runSweep(scenario);
}

void TestManagerSweeps::arrivalRun(const usb::Fault *fault)
{
    auto &bus = usb::EmulatedBus::instance();
    const QStringList serials = {"0123456789AB", "A1B2C3D4E5F6", "CAFE00000003"};
    const auto pathOf = [](int i) { return "emu:module-" + std::to_string(i + 1); };
    for (int i = 0; i < serials.size(); ++i) {
        auto module = std::make_shared<VirtualModule>(serials.at(i).toStdString(), "M" + std::to_string(i));
        bus.attach(USBDetector::interfaceClass(), pathOf(i), module);
    }
    bus.resetCounters();
    if (fault)
        bus.addFault(*fault);
    pass();
    if (fault)
        QVERIFY2(bus.transferCount() >= fault->atTransfer, "the fault point was never reached");
    else
        m_arrivalTransfers = bus.transferCount();
    bus.clearFaults();

    // Every module is added, in enumeration order; only the one whose identity read went wrong has
    // empty texts.
    const uint64_t n = fault ? fault->atTransfer : 0;
    const QList<USBDeviceDesc> added = m_detectorLog->added;
    m_detectorLog->added.clear();
    QCOMPARE(added.size(), serials.size());
    for (int i = 0; i < serials.size(); ++i) {
        QCOMPARE(added.at(i).device->path(), QString::fromStdString(pathOf(i)));
        QCOMPARE(added.at(i).serialNumber, uint64_t(i) + 1 == n ? QString() : serials.at(i));
    }

    // The next pass adds nothing and reports the unplugged module gone, and only that one.
    pass();
    QVERIFY(m_detectorLog->added.isEmpty());
    if (fault && fault->kind == usb::FaultKind::Unplug) {
        QCOMPARE(m_detectorLog->removed.size(), 1);
        QVERIFY(m_detectorLog->removed.at(0).sameDevice(added.at(int(n) - 1)));
    } else {
        QVERIFY(m_detectorLog->removed.isEmpty());
    }
    for (int i = 0; i < serials.size(); ++i)
        bus.detach(pathOf(i));
    pass();
    QCOMPARE(m_detectorLog->removed.size(), serials.size());
    m_detectorLog->removed.clear();

    // Only the copies taken here still hold the modules.
    for (const USBDeviceDesc &dev : added)
        QCOMPARE(dev.device->holders(), 1);
}

void TestManagerSweeps::detectorArrivals()
{
    arrivalRun(nullptr);
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
    QCOMPARE(m_arrivalTransfers, uint64_t(3));  // one identity read per module
    if (QTest::currentTestFailed())
        return;

    int points = 0;
    for (const sweep::KindName &kind : sweep::faultKinds) {
        for (uint64_t n = 1; n <= m_arrivalTransfers; ++n) {
            const usb::Fault fault = sweep::faultAt(kind.kind, n, std::string());
            arrivalRun(&fault);
            QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
            QCOMPARE(sweep::modulesDestroyed.load(), sweep::devicesOpened.load());
            if (QTest::currentTestFailed()) {
                qWarning("detector arrivals: %s at transfer %llu", kind.name, static_cast<unsigned long long>(n));
                return;
            }
            ++points;
        }
    }
    printSwept("detector arrivals", points, m_arrivalTransfers);
}

void TestManagerSweeps::checkDownload(uint64_t n, bool unplug)
{
    // Nothing is ever written outside the chosen folder.
    QCOMPARE(QDir(m_root->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"out"});
    const QMap<QString, QByteArray> files = filesIn(m_out);

    if (n == 0) {
        // The memory counters, then five transfers per page: two logged sectors and the blank
        // sector header that ends the download.
        QCOMPARE(m_reference.size(), std::size_t(1 + 5 * (2 * 256 + 1)));
        QVERIFY(isControl(m_reference.front(), requestMemoryInfo));
        QCOMPARE(m_workerLog->outcomes, QStringList{"saveFinished"});
        QCOMPARE(files.size(), int(std::size(downloadPlan)));
        for (const TrackPlan &track : downloadPlan) {
            const QString name = TrackCsv::fileName(moduleName, moduleSerial, track.date, track.time);
            QVERIFY2(files.contains(name), qPrintable(name));
            QCOMPARE(files.value(name).count('\n'), 1 + track.fixes);
        }
        m_referenceFiles = files;
        return;
    }
    if (isControl(m_reference[n - 1], requestMemoryInfo) && !unplug) {
        // Without the memory counters only the progress differs.
        QCOMPARE(m_workerLog->outcomes, QStringList{"saveFinished"});
        QCOMPARE(files.keys(), m_referenceFiles.keys());
        for (const QString &name : files.keys())
            QCOMPARE(files.value(name), m_referenceFiles.value(name));
        return;
    }

    // Any lost page ends the download. The files hold the lines of the pages read before that
    // page, exactly as the clean run wrote them, and no partial line.
    QCOMPARE(m_workerLog->outcomes, QStringList{"saveFailed"});
    const quint32 failedPage = pageAt(m_reference, n);
    QMap<QString, QByteArray> expected;
    quint32 header = 0;
    for (const TrackPlan &track : downloadPlan) {
        if (failedPage > header) {
            const int records = std::min(track.fixes, recordsPerPage * int(failedPage - header - 1));
            const QString name = TrackCsv::fileName(moduleName, moduleSerial, track.date, track.time);
            expected.insert(name, firstLines(m_referenceFiles.value(name), 1 + records));
        }
        header += VirtualModule::pagesPerSector;
    }
    QCOMPARE(files.keys(), expected.keys());
    for (const QString &name : files.keys())
        QCOMPARE(files.value(name), expected.value(name));
}

void TestManagerSweeps::download()
{
    Scenario scenario;
    scenario.name = "download";
    scenario.makeModule = makeDownloadModule;
    scenario.request = [this](const USBDeviceDesc &desc) {
        // Each run starts from an empty folder.
        QDir out(m_out);
        QVERIFY(out.exists() || QDir().mkpath(m_out));
        for (const QString &name : out.entryList(QDir::Files | QDir::Hidden))
            QVERIFY(out.remove(name));
        QMetaObject::invokeMethod(m_worker, "saveData", Qt::QueuedConnection, Q_ARG(USBDeviceDesc, desc),
                                  Q_ARG(QString, m_out));
    };
    scenario.check = [this](uint64_t n, bool unplug, const VirtualModule &) { checkDownload(n, unplug); };
    runSweep(scenario);
}

void TestManagerSweeps::checkErase(uint64_t n, bool unplug, const VirtualModule &module)
{
    // Whatever goes wrong, the erase walks every sector and ends.
    QCOMPARE(m_workerLog->outcomes, QStringList{"eraseFinished"});
    QCOMPARE(m_workerLog->eraseProgressCount.load(), 513);
    QCOMPARE(m_workerLog->lastErasePercent.load(), 100);

    std::vector<uint32_t> expected;  // page indexes of the erase requests the module accepts
    int endErases = 1;
    int failures = 0;
    if (n == 0) {
        // Five transfers per first page read (position, four bulk slices), an erase request and one
        // status poll per logged sector, the end of the erase.
        QCOMPARE(m_reference.size(), std::size_t(5 * 512 + 2 * loggedSectors.size() + 1));
        for (uint32_t sector : loggedSectors)
            expected.push_back(sector * VirtualModule::pagesPerSector);
        m_referenceErased = expected;
    } else if (unplug) {
        for (uint64_t i = 0; i + 1 < n; ++i) {
            if (isControl(m_reference[i], requestEraseSector))
                expected.push_back(le32(m_reference[i].out));
        }
        endErases = 0;
    } else {
        expected = m_referenceErased;
        const usb::BusRecord &lost = m_reference[n - 1];
        if (lost.bulk || isControl(lost, requestReadPosition)) {
            // A first page that cannot be read gets its sector erased, blank or not.
            const uint32_t page = pageAt(m_reference, n);
            if (std::find(expected.begin(), expected.end(), page) == expected.end())
                expected.insert(std::upper_bound(expected.begin(), expected.end(), page), page);
        } else if (isControl(lost, requestEraseSector)) {
            expected.erase(std::find(expected.begin(), expected.end(), le32(lost.out)));
            failures = 1;
        } else if (isControl(lost, requestEraseStatus)) {
            failures = 1;
        } else if (isControl(lost, requestEndErase)) {
            endErases = 0;
        }
    }
    QCOMPARE(module.erasedPageIndexes(), expected);
    QCOMPARE(module.endEraseCount(), endErases);
    if (!unplug)
        QCOMPARE(sweep::eraseFailures.load(), failures);
    for (uint32_t sector : loggedSectors) {
        const uint32_t page = sector * VirtualModule::pagesPerSector;
        QCOMPARE(module.sectorErased(sector), std::find(expected.begin(), expected.end(), page) != expected.end());
    }
}

void TestManagerSweeps::erase()
{
    Scenario scenario;
    scenario.name = "erase";
    scenario.makeModule = makeEraseModule;
    scenario.request = [this](const USBDeviceDesc &desc) {
        QMetaObject::invokeMethod(m_worker, "eraseData", Qt::QueuedConnection, Q_ARG(USBDeviceDesc, desc));
    };
    scenario.check = [this](uint64_t n, bool unplug, const VirtualModule &module) { checkErase(n, unplug, module); };
    runSweep(scenario);
}

void TestManagerSweeps::eraseOfStuckModuleEnds()
{
    auto &bus = usb::EmulatedBus::instance();
    const std::shared_ptr<VirtualModule> module = makeEraseModule();
    module->setStuckBusy(true);
    bus.attach(USBDetector::interfaceClass(), modulePath, module);
    pass();
    QCOMPARE(m_detectorLog->added.size(), 1);
    USBDeviceDesc desc = m_detectorLog->added.takeFirst();
    // A module that never reports idle gives up after 3000 polls 10 ms apart (about 30 s) per
    // sector; this one gives up after 3.
    QCOMPARE(USBDevice::defaultErasePollLimit, 3000);
    desc.device->setErasePollLimit(3);
    m_workerLog->outcomes.clear();
    sweep::eraseFailures = 0;

    QSignalSpy outcome(m_workerLog, &WorkerLog::outcome);
    QMetaObject::invokeMethod(m_worker, "eraseData", Qt::QueuedConnection, Q_ARG(USBDeviceDesc, desc));
    QVERIFY2(outcome.wait(30000), "no outcome signal");
    QVERIFY2(m_fence.pass(m_worker), "erase did not end");

    QCOMPARE(m_workerLog->outcomes, QStringList{"eraseFinished"});
    QCOMPARE(module->statusPolls(), 3 * int(loggedSectors.size()));
    QCOMPARE(sweep::eraseFailures.load(), int(loggedSectors.size()));
    QCOMPARE(module->eraseRequests(), int(loggedSectors.size()));
    QCOMPARE(module->endEraseCount(), 1);
    giveUp(desc, false);
}

QTEST_GUILESS_MAIN(TestManagerSweeps)
#include "tst_managersweeps.moc"
