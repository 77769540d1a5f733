// The receptor worker on its own thread, against the emulated USB receptor and the simulated one:
// which slots a scan reads and reports, the commands on the wire, and a receptor lost mid-scan.
#include "EmulatedBus.h"
#include "ReceptorCom.h"
#include "ReceptorDetector.h"
#include "ReceptorDevice.h"
#include "ReceptorDeviceFake.h"
#include "ReceptorMetaTypes.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"
#include "VirtualReceptor.h"

#include <QMutex>
#include <QSemaphore>
#include <QLoggingCategory>
#include <QtTest>

#include <atomic>
#include <cstring>

namespace
{
QMutex debugMutex;
QStringList debugLines;
QtMessageHandler previousHandler = nullptr;

// Debug lines come from the worker thread.
void captureDebug(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg) {
        QMutexLocker lock(&debugMutex);
        debugLines << message;
    }
    previousHandler(type, context, message);
}

QStringList takeDebugLines()
{
    QMutexLocker lock(&debugMutex);
    QStringList lines;
    lines.swap(debugLines);
    return lines;
}

QStringList reportLines(const QStringList &lines)
{
    return lines.filter(QStringLiteral(" is at "));
}

const VirtualReceptor::Serial serialA = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};
const VirtualReceptor::Serial serialB = {0x00, 0x00, 0x00, 0x00, 0x00, 0xb2};

VirtualReceptor::Report goodReport(const std::string &name)
{
    VirtualReceptor::Report report = testdevices::receptorReport(name);
    report.auxValue = 7;
    return report;
}

// A handle that owns the receptor alone once the creator's first reference is dropped.
ReceptorDeviceDesc adopt(ReceptorDeviceGeneric *device)
{
    ReceptorDeviceDesc desc(device);
    device->release();
    return desc;
}

// A receptor whose flags read blocks until the test lets it go; three slots with news follow.
class BlockingReceptor : public ReceptorDeviceGeneric
{
public:
    QSemaphore entered;
    QSemaphore go;
    std::atomic<int> infoReads{0};

    void sendAddBeacon(QByteArray) override {}
    void sendDelBeacon(QByteArray) override {}
    QByteArray *readBeaconFlags() override
    {
        entered.release();
        go.acquire();
        return new QByteArray(3, '\x03');
    }
    QByteArray *readBeaconInfo(int slot) override
    {
        ++infoReads;
        QByteArray block(56, '\0');
        block[6] = char(slot);
        block.replace(46, 3, "Blk");
        return new QByteArray(block);
    }
    void sendStartBeacon(QByteArray, int) override {}
    void sendStopBeacon(QByteArray) override {}
    void sendBootloader() override {}
    QByteArray *readBeaconQuality(int) override { return nullptr; }
    int readReceptorId(char *) override { return -1; }
};
} // namespace

// Takes the worker's reports on the test thread through a queued connection, as the window does.
class BeaconSink : public QObject
{
    Q_OBJECT
signals:
    void beaconInfo(BeaconInfo info);
};

class TestReceptorCom : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void interface();
    void scanFlags();
    void invalidNameOnlyInInitialScans();
    void addThenInitialScan();
    void commandsOnTheWire();
    void getBeaconInfoCausesNoTraffic();
    void simulatedBeaconWalks();
    void destructionWaitsForRunningScan();
    void unplugDuringScan_data();
    void unplugDuringScan();

private:
    ReceptorDeviceDesc attachReceptor(std::shared_ptr<VirtualReceptor> receptor);
    void settle();
    QList<BeaconInfo> takeReports();

    ReceptorCom *m_com = nullptr;
    BeaconSink *m_sink = nullptr;
    QSignalSpy *m_spy = nullptr;
};

void TestReceptorCom::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("korvane.tracking.debug=true"));
    registerReceptorMetaTypes();
    usb::setPlatformBackendEnabled(false);
    previousHandler = qInstallMessageHandler(captureDebug);
}

void TestReceptorCom::init()
{
    usb::EmulatedBus::instance().reset();
    m_com = new ReceptorCom;
    m_sink = new BeaconSink;
    connect(m_com, &ReceptorCom::beaconInfo, m_sink, &BeaconSink::beaconInfo);
    m_spy = new QSignalSpy(m_sink, &BeaconSink::beaconInfo);
    takeDebugLines();
}

void TestReceptorCom::cleanup()
{
    delete m_com;
    m_com = nullptr;
    QCoreApplication::sendPostedEvents();
    delete m_spy;
    delete m_sink;
    // Every receptor handle that crossed to the worker was dropped there.
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
}

ReceptorDeviceDesc TestReceptorCom::attachReceptor(std::shared_ptr<VirtualReceptor> receptor)
{
    const std::string path = usb::EmulatedBus::instance().attach(ReceptorDetector::interfaceClass(),
                                                                 "receptor", std::move(receptor));
    return adopt(new ReceptorDevice(QString::fromStdString(path)));
}

// Waits until the worker thread has run everything queued so far, then delivers its reports.
void TestReceptorCom::settle()
{
    QMetaObject::invokeMethod(m_com, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents();
}

QList<BeaconInfo> TestReceptorCom::takeReports()
{
    QList<BeaconInfo> reports;
    for (const QList<QVariant> &arguments : qAsConst(*m_spy))
        reports << arguments.at(0).value<BeaconInfo>();
    m_spy->clear();
    return reports;
}

void TestReceptorCom::interface()
{
    const QMetaObject &meta = ReceptorCom::staticMetaObject;
    const QList<QByteArray> expected = {
        "beaconInfo(BeaconInfo)",
        "scanBeacons(ReceptorDeviceDesc)",
        "scanBeaconsInit(ReceptorDeviceDesc)",
        "addBeacon(ReceptorDeviceDesc,QString)",
        "delBeacon(ReceptorDeviceDesc,QString)",
        "getBeaconInfo(ReceptorDeviceDesc)",
        "startBeacon(ReceptorDeviceDesc,QString,int)",
        "stopBeacon(ReceptorDeviceDesc,QString)",
        "scanBeaconsEx(ReceptorDeviceDesc,int)",
        "bootloaderMode(ReceptorDeviceDesc)",
    };
    QCOMPARE(meta.methodCount() - meta.methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(meta.method(meta.methodOffset() + i).methodSignature(), expected.at(i));
    QCOMPARE(meta.method(meta.methodOffset()).parameterNames(), QList<QByteArray>{"info"});
    QCOMPARE(meta.method(meta.methodOffset() + 6).parameterNames(),
             (QList<QByteArray>{"dev", "id", "freq"}));
    QCOMPARE(meta.method(meta.methodOffset() + 8).parameterNames(),
             (QList<QByteArray>{"dev", "initial"}));
    QVERIFY(m_com->thread() != QThread::currentThread());
}

void TestReceptorCom::scanFlags()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    QCOMPARE(receptor->registerSerial(serialA), 0);
    QVERIFY(receptor->setReport(0, goodReport("Alpha")));
    const ReceptorDeviceDesc desc = attachReceptor(receptor);
    auto &bus = usb::EmulatedBus::instance();

    // Flags 03: the routine scan reads slot 0 (flags, block, quality) and reports it.
    bus.resetCounters();
    QMetaObject::invokeMethod(m_com, "scanBeacons", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();
    QCOMPARE(bus.transferCount(), uint64_t(3));
    QList<BeaconInfo> reports = takeReports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).serial, QStringLiteral("0a1b2c3d4e5f"));
    QCOMPARE(reports.at(0).name, QStringLiteral("Alpha"));
    QCOMPARE(reports.at(0).snr, 5);
    QCOMPARE(reports.at(0).rssi, -60);
    QCOMPARE(reportLines(takeDebugLines()),
             QStringList{"010224 123456 : 0a1b2c3d4e5f(Alpha) is at 4512.34567N 00612.50000E "
                         "state 2 memory used 40\n"});

    // Flags 01: a routine scan costs the flags read alone; an initial scan reads and reports slot 0.
    bus.resetCounters();
    QMetaObject::invokeMethod(m_com, "scanBeacons", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();
    QCOMPARE(bus.transferCount(), uint64_t(1));
    QCOMPARE(m_spy->count(), 0);

    QMetaObject::invokeMethod(m_com, "scanBeaconsInit", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();
    QCOMPARE(bus.transferCount(), uint64_t(4));
    reports = takeReports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).name, QStringLiteral("Alpha"));

    // Any non-zero `initial` makes an initial scan.
    QMetaObject::invokeMethod(m_com, "scanBeaconsEx", Qt::QueuedConnection,
                              Q_ARG(ReceptorDeviceDesc, desc), Q_ARG(int, 7));
    QMetaObject::invokeMethod(m_com, "scanBeaconsEx", Qt::QueuedConnection,
                              Q_ARG(ReceptorDeviceDesc, desc), Q_ARG(int, 0));
    settle();
    QCOMPARE(m_spy->count(), 1);
}

void TestReceptorCom::invalidNameOnlyInInitialScans()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->registerSerial(serialA);
    receptor->registerSerial(serialB);
    VirtualReceptor::Report malformed = goodReport("Alpha");
    VirtualReceptor::InfoBlock raw{};
    raw[0] = '*';
    std::copy(serialA.begin(), serialA.end(), raw.begin() + 1);
    std::memcpy(raw.data() + 7, "010224123456", 12);
    std::memcpy(raw.data() + 46, "AB-1", 4);
    malformed.raw = raw;
    receptor->setReport(0, malformed);
    receptor->setReport(1, goodReport("Bravo"));
    const ReceptorDeviceDesc desc = attachReceptor(receptor);

    QMetaObject::invokeMethod(m_com, "scanBeacons", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();
    QList<BeaconInfo> reports = takeReports();
    QCOMPARE(reports.size(), 1);
    QCOMPARE(reports.at(0).name, QStringLiteral("Bravo"));

    receptor->setReport(0, malformed);
    takeDebugLines();
    QMetaObject::invokeMethod(m_com, "scanBeaconsInit", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();
    reports = takeReports();
    QCOMPARE(reports.size(), 2);
    const BeaconInfo &reduced = reports.at(0);
    QCOMPARE(reduced.serial, QStringLiteral("0a1b2c3d4e5f"));
    QCOMPARE(reduced.state, quint8(255));
    QVERIFY(reduced.name.isEmpty() && reduced.date.isEmpty() && reduced.time.isEmpty());
    QVERIFY(reduced.latitude.isEmpty() && reduced.longitude.isEmpty());
    QCOMPARE(reduced.snr, 0);
    QCOMPARE(reduced.rssi, 0);
    // Only the well-formed report is written out.
    const QStringList lines = reportLines(takeDebugLines());
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.at(0).contains(QStringLiteral("(Bravo)")));
}

void TestReceptorCom::addThenInitialScan()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->registerSerial(serialB);
    const ReceptorDeviceDesc desc = attachReceptor(receptor);
    auto &bus = usb::EmulatedBus::instance();
    bus.setRecording(true);

    QMetaObject::invokeMethod(m_com, "addBeacon", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc),
                              Q_ARG(QString, QStringLiteral("0a1b2c3d4e5f")));
    settle();
    QCOMPARE(receptor->slotOf(serialA), 1);

    const std::vector<usb::BusRecord> record = bus.takeRecord();
    QCOMPARE(record.size(), std::size_t(6));  // add, flags, then block and quality of both slots
    QCOMPARE(record[0].setup.request, quint8(0x50));
    QCOMPARE(record[0].out, std::vector<uint8_t>(serialA.begin(), serialA.end()));
    QCOMPARE(record[1].setup.request, quint8(0x52));

    // Neither slot has news, yet both are reported once.
    const QList<BeaconInfo> reports = takeReports();
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports.at(0).serial, QStringLiteral("0000000000b2"));
    QCOMPARE(reports.at(1).serial, QStringLiteral("0a1b2c3d4e5f"));
}

void TestReceptorCom::commandsOnTheWire()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->registerSerial(serialA);
    receptor->registerSerial(serialB);
    const ReceptorDeviceDesc desc = attachReceptor(receptor);
    auto &bus = usb::EmulatedBus::instance();
    bus.setRecording(true);

    QMetaObject::invokeMethod(m_com, "startBeacon", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc),
                              Q_ARG(QString, QStringLiteral("0a1b2c3d4e5f")), Q_ARG(int, 300));
    QMetaObject::invokeMethod(m_com, "stopBeacon", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc),
                              Q_ARG(QString, QStringLiteral("0000000000b2")));
    QMetaObject::invokeMethod(m_com, "delBeacon", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc),
                              Q_ARG(QString, QStringLiteral("0000000000b2")));
    QMetaObject::invokeMethod(m_com, "bootloaderMode", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();

    const std::vector<usb::BusRecord> record = bus.takeRecord();
    QCOMPARE(record.size(), std::size_t(4));
    QCOMPARE(record[0].setup.request, quint8(0x54));
    QCOMPARE(record[0].out, (std::vector<uint8_t>{0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f, 0x2c, 0x01}));
    QCOMPARE(record[1].setup.request, quint8(0x55));
    QCOMPARE(record[2].setup.request, quint8(0x51));
    QCOMPARE(record[2].out, std::vector<uint8_t>(serialB.begin(), serialB.end()));
    QCOMPARE(record[3].setup.request, quint8(0x70));

    QCOMPARE(receptor->slotState(0), VirtualReceptor::stateStarted);
    QCOMPARE(receptor->slotOf(serialB), -1);
    QVERIFY(receptor->bootloaderRequested());
    QCOMPARE(m_spy->count(), 0);
}

void TestReceptorCom::getBeaconInfoCausesNoTraffic()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->registerSerial(serialA);
    receptor->setReport(0, goodReport("Alpha"));
    const ReceptorDeviceDesc desc = attachReceptor(receptor);
    usb::EmulatedBus::instance().resetCounters();

    QMetaObject::invokeMethod(m_com, "getBeaconInfo", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();
    QCOMPARE(usb::EmulatedBus::instance().transferCount(), uint64_t(0));
    QCOMPARE(m_spy->count(), 0);
    // The queued copy was dropped on the worker thread.
    QCOMPARE(desc->refCount(), 1);
}

void TestReceptorCom::simulatedBeaconWalks()
{
    const ReceptorDeviceDesc desc = adopt(new ReceptorDeviceFake);
    for (int scan = 0; scan < 16; ++scan)
        QMetaObject::invokeMethod(m_com, "scanBeacons", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();

    const QList<BeaconInfo> reports = takeReports();
    QCOMPARE(reports.size(), 16);
    QCOMPARE(reports.at(0).serial, QStringLiteral("000000000002"));
    QCOMPARE(reports.at(0).name, QStringLiteral("Fake0000"));
    QCOMPARE(reports.at(0).memory, 51);
    QCOMPARE(reports.at(0).latitude, QStringLiteral("3536.46610N"));
    QCOMPARE(reports.at(0).longitude, QStringLiteral("13954.09530E"));
    QCOMPARE(reports.at(1).latitude, QStringLiteral("3537.30820N"));
    QCOMPARE(reports.at(1).longitude, QStringLiteral("13958.36500E"));
    QCOMPARE(reports.at(14).latitude, QStringLiteral("3536.10440N"));
    QCOMPARE(reports.at(15).latitude, QStringLiteral("3536.46610N"));

    const QStringList lines = reportLines(takeDebugLines());
    QCOMPARE(lines.size(), 16);
    const QRegularExpression line(QStringLiteral(
        "^\\d{6} \\d{6} : 000000000002\\(Fake0000\\) is at 3536.46610N 13954.09530E state 0 memory used 51\n$"));
    QVERIFY2(line.match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));

    // Once its only beacon is deleted, scans of the simulated receptor report nothing.
    QMetaObject::invokeMethod(m_com, "delBeacon", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc),
                              Q_ARG(QString, QStringLiteral("000000000002")));
    QMetaObject::invokeMethod(m_com, "scanBeaconsInit", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    settle();
    QCOMPARE(m_spy->count(), 0);
}

void TestReceptorCom::destructionWaitsForRunningScan()
{
    auto *receptor = new BlockingReceptor;
    const ReceptorDeviceDesc desc = adopt(receptor);
    QMetaObject::invokeMethod(m_com, "scanBeacons", Qt::QueuedConnection, Q_ARG(ReceptorDeviceDesc, desc));
    receptor->entered.acquire();
    receptor->go.release();
    delete m_com;
    m_com = nullptr;

    // The scan ran to its end before the worker went away.
    QCOMPARE(receptor->infoReads.load(), 3);
    QCOMPARE(desc->refCount(), 1);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(m_spy->count(), 3);
}

void TestReceptorCom::unplugDuringScan_data()
{
    QTest::addColumn<int>("unplugAt");
    QTest::addColumn<int>("reported");
    QTest::addColumn<bool>("lastHasQuality");

    // Transfers of the scan: 1 flags, 2 block 0, 3 quality 0, 4 block 1, 5 quality 1.
    QTest::newRow("flags") << 1 << 0 << false;
    QTest::newRow("block of slot 0") << 2 << 0 << false;
    QTest::newRow("quality of slot 0") << 3 << 1 << false;
    QTest::newRow("block of slot 1") << 4 << 1 << true;
    QTest::newRow("quality of slot 1") << 5 << 2 << false;
}

void TestReceptorCom::unplugDuringScan()
{
    QFETCH(int, unplugAt);
    QFETCH(int, reported);
    QFETCH(bool, lastHasQuality);

    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->registerSerial(serialA);
    receptor->registerSerial(serialB);
    receptor->setReport(0, goodReport("Alpha"));
    receptor->setReport(1, goodReport("Bravo"));
    auto &bus = usb::EmulatedBus::instance();
    const std::string path = bus.attach(ReceptorDetector::interfaceClass(), "receptor", receptor);

    auto detector = std::make_unique<ReceptorDetector>();
    QList<ReceptorDeviceDesc> announced;
    int losses = 0;
    connect(detector.get(), &ReceptorDetector::receptorConnected, this,
            [&announced](ReceptorDeviceDesc dev) { announced << dev; });
    connect(detector.get(), &ReceptorDetector::receptorDisconnected, this, [&losses] { ++losses; });
    auto pollDetector = [&detector] {
        QMetaObject::invokeMethod(detector.get(), "refresh", Qt::QueuedConnection);
        QMetaObject::invokeMethod(detector.get(), [] {}, Qt::BlockingQueuedConnection);
        QCoreApplication::sendPostedEvents();
    };
    pollDetector();
    QCOMPARE(announced.size(), 1);

    bus.addFault(usb::Fault{usb::FaultKind::Unplug, uint64_t(unplugAt), 0, path});
    QMetaObject::invokeMethod(m_com, "scanBeacons", Qt::QueuedConnection,
                              Q_ARG(ReceptorDeviceDesc, announced.first()));
    settle();

    const QList<BeaconInfo> reports = takeReports();
    QCOMPARE(reports.size(), reported);
    if (reported > 0) {
        QCOMPARE(reports.first().name, QStringLiteral("Alpha"));
        QCOMPARE(reports.last().rssi, lastHasQuality ? -60 : 0);
        QCOMPARE(reports.last().snr, lastHasQuality ? 5 : 0);
    }

    // Later scans of the lost receptor fail at the flags read; the next poll reports the loss.
    QMetaObject::invokeMethod(m_com, "scanBeaconsInit", Qt::QueuedConnection,
                              Q_ARG(ReceptorDeviceDesc, announced.first()));
    settle();
    QCOMPARE(m_spy->count(), 0);
    pollDetector();
    QCOMPARE(losses, 1);
    QCOMPARE(announced.first()->refCount(), 1);
}

QTEST_GUILESS_MAIN(TestReceptorCom)
#include "tst_receptorcom.moc"
