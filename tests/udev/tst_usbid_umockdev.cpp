// The udev helper program against devices behind the kernel's USB file system (the usbfs bridge
// under umockdev, the helper run under umockdev's preload library): it names the receptor by its
// MS OS 2.0 descriptors and a module by its 1.0 ones, says nothing of a vendor device of another
// kind, never opens a keyboard, and names a declared device without asking it anything.
#include "KitDeclarations.h"
#include "UmockdevTestMain.h"
#include "VirtualModule.h"
#include "VirtualReceptor.h"

#include <QProcess>
#include <QTemporaryDir>

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
};

} // namespace

class TestUsbIdUmockdev : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void namesKitDevicesAndNothingElse();
    void namesDeclaredDeviceWithoutAskingIt();
    void refusesBadUsage();

private:
    Run identify(int address, const QStringList &options = {})
    {
        QProcess process;
        process.start(QStringLiteral(KORVANE_USB_ID),
                      QStringList(options)
                          << QStringLiteral("--declarations") << m_dir.filePath("usb-devices")
                          << QString::fromStdString(m_bridge->sysfsPath(address)));
        Run run;
        if (!process.waitForFinished(20000))
            return run;
        run.exitCode = process.exitCode();
        run.out = process.readAllStandardOutput();
        return run;
    }

    std::unique_ptr<UsbfsBridge> m_bridge;
    QTemporaryDir m_dir;
};

void TestUsbIdUmockdev::initTestCase()
{
    m_bridge = std::make_unique<UsbfsBridge>();
    QVERIFY(m_dir.isValid());
}

void TestUsbIdUmockdev::namesKitDevicesAndNothingElse()
{
    auto receptor = std::make_shared<VirtualReceptor>();
    auto module = std::make_shared<VirtualModule>();
    const int r = m_bridge->plug(1, kitdescriptors::receptor(receptor->pipes(), usb::kitReceptorClass()), receptor);
    const int m = m_bridge->plug(2, kitdescriptors::module(module->pipes(), usb::kitModuleClass()), module);
    const int other = m_bridge->plug(3, kitdescriptors::otherVendorDevice(0x7101));
    const int keyboard = m_bridge->plug(4, kitdescriptors::keyboard());

    const Run receptorRun = identify(r);
    QCOMPARE(receptorRun.exitCode, 0);
    QCOMPARE(receptorRun.out, QByteArray("KORVANE_KIT=receptor\nKORVANE_KIT_INTERFACE=0\n"));
    const Run moduleRun = identify(m);
    QCOMPARE(moduleRun.exitCode, 0);
    QCOMPARE(moduleRun.out, QByteArray("KORVANE_KIT=module\nKORVANE_KIT_INTERFACE=0\n"));
    const Run otherRun = identify(other);
    QCOMPARE(otherRun.exitCode, 0);
    QCOMPARE(otherRun.out, QByteArray());
    const Run keyboardRun = identify(keyboard);
    QCOMPARE(keyboardRun.exitCode, 0);
    QCOMPARE(keyboardRun.out, QByteArray());

    // Standard descriptor requests only, never the receptor's or the module's own protocol.
    QCOMPARE(m_bridge->requests(r).size(), std::size_t(3));
    QCOMPARE(m_bridge->requests(m).size(), std::size_t(5));
    QVERIFY(!receptor->bootloaderRequested() && receptor->registeredSerials().empty());
    QCOMPARE(module->pagesRead(), 0);
    // The other vendor device was asked for its 0xEE string, which it does not have.
    QCOMPARE(m_bridge->requests(other).size(), std::size_t(1));
    QCOMPARE(m_bridge->opens(keyboard), 0);
    QCOMPARE(m_bridge->ioctls(keyboard), 0);
}

void TestUsbIdUmockdev::namesDeclaredDeviceWithoutAskingIt()
{
    const int declared = m_bridge->plug(5, kitdescriptors::otherVendorDevice(0x7102));
    QFile file(m_dir.filePath("usb-devices"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("1209:7102 receptor 0\n");
    file.close();

    const Run run = identify(declared);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QByteArray("KORVANE_KIT=receptor\nKORVANE_KIT_INTERFACE=0\n"));
    QCOMPARE(m_bridge->opens(declared), 0);
    QVERIFY(file.remove());
}

void TestUsbIdUmockdev::refusesBadUsage()
{
    QProcess process;
    process.start(QStringLiteral(KORVANE_USB_ID), {QStringLiteral("--bogus")});
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardError().startsWith("usage: korvane-usb-id"));
}

KORVANE_UMOCKDEV_TEST_MAIN(TestUsbIdUmockdev, QCoreApplication)
#include "tst_usbid_umockdev.moc"
