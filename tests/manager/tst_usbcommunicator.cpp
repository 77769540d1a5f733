// USBCommunicator on its thread against virtual modules: erase (skipped blank sectors, progress, end
// of erase), downloads of several modules with one failing, memory states, identity and rename.
#include "EmulatedBus.h"
#include "QuorvelMetaTypes.h"
#include "TestFiles.h"
#include "USBCommunicator.h"
#include "USBDevice.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"

#include <QTemporaryDir>
#include <QLoggingCategory>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(usb::FaultKind)

namespace
{
// Collects the worker's signals on the test thread, queued as the window gets them.
class Recorder : public QObject
{
public:
    explicit Recorder(USBCommunicator *worker)
    {
        connect(worker, &USBCommunicator::deviceInfo, this, [this](USBDeviceDesc dev) {
            events << "deviceInfo " + dev.serialNumber;
            infos << dev;
        });
        connect(worker, &USBCommunicator::eraseFinished, this,
                [this](USBDeviceDesc dev) { events << "eraseFinished " + dev.serialNumber; });
        connect(worker, &USBCommunicator::eraseProgress, this,
                [this](USBDeviceDesc, int percent) { eraseProgress << percent; });
        connect(worker, &USBCommunicator::eraseAllFinished, this,
                [this](QList<USBDeviceDesc> list) { events << "eraseAllFinished " + serials(list); });
        connect(worker, &USBCommunicator::saveFinished, this,
                [this](USBDeviceDesc dev) { events << "saveFinished " + dev.serialNumber; });
        connect(worker, &USBCommunicator::saveFailed, this,
                [this](USBDeviceDesc dev) { events << "saveFailed " + dev.serialNumber; });
        connect(worker, &USBCommunicator::saveAllFinished, this,
                [this](QList<USBDeviceDesc> list) { events << "saveAllFinished " + serials(list); });
        connect(worker, &USBCommunicator::saveProgress, this, [this](USBDeviceDesc dev, int percent) {
            saveProgress[dev.serialNumber] << percent;
        });
        connect(worker, &USBCommunicator::memoryState, this, [this](USBDeviceDesc dev, MemoryState state) {
            events << QStringLiteral("memoryState %1 %2 %3 %4")
                          .arg(dev.serialNumber)
                          .arg(state.totalSize)
                          .arg(state.usedSize)
                          .arg(state.recordCount);
        });
    }

    static QString serials(const QList<USBDeviceDesc> &list)
    {
        QStringList s;
        for (const USBDeviceDesc &dev : list)
            s << dev.serialNumber;
        return s.join(',');
    }

    QStringList events;  // everything but progress, in order
    QList<USBDeviceDesc> infos;
    QList<int> eraseProgress;
    QMap<QString, QList<int>> saveProgress;
};

struct Module
{
    std::shared_ptr<VirtualModule> device;
    USBDeviceDesc desc;
};

// A module on the bus and a descriptor of it, read as the detector reads newcomers.
Module plugModule(const std::string &path, const std::string &serial, const std::string &name)
{
    Module m;
    std::string busPath;
    m.device = testdevices::plugModule(path, serial, name, &busPath);
    m.desc = testdevices::moduleDescriptor(busPath);
    return m;
}

using testdevices::logTrack;
using testfiles::lineCount;
}

class TestUSBCommunicator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void eraseOfBlankMemory();
    void eraseOfLoggedSectors();
    void saveList_data();
    void saveList();
    void saveWithoutData();
    void memoryStateList();
    void identityRenameBootloader();

private:
    // Runs one request on the worker's thread and delivers its signals here.
    template <typename... Args>
    void request(const char *slot, Args... args)
    {
        QVERIFY(QMetaObject::invokeMethod(m_worker, slot, Qt::BlockingQueuedConnection, args...));
        QCoreApplication::sendPostedEvents();
    }

    USBCommunicator *m_worker = nullptr;
    Recorder *m_recorder = nullptr;
};

void TestUSBCommunicator::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.worker.debug=true"));
    usb::setPlatformBackendEnabled(false);
    registerQuorvelMetaTypes();
}

void TestUSBCommunicator::init()
{
    usb::EmulatedBus::instance().reset();
    m_worker = new USBCommunicator;
    m_recorder = new Recorder(m_worker);
}

void TestUSBCommunicator::cleanup()
{
    delete m_worker;
    delete m_recorder;
    usb::EmulatedBus::instance().reset();
}

void TestUSBCommunicator::eraseOfBlankMemory()
{
    Module m = plugModule("module-1", "0123456789AB", "TRK1");
    QTest::ignoreMessage(QtDebugMsg, "eraseData 0123456789AB\n");

    request("eraseData", Q_ARG(USBDeviceDesc, m.desc));

    QList<int> expected = {0};
    for (int sector = 1; sector <= 512; ++sector)
        expected << sector * 100 / 512;
    QCOMPARE(m_recorder->eraseProgress, expected);
    QCOMPARE(m_recorder->eraseProgress.last(), 100);
    QCOMPARE(m.device->eraseRequests(), 0);
    QCOMPARE(m.device->endEraseCount(), 1);
    QCOMPARE(m_recorder->events, QStringList({"eraseFinished 0123456789AB"}));
}

void TestUSBCommunicator::eraseOfLoggedSectors()
{
    Module m = plugModule("module-1", "0123456789AB", "TRK1");
    VirtualModule::Page data;
    data.fill(0x00);
    m.device->writePage(7 * 256, data);
    m.device->writePage(9 * 256 + 5, data);  // not the first page: the sector counts as blank
    logTrack(*m.device, 2000);  // two sectors
    // The first page read of the erase fails: sector 0 is erased whatever it holds.
    usb::Fault fault;
    fault.kind = usb::FaultKind::Fail;
    fault.atTransfer = 1;
    fault.path = "module-1";
    usb::EmulatedBus::instance().addFault(fault);
    QTest::ignoreMessage(QtDebugMsg, "Erasing sector at 0x00000000\n");
    QTest::ignoreMessage(QtDebugMsg, "Erasing sector at 0x00010000\n");
    QTest::ignoreMessage(QtDebugMsg, "Erasing sector at 0x00070000\n");

    request("eraseData", Q_ARG(USBDeviceDesc, m.desc));

    QCOMPARE(m.device->erasedPageIndexes(), std::vector<uint32_t>({0, 256, 7 * 256}));
    QVERIFY(m.device->sectorErased(0) && m.device->sectorErased(1) && m.device->sectorErased(7));
    QVERIFY(!m.device->sectorErased(9));
    QCOMPARE(m_recorder->eraseProgress.size(), 513);
    QCOMPARE(m.device->endEraseCount(), 1);
    QCOMPARE(m_recorder->events, QStringList({"eraseFinished 0123456789AB"}));
}

void TestUSBCommunicator::saveList_data()
{
    QTest::addColumn<usb::FaultKind>("fault");
    QTest::newRow("unplugged") << usb::FaultKind::Unplug;
    QTest::newRow("transfer fails") << usb::FaultKind::Fail;
}

void TestUSBCommunicator::saveList()
{
    QFETCH(usb::FaultKind, fault);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    Module a = plugModule("module-1", "0123456789AB", "TRK1");
    Module b = plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    Module c = plugModule("module-3", "CAFE00000003", "TRK3");
    logTrack(*a.device, 10);
    logTrack(*b.device, 10);
    logTrack(*c.device, 10);
    // Transfer 1 reads the memory counters, 2 to 6 page 0; page 1 fails.
    usb::Fault f;
    f.kind = fault;
    f.atTransfer = 8;
    f.path = "module-2";
    usb::EmulatedBus::instance().addFault(f);
    QTest::ignoreMessage(QtDebugMsg, qPrintable("saveData A1B2C3D4E5F6 -> " + dir.path() + "\n"));

    request("saveData", Q_ARG(QList<USBDeviceDesc>, QList<USBDeviceDesc>({a.desc, b.desc, c.desc})),
            Q_ARG(QString, dir.path()));

    QCOMPARE(m_recorder->events,
             QStringList({"saveFinished 0123456789AB", "saveFailed A1B2C3D4E5F6", "saveFinished CAFE00000003",
                          "saveAllFinished 0123456789AB,A1B2C3D4E5F6,CAFE00000003"}));
    // Used size 896 bytes (3 pages): page 0 of 3 was read before the failure.
    QCOMPARE(m_recorder->saveProgress.value("A1B2C3D4E5F6"), QList<int>({0, 33}));
    QCOMPARE(m_recorder->saveProgress.value("0123456789AB").first(), 0);
    QCOMPARE(m_recorder->saveProgress.value("CAFE00000003").first(), 0);
    QCOMPARE(lineCount(dir.filePath("TRK1_0123456789AB_061220_093015.000.csv")), 11);
    QCOMPARE(lineCount(dir.filePath("TRK3_CAFE00000003_061220_093015.000.csv")), 11);
    // The failing module's track was opened before the failure: its header line stays.
    QCOMPARE(lineCount(dir.filePath("TRK2_A1B2C3D4E5F6_061220_093015.000.csv")), 1);
}

void TestUSBCommunicator::saveWithoutData()
{
    QTemporaryDir dir;
    Module m = plugModule("module-1", "0123456789AB", "TRK1");

    request("saveData", Q_ARG(USBDeviceDesc, m.desc), Q_ARG(QString, dir.path()));

    QCOMPARE(m_recorder->saveProgress.value("0123456789AB"), QList<int>({0}));
    QCOMPARE(m_recorder->events, QStringList({"saveFinished 0123456789AB"}));
    QVERIFY(QDir(dir.path()).isEmpty());
}

void TestUSBCommunicator::memoryStateList()
{
    Module a = plugModule("module-1", "0123456789AB", "TRK1");
    Module b = plugModule("module-2", "A1B2C3D4E5F6", "TRK2");
    Module c = plugModule("module-3", "CAFE00000003", "TRK3");
    a.device->setMemoryCounters(0x2000000, 4096, 60);
    b.device->setMemoryCounters(0x2000000, 0, 0);
    c.device->setMemoryCounters(0x1000000, 65536, 1020);
    QTest::ignoreMessage(QtDebugMsg, "getMemoryState A1B2C3D4E5F6\n");

    request("getMemoryState", Q_ARG(QList<USBDeviceDesc>, QList<USBDeviceDesc>({a.desc, b.desc, c.desc})));

    QCOMPARE(m_recorder->events, QStringList({"memoryState 0123456789AB 33554432 4096 60",
                                              "memoryState A1B2C3D4E5F6 33554432 0 0",
                                              "memoryState CAFE00000003 16777216 65536 1020"}));
}

void TestUSBCommunicator::identityRenameBootloader()
{
    Module m = plugModule("module-1", "0123456789AB", "TRK1");
    QTest::ignoreMessage(QtDebugMsg, "setName 0123456789AB -> NEWNAME\n");
    QTest::ignoreMessage(QtDebugMsg, "getDeviceInfo 0123456789AB\n");

    request("setName", Q_ARG(USBDeviceDesc, m.desc), Q_ARG(QString, QStringLiteral("NEWNAME")));
    QVERIFY(m_recorder->events.isEmpty());
    request("getDeviceInfo", Q_ARG(USBDeviceDesc, m.desc));
    request("bootloaderMode", Q_ARG(USBDeviceDesc, m.desc));

    QCOMPARE(m.device->name(), std::string("NEWNAME"));
    QCOMPARE(m_recorder->events, QStringList({"deviceInfo 0123456789AB"}));
    QCOMPARE(m_recorder->infos.first().name, QStringLiteral("NEWNAME"));
    QVERIFY(m_recorder->infos.first().sameDevice(m.desc));
    QVERIFY(m.device->bootloaderRequested());
}

QTEST_GUILESS_MAIN(TestUSBCommunicator)
#include "tst_usbcommunicator.moc"
