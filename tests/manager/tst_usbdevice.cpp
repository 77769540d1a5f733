// USBDevice against a virtual module on the emulated bus: the bytes of every request, the records it
// decodes, page reads and erases under bus faults, and holder counting of its descriptors.
#include "EmulatedBus.h"
#include "MemoryState.h"
#include "QuorvelMetaTypes.h"
#include "USBDevice.h"
#include "USBDeviceDesc.h"
#include "UsbAccess.h"
#include "VirtualModule.h"

#include <QTextCodec>
#include <QLoggingCategory>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

namespace {

const usb::Guid moduleClass = *usb::Guid::parse("{86939D4C-A46D-4604-81DF-8BE24B211E48}");

std::mutex logMutex;
std::vector<std::string> logLines;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    const std::string line = message.toStdString();
    std::lock_guard<std::mutex> lock(logMutex);
    logLines.push_back(line);
}

int logged(const QString &line)
{
    const std::string wanted = line.toStdString();
    std::lock_guard<std::mutex> lock(logMutex);
    return static_cast<int>(std::count(logLines.begin(), logLines.end(), wanted));
}

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

VirtualModule::Page patternPage(uint8_t seed)
{
    VirtualModule::Page page;
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(seed + i);
    return page;
}

usb::Fault faultAt(usb::FaultKind kind, uint64_t transfer, std::size_t shortenTo = 0)
{
    usb::Fault fault;
    fault.kind = kind;
    fault.atTransfer = transfer;
    fault.shortenTo = shortenTo;
    return fault;
}

} // namespace

class TestUSBDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestPackets();
    void deviceInfo();
    void deviceInfoFailures();
    void memoryInfo();
    void renameCutsToEightBytes();
    void readPage();
    void readPageFaults_data();
    void readPageFaults();
    void readPageAcceptsShortSlice();
    void eraseWaitsForIdle();
    void eraseFailures();
    void failedOpenFailsEverything();
    void holdersBalance();
    void holdersAcrossThreads();
    void metaTypesRegistered();

private:
    std::shared_ptr<VirtualModule> m_module;
    QString m_path;
    QtMessageHandler m_previousHandler = nullptr;
};

void TestUSBDevice::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.module.debug=true"));
    usb::setPlatformBackendEnabled(false);
}

void TestUSBDevice::init()
{
    usb::EmulatedBus::instance().reset();
    m_module = std::make_shared<VirtualModule>("0123456789AB", "TRK1");
    m_path = QString::fromStdString(
        usb::EmulatedBus::instance().attach(moduleClass, "module0", m_module));
    logLines.clear();
    m_previousHandler = qInstallMessageHandler(captureMessage);
}

void TestUSBDevice::cleanup()
{
    qInstallMessageHandler(m_previousHandler);
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
    usb::EmulatedBus::instance().reset();
}

void TestUSBDevice::requestPackets()
{
    m_module->setEraseBusyPolls(0);
    USBDevice device(m_path);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    bus.setRecording(true);

    device.getDeviceInfo();
    device.setName(QStringLiteral("ABC"));
    device.getMemoryInfo();
    char page[256];
    QCOMPARE(device.readPage(page, 0x12345, sizeof page), 256);
    device.eraseSector(0x100);
    QVERIFY(device.endErase());
    QVERIFY(device.enterBootloader());

    const std::vector<usb::BusRecord> record = bus.takeRecord();
    QCOMPARE(record.size(), std::size_t(12));
    QCOMPARE(setupOf(record[0]), QByteArray::fromHex("c001000000001800"));
    QCOMPARE(setupOf(record[1]), QByteArray::fromHex("4002000000000800"));
    QCOMPARE(outOf(record[1]), QByteArray::fromHex("4142430000000000"));
    QCOMPARE(setupOf(record[2]), QByteArray::fromHex("c003000000000c00"));
    QCOMPARE(setupOf(record[3]), QByteArray::fromHex("4004000000000400"));
    QCOMPARE(outOf(record[3]), QByteArray::fromHex("45230100"));
    for (int slice = 4; slice < 8; ++slice) {
        QVERIFY(record[slice].bulk);
        QCOMPARE(record[slice].pipeId, VirtualModule::bulkInPipe);
        QCOMPARE(record[slice].result.transferred, std::size_t(64));
    }
    QCOMPARE(setupOf(record[8]), QByteArray::fromHex("4007000000000400"));
    QCOMPARE(outOf(record[8]), QByteArray::fromHex("00010000"));
    QCOMPARE(setupOf(record[9]), QByteArray::fromHex("c006000000000100"));
    QCOMPARE(setupOf(record[10]), QByteArray::fromHex("4008000000000400"));
    QCOMPARE(outOf(record[10]), QByteArray::fromHex("00000000"));
    QCOMPARE(setupOf(record[11]), QByteArray::fromHex("4070000000000000"));
    QVERIFY(record[11].out.empty());
    QVERIFY(m_module->bootloaderRequested());
    QCOMPARE(m_module->endEraseCount(), 1);
}

void TestUSBDevice::deviceInfo()
{
    m_module->setName("ABCDEFGH");
    m_module->setVersions(1, 4, 2, 0);
    USBDevice device(m_path);
    {
        const USBDeviceDesc desc = device.getDeviceInfo();
        QCOMPARE(desc.device, &device);
        QCOMPARE(device.holders(), 2);
        QCOMPARE(desc.serialNumber, QStringLiteral("0123456789AB"));
        QCOMPARE(desc.name, QStringLiteral("ABCDEFGH"));
        QCOMPARE(desc.hardwareVersion, QStringLiteral("1.4"));
        QCOMPARE(desc.softwareVersion, QStringLiteral("2.0"));
    }
    QCOMPARE(device.holders(), 1);

    // Texts end at the first zero byte; versions are unsigned.
    m_module->setSerial("12345");
    m_module->setName("");
    m_module->setVersions(255, 10, 0, 0);
    const USBDeviceDesc desc = device.getDeviceInfo();
    QCOMPARE(desc.serialNumber, QStringLiteral("12345"));
    QCOMPARE(desc.name, QString());
    QCOMPARE(desc.hardwareVersion, QStringLiteral("255.10"));
}

void TestUSBDevice::deviceInfoFailures()
{
    USBDevice device(m_path);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();

    bus.addFault(faultAt(usb::FaultKind::Fail, 1));
    USBDeviceDesc desc = device.getDeviceInfo();
    QCOMPARE(desc.device, &device);
    QVERIFY(desc.serialNumber.isEmpty() && desc.name.isEmpty());
    QVERIFY(desc.hardwareVersion.isEmpty() && desc.softwareVersion.isEmpty());
    // The code WinUSB gives for a failed request (ERROR_GEN_FAILURE), not the layer's outcome.
    QCOMPARE(logged(QStringLiteral("Failed to get device info (0x0000001f)\n")), 1);

    // A transfer that succeeds without moving a byte is a failure too.
    bus.addFault(faultAt(usb::FaultKind::Shorten, 1, 0));
    desc = device.getDeviceInfo();
    QVERIFY(desc.serialNumber.isEmpty());
    QCOMPARE(logged(QStringLiteral("Failed to get device info (0x00000000)\n")), 1);
}

void TestUSBDevice::memoryInfo()
{
    m_module->setMemoryCounters(0x2000000, 0x12345678, 70000);
    USBDevice device(m_path);
    MemoryState state = device.getMemoryInfo();
    QCOMPARE(state.totalSize, 0x2000000);
    QCOMPARE(state.usedSize, 0x12345678);
    QCOMPARE(state.recordCount, 70000);

    usb::EmulatedBus::instance().addFault(faultAt(usb::FaultKind::Timeout, 1));
    state = device.getMemoryInfo();
    QCOMPARE(state.totalSize, 0);
    QCOMPARE(state.usedSize, 0);
    QCOMPARE(state.recordCount, 0);
    QCOMPARE(logged(QStringLiteral("Failed to get memory info (0x00000079)\n")), 1);  // ERROR_SEM_TIMEOUT
}

void TestUSBDevice::renameCutsToEightBytes()
{
    USBDevice device(m_path);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    bus.setRecording(true);

    device.setName(QStringLiteral("ABCDEFGHIJKL"));
    QCOMPARE(m_module->name(), std::string("ABCDEFGH"));

    // A character that would not fit whole is left out rather than sent in part; the name goes in
    // UTF-8, as it is read back, whatever the system's encoding.
    QTextCodec *previous = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1252"));
    device.setName(QStringLiteral("ABCDEFG\u00e9"));
    device.setName(QStringLiteral("ABC\u00e9"));
    QTextCodec::setCodecForLocale(previous);

    const std::vector<usb::BusRecord> record = bus.takeRecord();
    QCOMPARE(record.size(), std::size_t(3));
    QCOMPARE(outOf(record[0]), QByteArray("ABCDEFGH"));
    QCOMPARE(outOf(record[1]), QByteArray("ABCDEFG\0", 8));
    QCOMPARE(outOf(record[2]), QByteArray("ABC\xc3\xa9\0\0\0", 8));
}

void TestUSBDevice::readPage()
{
    m_module->writePage(0x1FFFF, patternPage(7));
    USBDevice device(m_path);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();

    char buffer[256];
    QCOMPARE(device.readPage(buffer, 0x1FFFF, sizeof buffer), 256);
    const VirtualModule::Page expected = patternPage(7);
    QCOMPARE(QByteArray(buffer, 256), QByteArray(reinterpret_cast<const char *>(expected.data()), 256));

    // Erased flash reads as 0xFF.
    QCOMPARE(device.readPage(buffer, 3, sizeof buffer), 256);
    QCOMPARE(QByteArray(buffer, 256), QByteArray(256, '\xff'));

    bus.resetCounters();
    QCOMPARE(device.readPage(buffer, 0, 255), -1);
    QCOMPARE(bus.transferCount(), uint64_t(0));
}

void TestUSBDevice::readPageFaults_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("transfer");
    QTest::addColumn<bool>("positionLogged");

    // Transfer 1 sets the position, transfers 2 to 5 read the four slices.
    QTest::newRow("position fails") << int(usb::FaultKind::Fail) << 1 << true;
    QTest::newRow("position moves nothing") << int(usb::FaultKind::Shorten) << 1 << true;
    QTest::newRow("third slice empty") << int(usb::FaultKind::Shorten) << 4 << false;
    QTest::newRow("last slice times out") << int(usb::FaultKind::Timeout) << 5 << false;
    QTest::newRow("unplugged mid-page") << int(usb::FaultKind::Unplug) << 3 << false;
}

void TestUSBDevice::readPageFaults()
{
    QFETCH(int, kind);
    QFETCH(int, transfer);
    QFETCH(bool, positionLogged);

    USBDevice device(m_path);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    bus.addFault(faultAt(static_cast<usb::FaultKind>(kind), static_cast<uint64_t>(transfer), 0));
    bus.resetCounters();
    char buffer[256];
    QCOMPARE(device.readPage(buffer, 0, sizeof buffer), -1);
    QCOMPARE(logged(QStringLiteral("Failed to set read position\n")), positionLogged ? 1 : 0);
    // Nothing more is read after the failing transfer.
    QCOMPARE(bus.transferCount(), static_cast<uint64_t>(transfer));
}

void TestUSBDevice::readPageAcceptsShortSlice()
{
    m_module->writePage(5, patternPage(0x40));
    USBDevice device(m_path);
    usb::EmulatedBus::instance().addFault(faultAt(usb::FaultKind::Shorten, 3, 10));

    QByteArray buffer(256, '\xaa');
    QCOMPARE(device.readPage(buffer.data(), 5, buffer.size()), 256);
    const VirtualModule::Page page = patternPage(0x40);
    const QByteArray expected(reinterpret_cast<const char *>(page.data()), 256);
    QCOMPARE(buffer.mid(0, 74), expected.mid(0, 74));
    // What the module did not send reads as erased flash, not as the buffer's earlier content.
    QCOMPARE(buffer.mid(74, 54), QByteArray(54, '\xff'));
    QCOMPARE(buffer.mid(128), expected.mid(128));
}

void TestUSBDevice::eraseWaitsForIdle()
{
    m_module->writePage(0x300, patternPage(1));
    m_module->writePage(0x2FF, patternPage(2));
    m_module->setEraseBusyPolls(2);
    USBDevice device(m_path);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    bus.setRecording(true);

    device.eraseSector(0x300);

    // Status answers 1, 1, 0: three polls and the sector reads erased; its neighbour is untouched.
    QCOMPARE(m_module->statusPolls(), 3);
    QCOMPARE(m_module->erasedPageIndexes(), std::vector<uint32_t>{0x300});
    QVERIFY(m_module->sectorErased(3));
    QVERIFY(!m_module->sectorErased(2));
    QCOMPARE(logged(QStringLiteral("Erasing failed\n")), 0);
    QCOMPARE(bus.takeRecord().size(), std::size_t(4));
}

void TestUSBDevice::eraseFailures()
{
    USBDevice device(m_path);
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    const QString failed = QStringLiteral("Erasing failed\n");

    // The erase request itself fails: no status poll.
    bus.addFault(faultAt(usb::FaultKind::Fail, 1));
    device.eraseSector(0);
    QCOMPARE(m_module->statusPolls(), 0);
    QCOMPARE(logged(failed), 1);

    // A status poll that moves no byte ends the wait.
    m_module->setEraseBusyPolls(5);
    bus.addFault(faultAt(usb::FaultKind::Shorten, 3, 0));
    device.eraseSector(0);
    QCOMPARE(m_module->statusPolls(), 2);
    QCOMPARE(logged(failed), 2);

    // A module stuck busy is given up after the poll limit.
    m_module->setStuckBusy(true);
    device.setErasePollLimit(4);
    device.eraseSector(0);
    QCOMPARE(m_module->statusPolls(), 2 + 4);
    QCOMPARE(logged(failed), 3);
}

void TestUSBDevice::failedOpenFailsEverything()
{
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    bus.setOpenFails(m_path.toStdString(), true);
    auto *device = new USBDevice(m_path);
    QCOMPARE(bus.openHandles(), 0);

    char buffer[256];
    QCOMPARE(device->readPage(buffer, 0, sizeof buffer), -1);
    QCOMPARE(logged(QStringLiteral("Failed to set read position\n")), 1);
    QVERIFY(device->getDeviceInfo().serialNumber.isEmpty());
    // Never opened: no request reached the system, so there is no code of its own.
    QCOMPARE(logged(QStringLiteral("Failed to get device info (0x00000000)\n")), 1);
    QCOMPARE(device->getMemoryInfo().totalSize, 0);
    device->eraseSector(0);
    QCOMPARE(logged(QStringLiteral("Erasing failed\n")), 1);
    QVERIFY(!device->endErase());
    QVERIFY(!device->enterBootloader());
    QCOMPARE(bus.transferCount(), uint64_t(0));

    const QString destroyed = QString::asprintf("USBDevice %p destroyed\n", static_cast<void *>(device));
    device->release();
    QCOMPARE(logged(destroyed), 1);
    QCOMPARE(logged(QStringLiteral("Close\n")), 1);
    QCOMPARE(bus.openHandles(), 0);
}

void TestUSBDevice::holdersBalance()
{
    usb::EmulatedBus &bus = usb::EmulatedBus::instance();
    auto *first = new USBDevice(m_path);
    auto *second = new USBDevice(m_path);
    QCOMPARE(bus.openHandles(), 2);
    const QString firstDestroyed = QString::asprintf("USBDevice %p destroyed\n", static_cast<void *>(first));
    const QString secondDestroyed = QString::asprintf("USBDevice %p destroyed\n", static_cast<void *>(second));

    {
        USBDeviceDesc a(first);
        USBDeviceDesc b = a;
        QCOMPARE(first->holders(), 3);
        QCOMPARE(logged(QString::asprintf("USBDevice %p taken %d\n", static_cast<void *>(first), 3)), 1);

        b = b;
        QCOMPARE(first->holders(), 3);

        a.name = QStringLiteral("copied");
        b = USBDeviceDesc(second);
        QCOMPARE(first->holders(), 2);
        QCOMPARE(second->holders(), 2);
        b = a;
        QCOMPARE(b.name, QStringLiteral("copied"));
        QVERIFY(b.sameDevice(a));
        QCOMPARE(first->holders(), 3);

        // The creator's hold goes first; the descriptors keep the device alive.
        first->release();
        second->release();
        QCOMPARE(logged(secondDestroyed), 1);
        QCOMPARE(logged(firstDestroyed), 0);

        b = USBDeviceDesc();
        QVERIFY(!b.sameDevice(a));
        QCOMPARE(bus.openHandles(), 1);
    }
    QCOMPARE(logged(firstDestroyed), 1);
    QCOMPARE(logged(QString::asprintf("USBDevice %p released %d\n", static_cast<void *>(first), 0)), 1);
    QCOMPARE(bus.openHandles(), 0);
}

void TestUSBDevice::holdersAcrossThreads()
{
    auto *device = new USBDevice(m_path);
    const USBDeviceDesc shared(device);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared] {
            for (int i = 0; i < 2000; ++i) {
                USBDeviceDesc copy = shared;
                USBDeviceDesc other;
                other = copy;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(device->holders(), 2);
    device->release();
    QCOMPARE(device->holders(), 1);
}

void TestUSBDevice::metaTypesRegistered()
{
    registerQuorvelMetaTypes();
    QCOMPARE(QMetaType::type("USBDeviceDesc"), qMetaTypeId<USBDeviceDesc>());
    QCOMPARE(QMetaType::type("QList<USBDeviceDesc>"), qMetaTypeId<QList<USBDeviceDesc>>());
    QCOMPARE(QMetaType::type("MemoryState"), qMetaTypeId<MemoryState>());

    // A descriptor that travels as a QVariant keeps its hold while it lives.
    auto *device = new USBDevice(m_path);
    {
        const QVariant value = QVariant::fromValue(USBDeviceDesc(device));
        QCOMPARE(device->holders(), 2);
        QCOMPARE(value.value<USBDeviceDesc>().device, device);
    }
    QCOMPARE(device->holders(), 1);
    device->release();
}

QTEST_GUILESS_MAIN(TestUSBDevice)
#include "tst_usbdevice.moc"
