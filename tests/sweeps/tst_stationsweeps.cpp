// Fault-injection sweeps of the station's receptor traffic. A routine scan, an initial scan, an
// addition (with the initial scan it runs) and a start command are each run once cleanly to count
// their transfers, then once per transfer with that transfer failing, timing out or unplugging the
// receptor, always through the detector and the worker on their threads.
#include "EmulatedBus.h"
#include "ReceptorCom.h"
#include "ReceptorDetector.h"
#include "ReceptorDeviceGeneric.h"
#include "ReceptorMetaTypes.h"
#include "SweepSupport.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"
#include "VirtualReceptor.h"

#include <QtTest>

#include <functional>
#include <memory>

namespace
{
constexpr quint8 requestBeaconFlags = 0x52;
constexpr quint8 requestBeaconInfo = 0x53;
constexpr quint8 requestBeaconQuality = 0x56;

const std::string receptorPath = "emu:receptor";

// Slots 0 to 5 are registered, in this order.
const std::array<VirtualReceptor::Serial, 6> registered = {{
    {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0xb2},
    {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc},
    {0xde, 0xad, 0xbe, 0xef, 0x00, 0x04},
    {0x55, 0x55, 0x55, 0x55, 0x55, 0x05},
    {0xf0, 0x0d, 0xf0, 0x0d, 0x00, 0x06},
}};
const VirtualReceptor::Serial added = {0xc0, 0xff, 0xee, 0x00, 0x00, 0x07};
const QString addedText = QStringLiteral("c0ffee000007");

QString serialText(const VirtualReceptor::Serial &serial)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(serial.data()), int(serial.size())).toHex());
}

VirtualReceptor::Report report(const std::string &name, const std::string &time, int rssi)
{
    VirtualReceptor::Report r = testdevices::receptorReport(name, time);
    r.auxValue = 7;
    r.rssiDbm = rssi;
    return r;
}

// News in slots 0, 1, 3, 4 and 5; slot 2 has never reported; slot 4's report is malformed (its name
// holds a '-'), so routine scans read it but never report it.
std::shared_ptr<VirtualReceptor> makeReceptor()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    for (const VirtualReceptor::Serial &serial : registered)
        receptor->registerSerial(serial);
    receptor->setReport(0, report("Alpha", "120000", -60));
    receptor->setReport(1, report("Bravo", "120100", -70));
    receptor->setReport(3, report("Delta", "120300", -80));
    receptor->setReport(4, report("AB-1", "120400", -90));
    receptor->setReport(5, report("Foxtrot", "120500", -100));
    return receptor;
}

// Every field, so that two reports compare as texts and a mismatch shows what differs.
QString summary(const BeaconInfo &info)
{
    return QStringLiteral("%1 %2 %3 %4 %5 %6 mem %7 state %8 aux %9 snr %10 rssi %11")
        .arg(info.serial, info.name, info.date, info.time, info.latitude, info.longitude)
        .arg(info.memory)
        .arg(info.state)
        .arg(info.auxValue)
        .arg(info.snr)
        .arg(info.rssi);
}

QStringList summaries(const QList<BeaconInfo> &infos)
{
    QStringList lines;
    for (const BeaconInfo &info : infos)
        lines << summary(info);
    return lines;
}

// What a scan must report when transfer `n` goes wrong: the reference report of every slot whose
// information block was read, without radio quality when only its quality read was lost. A lost
// flags read ends the scan; an unplug loses every transfer from `n` on. Each information read of the
// reference run is followed by the quality read of the same slot.
QStringList expectedScan(const std::vector<usb::BusRecord> &reference, const QList<BeaconInfo> &referenceReports,
                         uint64_t n, bool unplug)
{
    QMap<QString, BeaconInfo> bySerial;
    for (const BeaconInfo &info : referenceReports)
        bySerial.insert(info.serial, info);
    const auto lost = [&](uint64_t transfer) { return unplug ? transfer >= n : transfer == n; };

    QStringList expected;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const uint64_t transfer = i + 1;
        const usb::SetupPacket &setup = reference[i].setup;
        if (setup.request == requestBeaconFlags && lost(transfer))
            return expected;
        if (setup.request != requestBeaconInfo || lost(transfer))
            continue;
        const QString serial = setup.index < registered.size() ? serialText(registered[setup.index]) : addedText;
        if (!bySerial.contains(serial))
            continue;  // read, but never reported
        BeaconInfo info = bySerial.value(serial);
        if (lost(transfer + 1))
            info.snr = info.rssi = 0;
        expected << summary(info);
    }
    return expected;
}

// Every information read of a reference run is followed by the quality read of its slot.
bool readsPaired(const std::vector<usb::BusRecord> &reference)
{
    for (std::size_t i = 0; i < reference.size(); ++i) {
        if (reference[i].setup.request != requestBeaconInfo)
            continue;
        if (i + 1 >= reference.size() || reference[i + 1].setup.request != requestBeaconQuality
            || reference[i + 1].setup.index != reference[i].setup.index)
            return false;
    }
    return true;
}
} // namespace

// Takes the detector's and the worker's signals on the test thread, queued as the window gets them.
class StationLog : public QObject
{
    Q_OBJECT

public:
    StationLog(ReceptorDetector *detector, ReceptorCom *com)
    {
        connect(detector, &ReceptorDetector::receptorConnected, this,
                [this](ReceptorDeviceDesc dev) { connected << dev; });
        connect(detector, &ReceptorDetector::receptorDisconnected, this, [this] { ++disconnected; });
        connect(com, &ReceptorCom::beaconInfo, this, [this](BeaconInfo info) { reports << info; });
    }

    QList<ReceptorDeviceDesc> connected;
    int disconnected = 0;
    QList<BeaconInfo> reports;
};

class TestStationSweeps : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void routineScan();
    void initialScan();
    void addBeacon();
    void startBeacon();

private:
    using Operation = std::function<void(const ReceptorDeviceDesc &)>;
    // Judges one run: `n` is the failing transfer (0 for the clean run).
    using Check = std::function<void(uint64_t n, bool unplug, const VirtualReceptor &receptor,
                                     const QList<BeaconInfo> &reports)>;

    // The clean run, then every fault point of every kind.
    void runSweep(const char *operationName, const Operation &operation, const Check &check);
    // One run: a fresh receptor taken up by the detector, the operation on the worker, and the
    // receptor given up again with every reference and handle accounted for.
    void runOnce(const Operation &operation, const usb::Fault *fault,
                 std::shared_ptr<VirtualReceptor> *receptor, QList<BeaconInfo> *reports);
    void poll();
    void checkScan(uint64_t n, bool unplug, const QList<BeaconInfo> &reports);

    ReceptorDetector *m_detector = nullptr;
    ReceptorCom *m_com = nullptr;
    StationLog *m_log = nullptr;
    sweep::Fence m_fence;

    // The clean run: every transfer, and what it reported.
    std::vector<usb::BusRecord> m_reference;
    QList<BeaconInfo> m_referenceReports;
};

void TestStationSweeps::initTestCase()
{
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    sweep::installQuietLog();
}

void TestStationSweeps::init()
{
    usb::EmulatedBus::instance().reset();
    m_com = new ReceptorCom;
    m_detector = new ReceptorDetector;
    m_log = new StationLog(m_detector, m_com);
}

void TestStationSweeps::cleanup()
{
    delete m_detector;
    delete m_com;
    QCoreApplication::sendPostedEvents();
    delete m_log;
    usb::EmulatedBus::instance().reset();
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
}

void TestStationSweeps::poll()
{
    QMetaObject::invokeMethod(m_detector, "refresh", Qt::QueuedConnection);
    QVERIFY2(m_fence.pass(m_detector), "detector poll did not end");
}

void TestStationSweeps::runOnce(const Operation &operation, const usb::Fault *fault,
                                std::shared_ptr<VirtualReceptor> *receptor, QList<BeaconInfo> *reports)
{
    auto &bus = usb::EmulatedBus::instance();
    *receptor = makeReceptor();
    bus.attach(ReceptorDetector::interfaceClass(), receptorPath, *receptor);
    poll();
    QCOMPARE(m_log->connected.size(), 1);
    QCOMPARE(m_log->disconnected, 0);
    ReceptorDeviceDesc desc = m_log->connected.takeFirst();

    bus.resetCounters();
    bus.setRecording(!fault);
    if (fault)
        bus.addFault(*fault);
    operation(desc);
    QVERIFY2(m_fence.pass(m_com), "receptor operation did not end");
    reports->swap(m_log->reports);
    m_log->reports.clear();

    if (fault) {
        QVERIFY2(bus.transferCount() >= fault->atTransfer, "the fault point was never reached");
    } else {
        m_reference = bus.takeRecord();
        QCOMPARE(uint64_t(m_reference.size()), bus.transferCount());
    }
    bus.clearFaults();
    bus.setRecording(false);

    // The next poll sees the receptor gone exactly when it was unplugged.
    poll();
    const bool unplugged = fault && fault->kind == usb::FaultKind::Unplug;
    QCOMPARE(m_log->disconnected, unplugged ? 1 : 0);
    QVERIFY(m_log->connected.isEmpty());
    if (!unplugged) {
        bus.detach(receptorPath);
        poll();
        QCOMPARE(m_log->disconnected, 1);
    }
    m_log->disconnected = 0;

    // The detector and the worker gave up their references: this handle is the last one, and
    // dropping it deletes the receptor, which closes its device.
    QCOMPARE(desc->refCount(), 1);
    desc = ReceptorDeviceDesc();
    QCOMPARE(bus.openHandles(), 0);
}

void TestStationSweeps::runSweep(const char *operationName, const Operation &operation, const Check &check)
{
    std::shared_ptr<VirtualReceptor> receptor;
    QList<BeaconInfo> reports;
    runOnce(operation, nullptr, &receptor, &reports);
    if (QTest::currentTestFailed())
        return;
    m_referenceReports = reports;
    const uint64_t transfers = m_reference.size();
    QVERIFY(readsPaired(m_reference));
    check(0, false, *receptor, reports);
    if (QTest::currentTestFailed())
        return;

    int points = 0;
    for (const sweep::KindName &kind : sweep::faultKinds) {
        for (uint64_t n = 1; n <= transfers; ++n) {
            const usb::Fault fault = sweep::faultAt(kind.kind, n, receptorPath);
            runOnce(operation, &fault, &receptor, &reports);
            if (!QTest::currentTestFailed())
                check(n, kind.kind == usb::FaultKind::Unplug, *receptor, reports);
            if (QTest::currentTestFailed()) {
                qWarning("%s: %s at transfer %llu of %llu", operationName, kind.name,
                         static_cast<unsigned long long>(n), static_cast<unsigned long long>(transfers));
                return;
            }
            ++points;
        }
    }
    qInfo("%s: %d fault points swept (%llu transfers x %d fault kinds)", operationName, points,
          static_cast<unsigned long long>(transfers), int(sweep::faultKinds.size()));
}

void TestStationSweeps::checkScan(uint64_t n, bool unplug, const QList<BeaconInfo> &reports)
{
    QCOMPARE(summaries(reports), expectedScan(m_reference, m_referenceReports, n, unplug));
}

void TestStationSweeps::routineScan()
{
    runSweep(
        "routine scan",
        [this](const ReceptorDeviceDesc &desc) {
            QMetaObject::invokeMethod(m_com, "scanBeaconsEx", Qt::QueuedConnection,
                                      Q_ARG(ReceptorDeviceDesc, desc), Q_ARG(int, 0));
        },
        [this](uint64_t n, bool unplug, const VirtualReceptor &, const QList<BeaconInfo> &reports) {
            if (n == 0) {
                // Flags, then block and quality of the five slots with news; the malformed one is
                // read but not reported.
                QCOMPARE(m_reference.size(), std::size_t(11));
                QCOMPARE(reports.size(), 4);
                QCOMPARE(reports.at(0).name, QStringLiteral("Alpha"));
                QCOMPARE(reports.at(0).rssi, -60);
                QCOMPARE(reports.at(3).name, QStringLiteral("Foxtrot"));
            }
            checkScan(n, unplug, reports);
        });
}

void TestStationSweeps::initialScan()
{
    runSweep(
        "initial scan",
        [this](const ReceptorDeviceDesc &desc) {
            QMetaObject::invokeMethod(m_com, "scanBeaconsEx", Qt::QueuedConnection,
                                      Q_ARG(ReceptorDeviceDesc, desc), Q_ARG(int, 1));
        },
        [this](uint64_t n, bool unplug, const VirtualReceptor &, const QList<BeaconInfo> &reports) {
            if (n == 0) {
                // Every registered slot is read and reported: the silent one with empty texts, the
                // malformed one as its serial with state 255.
                QCOMPARE(m_reference.size(), std::size_t(13));
                QCOMPARE(reports.size(), 6);
                QCOMPARE(reports.at(2).serial, QStringLiteral("123456789abc"));
                QVERIFY(reports.at(2).name.isEmpty());
                QCOMPARE(reports.at(4).state, quint8(255));
            }
            checkScan(n, unplug, reports);
        });
}

void TestStationSweeps::addBeacon()
{
    runSweep(
        "add beacon",
        [this](const ReceptorDeviceDesc &desc) {
            QMetaObject::invokeMethod(m_com, "addBeacon", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc),
                                      Q_ARG(QString, addedText));
        },
        [this](uint64_t n, bool unplug, const VirtualReceptor &receptor, const QList<BeaconInfo> &reports) {
            if (n == 0) {
                // The add command, then the initial scan of the seven registered slots.
                QCOMPARE(m_reference.size(), std::size_t(16));
                QCOMPARE(m_reference.front().setup.request, quint8(0x50));
                QCOMPARE(reports.size(), 7);
                QCOMPARE(reports.last().serial, addedText);
            }
            // The beacon is registered unless the add command itself was lost.
            QCOMPARE(receptor.slotOf(added), n == 1 ? -1 : 6);
            if (n == 1 && !unplug) {
                // The scan that follows still runs, without the beacon that never got registered.
                QStringList expected = summaries(m_referenceReports);
                expected.removeLast();
                QCOMPARE(summaries(reports), expected);
                return;
            }
            checkScan(n, unplug, reports);
        });
}

void TestStationSweeps::startBeacon()
{
    runSweep(
        "start beacon",
        [this](const ReceptorDeviceDesc &desc) {
            QMetaObject::invokeMethod(m_com, "startBeacon", Qt::QueuedConnection,
                                      Q_ARG(ReceptorDeviceDesc, desc), Q_ARG(QString, serialText(registered[2])),
                                      Q_ARG(int, 300));
        },
        [this](uint64_t n, bool, const VirtualReceptor &receptor, const QList<BeaconInfo> &reports) {
            QCOMPARE(m_reference.size(), std::size_t(1));
            QVERIFY(reports.isEmpty());
            // A lost command changes nothing on the receptor.
            QCOMPARE(receptor.slotState(2), n == 0 ? VirtualReceptor::stateStarted : VirtualReceptor::stateStopped);
            QCOMPARE(receptor.lastStartInterval(), n == 0 ? std::optional<uint16_t>(300) : std::nullopt);
        });
}

QTEST_GUILESS_MAIN(TestStationSweeps)
#include "tst_stationsweeps.moc"
