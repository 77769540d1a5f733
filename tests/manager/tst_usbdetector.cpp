// USBDetector on its thread against virtual modules on the emulated bus: arrivals in enumeration
// order with their identity, quiet passes, departures, modules that cannot be opened, and holds.
#include "EmulatedBus.h"
#include "QuorvelMetaTypes.h"
#include "USBDetector.h"
#include "USBDevice.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"

#include <QLoggingCategory>
#include <QtTest>

#include <memory>

namespace
{
// Collects the detector's announcements on the test thread (queued, as the window gets them).
class Recorder : public QObject
{
public:
    explicit Recorder(USBDetector *detector)
    {
        connect(detector, &USBDetector::deviceAdded, this, [this](USBDeviceDesc dev) { added << dev; });
        connect(detector, &USBDetector::deviceRemoved, this, [this](USBDeviceDesc dev) { removed << dev; });
    }

    QList<USBDeviceDesc> added;
    QList<USBDeviceDesc> removed;
};

using testdevices::plugModule;
}

class TestUSBDetector : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void modulesPresentAtStartAreAdded();
    void passWithSameModulesIsQuiet();
    void unplugRemovesAndLastHolderDestroys();
    void moduleThatCannotBeOpenedIsListed();

private:
    // One enumeration pass on the detector's thread, then its announcements delivered here.
    void pass();

    USBDetector *m_detector = nullptr;
    Recorder *m_recorder = nullptr;
};

void TestUSBDetector::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.detector.debug=true\nquorvel.module.debug=true"));
    usb::setPlatformBackendEnabled(false);
    registerQuorvelMetaTypes();
}

void TestUSBDetector::init()
{
    usb::EmulatedBus::instance().reset();
    m_detector = new USBDetector;
    m_recorder = new Recorder(m_detector);
}

void TestUSBDetector::cleanup()
{
    // The detector gives up its holds; the recorded copies hold the rest until dropped.
    delete m_detector;
    delete m_recorder;
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
}

void TestUSBDetector::pass()
{
    QVERIFY(QMetaObject::invokeMethod(m_detector, "updateDevices", Qt::BlockingQueuedConnection));
    QCoreApplication::sendPostedEvents();
}

void TestUSBDetector::modulesPresentAtStartAreAdded()
{
    plugModule("module-1", "0123456789AB", "TRK1");  // hardware 1.4, software 2.0
    plugModule("module-2", "A1B2C3D4E5F6", "ABCDEFGH");
    QTest::ignoreMessage(QtDebugMsg, "updateDevices started\n");
    QTest::ignoreMessage(QtDebugMsg, "updateDevices done\n");

    pass();

    QCOMPARE(m_recorder->added.size(), 2);
    QVERIFY(m_recorder->removed.isEmpty());
    const USBDeviceDesc &first = m_recorder->added.at(0);
    QCOMPARE(first.serialNumber, QStringLiteral("0123456789AB"));
    QCOMPARE(first.name, QStringLiteral("TRK1"));
    QCOMPARE(first.hardwareVersion, QStringLiteral("1.4"));
    QCOMPARE(first.softwareVersion, QStringLiteral("2.0"));
    QCOMPARE(first.device->path(), QStringLiteral("emu:module-1"));
    const USBDeviceDesc &second = m_recorder->added.at(1);
    QCOMPARE(second.serialNumber, QStringLiteral("A1B2C3D4E5F6"));
    QCOMPARE(second.name, QStringLiteral("ABCDEFGH"));
    QCOMPARE(second.device->path(), QStringLiteral("emu:module-2"));
    // The detector's list and the recorded copy.
    QCOMPARE(first.device->holders(), 2);
    QCOMPARE(second.device->holders(), 2);
}

void TestUSBDetector::passWithSameModulesIsQuiet()
{
    plugModule("module-1", "0123456789AB", "TRK1");
    plugModule("module-2", "A1B2C3D4E5F6", "ABCDEFGH");
    pass();
    QCOMPARE(m_recorder->added.size(), 2);

    pass();
    pass();

    QCOMPARE(m_recorder->added.size(), 2);
    QVERIFY(m_recorder->removed.isEmpty());
    QCOMPARE(m_recorder->added.at(0).device->holders(), 2);
    QCOMPARE(m_recorder->added.at(1).device->holders(), 2);
    // The second handles opened by each pass were closed at once.
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 2);
}

void TestUSBDetector::unplugRemovesAndLastHolderDestroys()
{
    plugModule("module-1", "0123456789AB", "TRK1");
    plugModule("module-2", "A1B2C3D4E5F6", "ABCDEFGH");
    pass();
    USBDevice *gone = m_recorder->added.at(0).device;
    USBDevice *staying = m_recorder->added.at(1).device;

    usb::EmulatedBus::instance().detach("module-1");
    pass();

    QCOMPARE(m_recorder->removed.size(), 1);
    const USBDeviceDesc &removed = m_recorder->removed.first();
    QCOMPARE(removed.device, gone);
    QVERIFY(removed.serialNumber.isEmpty());
    QVERIFY(removed.name.isEmpty());
    QVERIFY(removed.hardwareVersion.isEmpty());
    QVERIFY(removed.softwareVersion.isEmpty());
    QCOMPARE(m_recorder->added.size(), 2);
    // Only the window's copies keep it now.
    QCOMPARE(gone->holders(), 2);
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 2);

    QTest::ignoreMessage(QtDebugMsg, qPrintable(QString::asprintf("USBDevice %p destroyed\n", static_cast<void *>(gone))));
    m_recorder->removed.clear();
    m_recorder->added.removeFirst();
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 1);
    QCOMPARE(staying->holders(), 2);

    // Plugged in again, it is a new arrival.
    plugModule("module-1", "0123456789AB", "TRK1");
    pass();
    QCOMPARE(m_recorder->added.size(), 2);
    QCOMPARE(m_recorder->added.last().serialNumber, QStringLiteral("0123456789AB"));
    QVERIFY(m_recorder->removed.isEmpty());
}

void TestUSBDetector::moduleThatCannotBeOpenedIsListed()
{
    plugModule("module-1", "0123456789AB", "TRK1");
    plugModule("module-2", "A1B2C3D4E5F6", "ABCDEFGH");
    usb::EmulatedBus::instance().setOpenFails("module-1", true);

    pass();

    QCOMPARE(m_recorder->added.size(), 2);
    QCOMPARE(m_recorder->added.at(0).device->path(), QStringLiteral("emu:module-1"));
    QVERIFY(m_recorder->added.at(0).serialNumber.isEmpty());
    QVERIFY(m_recorder->added.at(0).name.isEmpty());
    QCOMPARE(m_recorder->added.at(1).serialNumber, QStringLiteral("A1B2C3D4E5F6"));

    // It stays listed: later passes neither add nor remove it.
    pass();
    QCOMPARE(m_recorder->added.size(), 2);
    QVERIFY(m_recorder->removed.isEmpty());
}

QTEST_GUILESS_MAIN(TestUSBDetector)
#include "tst_usbdetector.moc"
