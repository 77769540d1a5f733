// The station's receptor through the real libusb backend and the kernel's USB file system (the
// usbfs bridge under umockdev): the bytes of every receptor request as the device receives them,
// and, end to end, the detector finding the receptor and a scan delivering its report, then the
// receptor unplugged.
#include "KitDeclarations.h"
#include "ReceptorCom.h"
#include "ReceptorDetector.h"
#include "ReceptorDevice.h"
#include "ReceptorMetaTypes.h"
#include "UmockdevTestMain.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"
#include "VirtualReceptor.h"

#include <QApplication>

using Request = UsbfsBridge::Request;

namespace {

const QByteArray serialBytes = QByteArray::fromHex("0123456789ab");
const VirtualReceptor::Serial serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab};

VirtualReceptor::Report report()
{
    return testdevices::receptorReport("BALISE1");
}

// The vendor requests the receptor received, as setup bytes followed by the data sent.
QList<QByteArray> vendorRequests(const std::vector<Request> &requests)
{
    QList<QByteArray> list;
    for (const Request &r : requests) {
        if (!r.control || (r.setup.requestType & 0x60) != 0x40 || r.setup.request == kitdescriptors::receptorVendorCode)
            continue;
        const auto setup = r.setup.bytes();
        list << QByteArray(reinterpret_cast<const char *>(setup.data()), 8).toHex(' ') + " | " +
                    QByteArray(reinterpret_cast<const char *>(r.out.data()), int(r.out.size())).toHex(' ');
    }
    return list;
}

// The detector's and the worker's signals, received on the test thread as the window gets them.
class StationLog : public QObject
{
public:
    QStringList events;
    QList<ReceptorDeviceDesc> handles;
    QList<BeaconInfo> infos;
};

} // namespace

class TestKorvaneUmockdev : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everyReceptorRequestReachesTheDevice();
    void detectorFindsTheReceptorAndScanDeliversTheReport();

private:
    std::unique_ptr<UsbfsBridge> m_bridge;
};

void TestKorvaneUmockdev::initTestCase()
{
    registerReceptorMetaTypes();
    // Before anything reaches libusb.
    m_bridge = std::make_unique<UsbfsBridge>();
}

void TestKorvaneUmockdev::everyReceptorRequestReachesTheDevice()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    receptor->setIdentification("RCPT00000042XXXXXXXX");
    const int address = m_bridge->plug(1, kitdescriptors::receptor(receptor->pipes(), usb::kitReceptorClass()), receptor);
    std::vector<std::string> paths;
    QTRY_VERIFY_WITH_TIMEOUT(!(paths = usb::listDevicePaths(usb::kitReceptorClass())).empty(), 5000);
    QCOMPARE(paths, std::vector<std::string>{"usb:1-1:0"});

    {
        ReceptorDevice device(QString::fromStdString(paths.front()));
        QVERIFY(device.isOpen());
        device.sendAddBeacon(serialBytes);
        QCOMPARE(receptor->slotOf(serial), 0);
        QVERIFY(receptor->postReport(serial, report()));

        std::unique_ptr<QByteArray> flags(device.readBeaconFlags());
        QVERIFY(flags);
        QCOMPARE(flags->size(), 20);
        QCOMPARE(quint8(flags->at(0)), quint8(VirtualReceptor::flagRegistered | VirtualReceptor::flagNewReport));
        std::unique_ptr<QByteArray> info(device.readBeaconInfo(0));
        QVERIFY(info);
        QCOMPARE(info->size(), 56);
        QVERIFY(info->contains("BALISE1"));
        device.sendStartBeacon(serialBytes, 300);
        QCOMPARE(receptor->lastStartInterval(), std::optional<uint16_t>(300));
        device.sendStopBeacon(serialBytes);
        std::unique_ptr<QByteArray> quality(device.readBeaconQuality(3));
        QVERIFY(quality);
        QCOMPARE(quality->size(), 6);
        char id[24] = {};
        QCOMPARE(device.readReceptorId(id), 24);
        QCOMPARE(QByteArray(id, 12), QByteArray("RCPT00000042"));
        device.sendDelBeacon(serialBytes);
        QCOMPARE(receptor->slotOf(serial), -1);
        device.sendBootloader();
        QVERIFY(receptor->bootloaderRequested());
    }

    QCOMPARE(vendorRequests(m_bridge->requests(address)),
             QList<QByteArray>({"40 50 00 00 00 00 06 00 | 01 23 45 67 89 ab",
                                "c0 52 00 00 00 00 14 00 | ",
                                "c0 53 00 00 00 00 38 00 | ",
                                "40 54 00 00 00 00 08 00 | 01 23 45 67 89 ab 2c 01",
                                "40 55 00 00 00 00 06 00 | 01 23 45 67 89 ab",
                                "c0 56 00 00 03 00 06 00 | ",
                                "c0 01 00 00 00 00 18 00 | ",
                                "40 51 00 00 00 00 06 00 | 01 23 45 67 89 ab",
                                "40 70 00 00 00 00 00 00 | "}));
    m_bridge->unplug(address);
    QTRY_VERIFY_WITH_TIMEOUT(usb::listDevicePaths(usb::kitReceptorClass()).empty(), 5000);
}

void TestKorvaneUmockdev::detectorFindsTheReceptorAndScanDeliversTheReport()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    QVERIFY(receptor->registerSerial(serial) == 0);
    QVERIFY(receptor->postReport(serial, report()));
    const int address = m_bridge->plug(2, kitdescriptors::receptor(receptor->pipes(), usb::kitReceptorClass()), receptor);

    StationLog log;
    auto detector = std::make_unique<ReceptorDetector>();
    auto worker = std::make_unique<ReceptorCom>();
    connect(detector.get(), &ReceptorDetector::receptorConnected, &log, [&log](ReceptorDeviceDesc dev) {
        const auto *real = dynamic_cast<ReceptorDevice *>(dev.device());
        log.events << (real ? "connected " + real->path() : QStringLiteral("connected ?"));
        log.handles << dev;
    });
    connect(detector.get(), &ReceptorDetector::receptorDisconnected, &log,
            [&log] { log.events << QStringLiteral("disconnected"); });
    connect(worker.get(), &ReceptorCom::beaconInfo, &log, [&log](BeaconInfo info) { log.infos << info; });

    // Polled as the window's timer does, until the receptor is announced.
    QTRY_VERIFY_WITH_TIMEOUT(
        (QMetaObject::invokeMethod(detector.get(), "refresh", Qt::QueuedConnection), !log.events.isEmpty()), 5000);
    QCOMPARE(log.events, QStringList({"connected usb:1-2:0"}));

    QMetaObject::invokeMethod(worker.get(), "scanBeacons", Qt::QueuedConnection,
                              Q_ARG(ReceptorDeviceDesc, log.handles.first()));
    QTRY_COMPARE_WITH_TIMEOUT(log.infos.size(), 1, 5000);
    const BeaconInfo info = log.infos.first();
    QCOMPARE(info.serial, QStringLiteral("0123456789ab"));
    QCOMPARE(info.name, QStringLiteral("BALISE1"));
    QCOMPARE(info.date, QStringLiteral("010224"));
    QCOMPARE(info.latitude, QStringLiteral("4512.34567N"));
    QCOMPARE(info.rssi, -60);
    QCOMPARE(info.snr, 5);
    // The report was read once: its flag is down again.
    QCOMPARE(receptor->flags()[0], VirtualReceptor::flagRegistered);

    log.handles.clear();
    m_bridge->unplug(address);
    QTRY_VERIFY_WITH_TIMEOUT(
        (QMetaObject::invokeMethod(detector.get(), "refresh", Qt::QueuedConnection), log.events.size() == 2), 5000);
    QCOMPARE(log.events.last(), QStringLiteral("disconnected"));
}

KORVANE_UMOCKDEV_TEST_MAIN(TestKorvaneUmockdev, QCoreApplication)
#include "tst_korvane_umockdev.moc"
