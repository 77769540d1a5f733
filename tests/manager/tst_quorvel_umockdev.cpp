// The module manager through the real libusb backend and the kernel's USB file system (the usbfs
// bridge under umockdev): the bytes of every module request as the module receives them, a page
// read over the bulk pipe, and, end to end, the detector finding the module and a download writing
// the same track files as the expected ones in data/.
#include "GoldenTracks.h"
#include "KitDeclarations.h"
#include "QuorvelMetaTypes.h"
#include "TestFiles.h"
#include "USBCommunicator.h"
#include "USBDetector.h"
#include "USBDevice.h"
#include "UmockdevTestMain.h"
#include "UsbAccess.h"
#include "VirtualModule.h"

#include <QTemporaryDir>
#include <QTextCodec>

#include <cstring>

using Request = UsbfsBridge::Request;

namespace {

const QString trackA = QStringLiteral("TRK1_0123456789AB_061220_093015.000.csv");
const QString trackB = QStringLiteral("TRK1_0123456789AB_311299_235959.500.csv");

using testfiles::fileBytes;

// The module protocol's requests as the module received them: setup bytes, then the data sent;
// bulk reads as "bulk" and their endpoint.
QList<QByteArray> moduleRequests(const std::vector<Request> &requests)
{
    QList<QByteArray> list;
    for (const Request &r : requests) {
        if (!r.control) {
            list << "bulk " + QByteArray::number(r.endpoint, 16);
            continue;
        }
        if ((r.setup.requestType & 0x60) != 0x40 || r.setup.request == kitdescriptors::moduleVendorCode)
            continue;
        const auto setup = r.setup.bytes();
        list << QByteArray(reinterpret_cast<const char *>(setup.data()), 8).toHex(' ') + " | " +
                    QByteArray(reinterpret_cast<const char *>(r.out.data()), int(r.out.size())).toHex(' ');
    }
    return list;
}

std::string waitForModulePath()
{
    std::vector<std::string> paths;
    for (int i = 0; i < 100 && paths.empty(); ++i) {
        paths = usb::listDevicePaths(usb::kitModuleClass());
        if (paths.empty())
            QTest::qWait(50);
    }
    return paths.empty() ? std::string() : paths.front();
}

} // namespace

class TestQuorvelUmockdev : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void everyModuleRequestReachesTheModule();
    void detectorFindsTheModuleAndDownloadWritesTheExpectedFiles();

private:
    std::unique_ptr<UsbfsBridge> m_bridge;
};

void TestQuorvelUmockdev::initTestCase()
{
    registerQuorvelMetaTypes();
    // The expected files hold the header in Windows-1252, the encoding of the deployed systems.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1252"));
    m_bridge = std::make_unique<UsbfsBridge>();
}

void TestQuorvelUmockdev::everyModuleRequestReachesTheModule()
{
    auto module = std::make_shared<VirtualModule>("A1B2C3D4E5F6", "TRUITE");
    module->setVersions(1, 4, 2, 0);
    module->setMemoryCounters(VirtualModule::flashSize, 0x300, 12);
    module->setEraseBusyPolls(2);
    VirtualModule::Page page;
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = uint8_t(255 - i);
    module->writePage(0x10203, page);
    const int address = m_bridge->plug(1, kitdescriptors::module(module->pipes(), usb::kitModuleClass()), module);
    const std::string path = waitForModulePath();
    QCOMPARE(path, std::string("usb:1-1:0"));

    {
        USBDevice device(QString::fromStdString(path));
        const USBDeviceDesc info = device.getDeviceInfo();
        QCOMPARE(info.serialNumber, QStringLiteral("A1B2C3D4E5F6"));
        QCOMPARE(info.name, QStringLiteral("TRUITE"));
        QCOMPARE(info.hardwareVersion, QStringLiteral("1.4"));
        QCOMPARE(info.softwareVersion, QStringLiteral("2.0"));
        device.setName(QStringLiteral("ABC"));
        QCOMPARE(module->name(), std::string("ABC"));
        const MemoryState memory = device.getMemoryInfo();
        QCOMPARE(memory.usedSize, 0x300);
        QCOMPARE(memory.recordCount, 12);

        QByteArray read(256, 0);
        QCOMPARE(device.readPage(read.data(), 0x10203, 256), 256);
        QCOMPARE(read, QByteArray(reinterpret_cast<const char *>(page.data()), 256));
        device.eraseSector(0x100);
        QVERIFY(module->sectorErased(1));
        QVERIFY(device.endErase());
        QVERIFY(device.enterBootloader());
        QVERIFY(module->bootloaderRequested());
    }

    QCOMPARE(moduleRequests(m_bridge->requests(address)),
             QList<QByteArray>({"c0 01 00 00 00 00 18 00 | ",
                                "40 02 00 00 00 00 08 00 | 41 42 43 00 00 00 00 00",
                                "c0 03 00 00 00 00 0c 00 | ",
                                "40 04 00 00 00 00 04 00 | 03 02 01 00",
                                "bulk 81", "bulk 81", "bulk 81", "bulk 81",
                                "40 07 00 00 00 00 04 00 | 00 01 00 00",
                                "c0 06 00 00 00 00 01 00 | ",
                                "c0 06 00 00 00 00 01 00 | ",
                                "c0 06 00 00 00 00 01 00 | ",
                                "40 08 00 00 00 00 04 00 | 00 00 00 00",
                                "40 70 00 00 00 00 00 00 | "}));
    m_bridge->unplug(address);
    QTRY_VERIFY_WITH_TIMEOUT(usb::listDevicePaths(usb::kitModuleClass()).empty(), 5000);
}

void TestQuorvelUmockdev::detectorFindsTheModuleAndDownloadWritesTheExpectedFiles()
{
    auto module = std::make_shared<VirtualModule>("0123456789AB", "TRK1");
    goldentracks::writeTwoTracks([&module](quint32 pageIndex, const QByteArray &bytes) {
        VirtualModule::Page page;
        std::memcpy(page.data(), bytes.constData(), page.size());
        module->writePage(pageIndex, page);
    });
    module->setMemoryCounters(VirtualModule::flashSize, goldentracks::twoTracksUsedSize, 12);
    const int address = m_bridge->plug(2, kitdescriptors::module(module->pipes(), usb::kitModuleClass()), module);

    QList<USBDeviceDesc> added;
    QStringList events;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    {
        USBCommunicator worker;
        USBDetector detector;
        connect(&detector, &USBDetector::deviceAdded, this, [&added](USBDeviceDesc dev) { added << dev; });
        connect(&worker, &USBCommunicator::saveFinished, this,
                [&events](USBDeviceDesc dev) { events << "saveFinished " + dev.serialNumber; });
        connect(&worker, &USBCommunicator::saveFailed, this,
                [&events](USBDeviceDesc dev) { events << "saveFailed " + dev.serialNumber; });

        QTRY_VERIFY_WITH_TIMEOUT(
            (QMetaObject::invokeMethod(&detector, "updateDevices", Qt::QueuedConnection), !added.isEmpty()), 5000);
        QCOMPARE(added.size(), 1);
        QCOMPARE(added.first().serialNumber, QStringLiteral("0123456789AB"));
        QCOMPARE(added.first().name, QStringLiteral("TRK1"));

        QMetaObject::invokeMethod(&worker, "saveData", Qt::QueuedConnection, Q_ARG(USBDeviceDesc, added.first()),
                                  Q_ARG(QString, dir.path()));
        QTRY_COMPARE_WITH_TIMEOUT(events, QStringList({"saveFinished 0123456789AB"}), 60000);
        added.clear();
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files, QDir::Name), QStringList({trackA, trackB}));
    QCOMPARE(fileBytes(dir.filePath(trackA)), fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/") + trackA));
    QCOMPARE(fileBytes(dir.filePath(trackB)), fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/") + trackB));
    // Pages 0 to 767 and the erased header that ends the data, each over the bulk pipe.
    QCOMPARE(module->pagesRead(), 769);
    m_bridge->unplug(address);
}

KORVANE_UMOCKDEV_TEST_MAIN(TestQuorvelUmockdev, QCoreApplication)
#include "tst_quorvel_umockdev.moc"
