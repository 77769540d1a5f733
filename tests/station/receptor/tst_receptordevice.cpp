// ReceptorDevice against a virtual receptor on the emulated bus: the setup packets and data it puts
// on the wire, the replies it hands back, and how open failures and bus faults reach its callers.
#include "EmulatedBus.h"
#include "ReceptorDevice.h"
#include "UsbAccess.h"
#include "VirtualReceptor.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace {

const usb::Guid receptorClass = *usb::Guid::parse("{265D0004-043B-458E-B9AA-E5AD6E62320C}");

QByteArray setupOf(const usb::BusRecord &record)
{
    const std::array<uint8_t, 8> bytes = record.setup.bytes();
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), 8);
}

QByteArray outOf(const usb::BusRecord &record)
{
    return QByteArray(reinterpret_cast<const char *>(record.out.data()),
                      static_cast<int>(record.out.size()));
}

VirtualReceptor::Serial serialOf(const QByteArray &bytes)
{
    VirtualReceptor::Serial serial{};
    std::copy(bytes.begin(), bytes.begin() + 6, serial.begin());
    return serial;
}

} // namespace

class TestReceptorDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void opensAsUsbReceptor();
    void commandPackets();
    void readPackets();
    void readsReturnReplies();
    void failedOpenFailsEverything();
    void failedReads();
    void shortRepliesKeepFullSize();
    void unplugFailsLaterReads();

private:
    std::unique_ptr<ReceptorDevice> openReceptor();

    std::shared_ptr<VirtualReceptor> m_receptor;
    QString m_path;
    const QByteArray m_serialA = QByteArray::fromHex("0a1b2c3d4e5f");
    const QByteArray m_serialB = QByteArray::fromHex("000000000002");
};

void TestReceptorDevice::initTestCase()
{
    usb::setPlatformBackendEnabled(false);
}

void TestReceptorDevice::init()
{
    m_receptor = std::make_shared<VirtualReceptor>();
    m_path = QString::fromStdString(
        usb::EmulatedBus::instance().attach(receptorClass, "receptor0", m_receptor));
}

void TestReceptorDevice::cleanup()
{
    usb::EmulatedBus::instance().reset();
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
    m_receptor.reset();
}

std::unique_ptr<ReceptorDevice> TestReceptorDevice::openReceptor()
{
    auto device = std::make_unique<ReceptorDevice>(m_path);
    usb::EmulatedBus::instance().setRecording(true);
    return device;
}

void TestReceptorDevice::opensAsUsbReceptor()
{
    auto device = openReceptor();
    QCOMPARE(device->kind(), 1);
    QVERIFY(device->isOpen());
    QCOMPARE(device->path(), m_path);
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 1);
    // The last reference closes the device.
    device.release()->release();
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
}

void TestReceptorDevice::commandPackets()
{
    auto device = openReceptor();
    device->sendAddBeacon(m_serialA);
    device->sendAddBeacon(m_serialB);
    device->sendStartBeacon(m_serialA, 300);
    device->sendStartBeacon(m_serialB, 70000);  // only the low 16 bits travel: 0x1170
    device->sendStopBeacon(m_serialA);
    device->sendDelBeacon(m_serialB);
    device->sendBootloader();

    const std::vector<usb::BusRecord> record = usb::EmulatedBus::instance().takeRecord();
    QCOMPARE(record.size(), size_t(7));
    const QByteArray expectedSetup[] = {
        QByteArray::fromHex("4050000000000600"), QByteArray::fromHex("4050000000000600"),
        QByteArray::fromHex("4054000000000800"), QByteArray::fromHex("4054000000000800"),
        QByteArray::fromHex("4055000000000600"), QByteArray::fromHex("4051000000000600"),
        QByteArray::fromHex("4070000000000000"),
    };
    const QByteArray expectedOut[] = {
        m_serialA, m_serialB, m_serialA + QByteArray::fromHex("2c01"),
        m_serialB + QByteArray::fromHex("7011"), m_serialA, m_serialB, QByteArray(),
    };
    for (size_t i = 0; i < record.size(); ++i) {
        QCOMPARE(setupOf(record[i]), expectedSetup[i]);
        QCOMPARE(outOf(record[i]), expectedOut[i]);
        QVERIFY(record[i].result.ok());
    }

    // The receptor understood every command.
    const std::vector<VirtualReceptor::Serial> serials = m_receptor->registeredSerials();
    QCOMPARE(serials.size(), size_t(1));
    QVERIFY(serials[0] == serialOf(m_serialA));
    QCOMPARE(m_receptor->slotState(0), VirtualReceptor::stateStopped);
    QVERIFY(m_receptor->lastStartInterval() == uint16_t(0x1170));
    QVERIFY(m_receptor->bootloaderRequested());
}

void TestReceptorDevice::readPackets()
{
    auto device = openReceptor();
    char id[24];
    std::unique_ptr<QByteArray> flags(device->readBeaconFlags());
    std::unique_ptr<QByteArray> info(device->readBeaconInfo(3));
    std::unique_ptr<QByteArray> quality(device->readBeaconQuality(3));
    std::unique_ptr<QByteArray> wrapped(device->readBeaconInfo(0x10013));  // wIndex keeps 0x0013
    QCOMPARE(device->readReceptorId(id), 24);

    const std::vector<usb::BusRecord> record = usb::EmulatedBus::instance().takeRecord();
    QCOMPARE(record.size(), size_t(5));
    QCOMPARE(setupOf(record[0]), QByteArray::fromHex("C052000000001400"));
    QCOMPARE(setupOf(record[1]), QByteArray::fromHex("C053000003003800"));
    QCOMPARE(setupOf(record[2]), QByteArray::fromHex("C056000003000600"));
    QCOMPARE(setupOf(record[3]), QByteArray::fromHex("C053000013003800"));
    QCOMPARE(setupOf(record[4]), QByteArray::fromHex("C001000000001800"));
    QVERIFY(flags && info && quality && wrapped);
}

void TestReceptorDevice::readsReturnReplies()
{
    auto device = openReceptor();
    device->sendAddBeacon(m_serialB);
    device->sendAddBeacon(m_serialA);

    VirtualReceptor::Report report;
    report.date = "120524";
    report.time = "081530";
    report.latitude = "4512.34567N";
    report.longitude = "00612.50000E";
    report.name = "Alpha_1";
    report.memory = 42;
    report.state = 1;
    report.auxValue = 0x0310;
    report.snrQuarterDb = -7;
    report.rssiDbm = 43;
    QVERIFY(m_receptor->setReport(1, report));

    std::unique_ptr<QByteArray> flags(device->readBeaconFlags());
    QVERIFY(flags);
    QCOMPARE(*flags, QByteArray::fromHex("0103") + QByteArray(18, '\0'));

    std::unique_ptr<QByteArray> info(device->readBeaconInfo(1));
    QVERIFY(info);
    QCOMPARE(info->size(), 56);
    QCOMPARE(info->mid(1, 6), m_serialA);
    QCOMPARE(info->mid(7, 12), QByteArray("120524081530"));
    QCOMPARE(info->mid(19, 23), QByteArray("4512.34567N00612.50000E"));
    QCOMPARE(info->mid(42, 4), QByteArray::fromHex("2a011003"));
    QCOMPARE(info->mid(46, 8), QByteArray("Alpha_1") + '\0');

    std::unique_ptr<QByteArray> quality(device->readBeaconQuality(1));
    QVERIFY(quality);
    QCOMPARE(*quality, QByteArray::fromHex("f9c800000000"));

    // Reading the block took the report: the slot is registered with nothing new.
    flags.reset(device->readBeaconFlags());
    QVERIFY(flags);
    QCOMPARE(flags->left(2), QByteArray::fromHex("0101"));

    m_receptor->setIdentification(std::string("RCV123456789abcdefghijklmnop"));
    char id[24];
    QCOMPARE(device->readReceptorId(id), 24);
    QCOMPARE(QByteArray(id, 24), QByteArray("RCV123456789abcdefghijkl"));
}

void TestReceptorDevice::failedOpenFailsEverything()
{
    usb::EmulatedBus::instance().setOpenFails(m_path.toStdString(), true);
    auto device = openReceptor();
    QVERIFY(!device->isOpen());
    QCOMPARE(device->kind(), 1);

    device->sendAddBeacon(m_serialA);
    device->sendStartBeacon(m_serialA, 300);
    device->sendBootloader();
    QVERIFY(!device->readBeaconFlags());
    QVERIFY(!device->readBeaconInfo(0));
    QVERIFY(!device->readBeaconQuality(0));
    char id[24];
    QCOMPARE(device->readReceptorId(id), -1);

    QCOMPARE(usb::EmulatedBus::instance().transferCount(), uint64_t(0));
    QVERIFY(m_receptor->registeredSerials().empty());
    QVERIFY(!m_receptor->bootloaderRequested());
}

void TestReceptorDevice::failedReads()
{
    auto device = openReceptor();
    device->sendAddBeacon(m_serialA);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    usb::Fault fail;
    fail.kind = usb::FaultKind::Fail;
    usb::Fault timeout;
    timeout.kind = usb::FaultKind::Timeout;

    bus.addFault(fail);
    QVERIFY(!std::unique_ptr<QByteArray>(device->readBeaconFlags()));
    bus.addFault(timeout);
    QVERIFY(!std::unique_ptr<QByteArray>(device->readBeaconInfo(0)));
    bus.addFault(fail);
    QVERIFY(!std::unique_ptr<QByteArray>(device->readBeaconQuality(0)));
    bus.addFault(timeout);
    char id[24];
    QCOMPARE(device->readReceptorId(id), -1);

    // A failed transfer changes nothing for the next one.
    std::unique_ptr<QByteArray> flags(device->readBeaconFlags());
    QVERIFY(flags);
    QCOMPARE(flags->at(0), char(1));
}

void TestReceptorDevice::shortRepliesKeepFullSize()
{
    auto device = openReceptor();
    device->sendAddBeacon(m_serialA);
    VirtualReceptor::Report report;
    report.date = "120524";
    report.name = "Bravo";
    report.snrQuarterDb = 8;
    report.rssiDbm = -57;
    QVERIFY(m_receptor->setReport(0, report));

    usb::Fault fault;
    fault.kind = usb::FaultKind::Shorten;
    fault.shortenTo = 10;
    usb::EmulatedBus::instance().addFault(fault);
    std::unique_ptr<QByteArray> info(device->readBeaconInfo(0));
    QVERIFY(info);
    QCOMPARE(info->size(), 56);
    QCOMPARE(info->left(10), '*' + m_serialA + "120");
    QCOMPARE(info->mid(10), QByteArray(46, '\0'));

    fault.shortenTo = 1;
    usb::EmulatedBus::instance().addFault(fault);
    std::unique_ptr<QByteArray> quality(device->readBeaconQuality(0));
    QVERIFY(quality);
    QCOMPARE(*quality, QByteArray::fromHex("080000000000"));

    // The identification read reports the count actually moved; the rest of the buffer is 0,
    // whatever it held before.
    m_receptor->setIdentification(std::string("RCV123456789abcdefghijkl"));
    fault.shortenTo = 12;
    usb::EmulatedBus::instance().addFault(fault);
    char id[24];
    std::fill(std::begin(id), std::end(id), 'Z');
    QCOMPARE(device->readReceptorId(id), 12);
    QCOMPARE(QByteArray(id, 24), QByteArray("RCV123456789") + QByteArray(12, '\0'));
}

void TestReceptorDevice::unplugFailsLaterReads()
{
    auto device = openReceptor();
    usb::Fault fault;
    fault.kind = usb::FaultKind::Unplug;
    fault.atTransfer = 2;
    usb::EmulatedBus::instance().addFault(fault);

    std::unique_ptr<QByteArray> flags(device->readBeaconFlags());
    QVERIFY(flags);
    flags.reset(device->readBeaconFlags());
    QVERIFY(!flags);
    QVERIFY(!std::unique_ptr<QByteArray>(device->readBeaconInfo(0)));
    QVERIFY(!std::unique_ptr<QByteArray>(device->readBeaconQuality(0)));
    char id[24];
    QCOMPARE(device->readReceptorId(id), -1);
    device->sendAddBeacon(m_serialA);
    QVERIFY(m_receptor->registeredSerials().empty());
}

QTEST_GUILESS_MAIN(TestReceptorDevice)
#include "tst_receptordevice.moc"
