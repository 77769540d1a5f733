// kitsim run as a separate process and reached through the USB access layer, as both programs reach
// it: listing, the module protocol through USBDevice, the receptor protocol through ReceptorDevice,
// hot-plug from standard input, a simulator that dies or stops answering, and refused command lines.
#include "BeaconInfoDecoder.h"
#include "ChildProcesses.h"
#include "EmulatedBus.h"
#include "ModuleFlashWriter.h"
#include "ReceptorDevice.h"
#include "SimulatorBackend.h"
#include "USBDevice.h"
#include "UsbAccess.h"
#include "VirtualDevices.h"
#include "VirtualModule.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <memory>

namespace {

const usb::Guid moduleClass = *usb::Guid::parse("{86939D4C-A46D-4604-81DF-8BE24B211E48}");
const usb::Guid receptorClass = *usb::Guid::parse("{265D0004-043B-458E-B9AA-E5AD6E62320C}");

const char alphaSerial[] = "MODULE000001";
const char bravoSerial[] = "MODULE000002";
const std::string alphaPath = "sim:module-MODULE000001";
const std::string bravoPath = "sim:module-MODULE000002";

using Paths = std::vector<std::string>;

usb::SetupPacket vendorIn(uint8_t request, uint16_t length)
{
    usb::SetupPacket setup;
    setup.requestType = 0xC0;
    setup.request = request;
    setup.length = length;
    return setup;
}

// Takes ownership of a QByteArray* reply of the receptor.
QByteArray take(QByteArray *reply)
{
    if (!reply)
        return QByteArray();
    const QByteArray copy = *reply;
    delete reply;
    return copy;
}

} // namespace

class TestKitsim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void listsDevicesBetweenPlatformAndEmulatedBus();
    void moduleServedFromItsImage();
    void receptorBeaconsReportTheirTracks();
    void hotPlugFromStandardInput();
    void killedSimulatorLooksUnplugged();
    void stoppedSimulatorTimesOut();
    void stopsCleanly();
    void secondSimulatorRefused();
    void helpPrintsUsage();
    void badInputExitsWithStatus2_data();
    void badInputExitsWithStatus2();

private:
    // kitsim started, serving or not.
    QProcess *launch(const QStringList &arguments);
    QString writeFile(const QString &name, const QByteArray &content);
    QStringList twoModules();

    QTemporaryDir m_dir;
    QString m_socket;
    ChildProcesses m_processes;
    QByteArray m_alphaImage;
};

void TestKitsim::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A runtime folder of this test's own, inherited by every kitsim it starts.
    QVERIFY(QDir(m_dir.path()).mkpath("run"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.filePath("run")));
    m_socket = QString::fromStdString(usb::SimulatorBackend::socketPath());
    QCOMPARE(m_socket, m_dir.filePath("run/korvane-kitsim.sock"));
    usb::setPlatformBackendEnabled(false);

    // ALPHA: one track of six fixes with a skipped slot among them; BRAVO: an empty image.
    VirtualModule alpha;
    ModuleFlashWriter writer(alpha);
    writer.startTrack("061220", "093015.000", "1");
    ModuleFlashWriter::Fix fix = testdevices::fixAt(2020, 12, 6);
    for (int i = 0; i < 6; ++i) {
        fix.second = i;
        writer.appendFix(fix, ModuleFlashWriter::CoordinateStyle::V1);
        if (i == 3)
            writer.appendEmptySlot();
    }
    QCOMPARE(writer.cursor(), 256u + 7 * 64);
    m_alphaImage = testdevices::flashImage(alpha, writer.cursor());
    writeFile("alpha.img", m_alphaImage);
    writeFile("bravo.img", QByteArray());
}

void TestKitsim::cleanup()
{
    m_processes.stopAll();
    QFile::remove(m_socket);  // left behind by a killed simulator
    usb::EmulatedBus::instance().reset();
}

QProcess *TestKitsim::launch(const QStringList &arguments)
{
    return m_processes.start(ChildProcesses::kitsimProgram(), arguments);
}

QString TestKitsim::writeFile(const QString &name, const QByteArray &content)
{
    QFile file(m_dir.filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qWarning("cannot write %s", qPrintable(file.fileName()));
    return file.fileName();
}

QStringList TestKitsim::twoModules()
{
    return {"--module", QString("%1,ALPHA,%2").arg(alphaSerial, m_dir.filePath("alpha.img")),
            "--module", QString("%1,BRAVO,%2").arg(bravoSerial, m_dir.filePath("bravo.img"))};
}

void TestKitsim::listsDevicesBetweenPlatformAndEmulatedBus()
{
    // No simulator: nothing listed, nothing opened.
    QVERIFY(usb::listDevicePaths(moduleClass).empty());
    usb::Outcome outcome = usb::Outcome::Ok;
    QVERIFY(!usb::openDevice(alphaPath, &outcome));
    QCOMPARE(outcome, usb::Outcome::NoDevice);

    QVERIFY(m_processes.startKitsim(QStringList{"--receptor"} + twoModules()));
    usb::EmulatedBus::instance().attach(moduleClass, "module", std::make_shared<VirtualModule>());
    // This user's programs only: the clients trust no other socket.
    struct stat socketStatus{};
    QCOMPARE(::lstat(QFile::encodeName(m_socket).constData(), &socketStatus), 0);
    QCOMPARE(socketStatus.st_mode & 07777, mode_t(0600));
    QCOMPARE(socketStatus.st_uid, ::geteuid());

    QCOMPARE(usb::listDevicePaths(moduleClass), (Paths{alphaPath, bravoPath, "emu:module"}));
    QCOMPARE(usb::listDevicePaths(receptorClass), (Paths{"sim:receptor"}));
    QVERIFY(usb::openDevice("sim:module-NOSUCHMODULE", &outcome) == nullptr);
    QCOMPARE(outcome, usb::Outcome::NoDevice);
}

void TestKitsim::moduleServedFromItsImage()
{
    QVERIFY(m_processes.startKitsim(twoModules()));

    USBDevice alpha(QString::fromStdString(alphaPath));
    {
        const USBDeviceDesc desc = alpha.getDeviceInfo();
        QCOMPARE(desc.serialNumber, QString(alphaSerial));
        QCOMPARE(desc.name, QString("ALPHA"));
        QCOMPARE(desc.hardwareVersion, QString("1.0"));
    }
    // Counters as the logger left them: the write position after the last record, skipped slot
    // included, and six records.
    MemoryState memory = alpha.getMemoryInfo();
    QCOMPARE(memory.totalSize, 0x2000000);
    QCOMPARE(memory.usedSize, 256 + 7 * 64);
    QCOMPARE(memory.recordCount, 6);

    char page[256];
    QCOMPARE(alpha.readPage(page, 0, sizeof page), 256);
    QCOMPARE(QByteArray(page, 256), m_alphaImage.left(256));
    QCOMPARE(alpha.readPage(page, 1, sizeof page), 256);
    QCOMPARE(QByteArray(page, 256), m_alphaImage.mid(256, 256));
    // Beyond the end of the image the flash reads erased.
    QCOMPARE(alpha.readPage(page, 0x1FFFF, sizeof page), 256);
    QCOMPARE(QByteArray(page, 256), QByteArray(256, char(0xFF)));

    USBDevice bravo(QString::fromStdString(bravoPath));
    memory = bravo.getMemoryInfo();
    QCOMPARE(memory.usedSize, 0);
    QCOMPARE(memory.recordCount, 0);

    // Rename and erase change the simulator's copy, never the image.
    alpha.setName("RENAMED");
    QCOMPARE(alpha.getDeviceInfo().name, QString("RENAMED"));
    alpha.eraseSector(0);
    QVERIFY(alpha.endErase());
    memory = alpha.getMemoryInfo();
    QCOMPARE(memory.usedSize, 0);
    QCOMPARE(memory.recordCount, 0);
    QCOMPARE(alpha.readPage(page, 1, sizeof page), 256);
    QCOMPARE(QByteArray(page, 256), QByteArray(256, char(0xFF)));
    QFile image(m_dir.filePath("alpha.img"));
    QVERIFY(image.open(QIODevice::ReadOnly));
    QCOMPARE(image.readAll(), m_alphaImage);
}

void TestKitsim::receptorBeaconsReportTheirTracks()
{
    // Two positions, a blank line between them, in both hemisphere pairs.
    const QString track = writeFile("track.csv", "45.5;-6.25\n\n-33.8675;151.2070\n");
    QVERIFY(m_processes.startKitsim({"--receptor", "--receptor-id", "RCPT00000042", "--track", "0A1B2C3D4E5F," + track,
                   "--beacon-name", "0a1b2c3d4e5f,TRK_1"}));

    ReceptorDevice receptor(QStringLiteral("sim:receptor"));
    QVERIFY(receptor.isOpen());
    char id[24];
    QCOMPARE(receptor.readReceptorId(id), 24);
    QCOMPARE(QByteArray(id, 24), QByteArray("RCPT00000042") + QByteArray(12, '\0'));
    QCOMPARE(take(receptor.readBeaconFlags()), QByteArray(20, '\0'));

    const QByteArray tracked = BeaconInfoDecoder::serialFromText("0a1b2c3d4e5f");
    auto report = [&](int slot) {
        bool valid = false;
        const QByteArray block = take(receptor.readBeaconInfo(slot));
        const QByteArray quality = take(receptor.readBeaconQuality(slot));
        const BeaconInfo info = BeaconInfoDecoder::decode(block, &quality, &valid);
        return valid ? info : BeaconInfo();
    };

    // Added: one report, stopped, at the first position, stamped now.
    receptor.sendAddBeacon(tracked);
    QCOMPARE(take(receptor.readBeaconFlags()).left(2), QByteArray("\x03\x00", 2));
    BeaconInfo info = report(0);
    QCOMPARE(info.serial, QString("0a1b2c3d4e5f"));
    QCOMPARE(info.name, QString("TRK_1"));
    QCOMPARE(info.latitude, QString("4530.00000N"));
    QCOMPARE(info.longitude, QString("00615.00000W"));
    QCOMPARE(info.state, quint8(0));
    QCOMPARE(info.memory, 5);
    QCOMPARE(info.auxValue, quint16(10));
    QCOMPARE(info.snr, 7);
    QCOMPARE(info.rssi, -71);
    const QDateTime stamp = BeaconInfoDecoder::timestamp(info.date, info.time);
    QVERIFY(stamp.isValid());
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTimeUtc())) < 120);
    // A stopped beacon stays silent scan after scan.
    QCOMPARE(take(receptor.readBeaconFlags()).left(1), QByteArray("\x01"));
    QCOMPARE(take(receptor.readBeaconFlags()).left(1), QByteArray("\x01"));

    // Started: a report at once, then the next position at each scan, round the track.
    receptor.sendStartBeacon(tracked, 300);
    QCOMPARE(take(receptor.readBeaconFlags()).left(1), QByteArray("\x03"));
    info = report(0);
    QCOMPARE(info.state, quint8(2));
    QCOMPARE(info.latitude, QString("4530.00000N"));
    QCOMPARE(take(receptor.readBeaconFlags()).left(1), QByteArray("\x03"));
    info = report(0);
    QCOMPARE(info.latitude, QString("3352.05000S"));
    QCOMPARE(info.longitude, QString("15112.42000E"));
    // A report not yet read is not overtaken by the next scan.
    QCOMPARE(take(receptor.readBeaconFlags()).left(1), QByteArray("\x03"));
    QCOMPARE(take(receptor.readBeaconFlags()).left(1), QByteArray("\x03"));
    info = report(0);
    QCOMPARE(info.latitude, QString("4530.00000N"));

    receptor.sendStopBeacon(tracked);
    info = report(0);
    QCOMPARE(info.state, quint8(0));
    QCOMPARE(info.latitude, QString("4530.00000N"));
    QCOMPARE(take(receptor.readBeaconFlags()).left(1), QByteArray("\x01"));

    // Without a track or a name: a walk of its own and SIM with the last four serial digits.
    const QByteArray walker = BeaconInfoDecoder::serialFromText("00000000abcd");
    receptor.sendAddBeacon(walker);
    receptor.sendStartBeacon(walker, 10);
    const BeaconInfo first = report(1);
    QCOMPARE(first.name, QString("SIMABCD"));
    QCOMPARE(first.state, quint8(2));
    QVERIFY(QRegularExpression("^\\d{4}\\.\\d{5}[NS]$").match(first.latitude).hasMatch());
    QVERIFY(QRegularExpression("^\\d{5}\\.\\d{5}[EW]$").match(first.longitude).hasMatch());
    QCOMPARE(take(receptor.readBeaconFlags()).mid(1, 1), QByteArray("\x03"));
    const BeaconInfo second = report(1);
    QVERIFY(second.latitude != first.latitude || second.longitude != first.longitude);
}

void TestKitsim::hotPlugFromStandardInput()
{
    QProcess *kitsim = m_processes.startKitsim(QStringList{"--receptor"} + twoModules());
    QVERIFY(kitsim);

    std::unique_ptr<usb::Device> old = usb::openDevice(alphaPath);
    QVERIFY(old);
    uint8_t info[24];
    QVERIFY(old->control(vendorIn(0x01, 24), info).ok());

    // Serials are matched without regard to case.
    kitsim->write("unplug module000001\n");
    QTRY_COMPARE(usb::listDevicePaths(moduleClass), Paths{bravoPath});
    QCOMPARE(usb::listDevicePaths(receptorClass), Paths{"sim:receptor"});
    QCOMPARE(old->control(vendorIn(0x01, 24), info).outcome, usb::Outcome::NoDevice);
    uint8_t bulk[64];
    QCOMPARE(old->bulkRead(0x81, bulk, sizeof bulk).outcome, usb::Outcome::NoDevice);
    QVERIFY(!old->endpointCount());
    usb::Outcome outcome = usb::Outcome::Ok;
    QVERIFY(!usb::openDevice(alphaPath, &outcome));
    QCOMPARE(outcome, usb::Outcome::NoDevice);

    // A line it does not understand changes nothing.
    kitsim->write("unplug NOSUCHDEVICE\nwiggle\n");
    kitsim->write("plug MODULE000001\n");
    QTRY_COMPARE(usb::listDevicePaths(moduleClass), (Paths{alphaPath, bravoPath}));
    // The handle died with the unplug; a new one works.
    QCOMPARE(old->control(vendorIn(0x01, 24), info).outcome, usb::Outcome::NoDevice);
    std::unique_ptr<usb::Device> fresh = usb::openDevice(alphaPath);
    QVERIFY(fresh);
    QVERIFY(fresh->control(vendorIn(0x01, 24), info).ok());
    QCOMPARE(QByteArray(reinterpret_cast<char *>(info), 12), QByteArray(alphaSerial));

    kitsim->write("unplug receptor\n");
    QTRY_VERIFY(usb::listDevicePaths(receptorClass).empty());
    kitsim->write("plug receptor\n");
    QTRY_COMPARE(usb::listDevicePaths(receptorClass), Paths{"sim:receptor"});
    QVERIFY(m_processes.waitForOutput(kitsim, "kitsim: plugged sim:receptor\n"));
    QVERIFY(m_processes.waitForError(kitsim, "kitsim: no device 'NOSUCHDEVICE'\n"));
    QVERIFY(m_processes.waitForError(kitsim, "kitsim: unknown command 'wiggle'"));
}

void TestKitsim::killedSimulatorLooksUnplugged()
{
    QProcess *kitsim = m_processes.startKitsim(twoModules());
    QVERIFY(kitsim);
    std::unique_ptr<usb::Device> handle = usb::openDevice(alphaPath);
    QVERIFY(handle);

    kitsim->kill();
    QVERIFY(kitsim->waitForFinished(5000));
    // The socket file stays behind, answering nothing.
    QVERIFY(QFile::exists(m_socket));
    QVERIFY(usb::listDevicePaths(moduleClass).empty());
    uint8_t info[24];
    QCOMPARE(handle->control(vendorIn(0x01, 24), info).outcome, usb::Outcome::NoDevice);
    QVERIFY(!usb::openDevice(alphaPath));

    // The next simulator takes the stale socket over.
    QVERIFY(m_processes.startKitsim(twoModules()));
    QTRY_COMPARE(usb::listDevicePaths(moduleClass), (Paths{alphaPath, bravoPath}));
}

void TestKitsim::stoppedSimulatorTimesOut()
{
    QProcess *kitsim = m_processes.startKitsim(twoModules());
    QVERIFY(kitsim);
    std::unique_ptr<usb::Device> handle = usb::openDevice(alphaPath);
    QVERIFY(handle);
    const auto pid = static_cast<pid_t>(kitsim->processId());

    // A simulator that no longer answers costs a bounded wait, then looks gone.
    QCOMPARE(::kill(pid, SIGSTOP), 0);
    QVERIFY(usb::listDevicePaths(moduleClass).empty());
    uint8_t info[24];
    QCOMPARE(handle->control(vendorIn(0x01, 24), info).outcome, usb::Outcome::Timeout);
    QCOMPARE(handle->control(vendorIn(0x01, 24), info).outcome, usb::Outcome::NoDevice);

    // Woken up, it finds its clients gone and serves on.
    QCOMPARE(::kill(pid, SIGCONT), 0);
    QTRY_COMPARE(usb::listDevicePaths(moduleClass), (Paths{alphaPath, bravoPath}));
    handle = usb::openDevice(alphaPath);
    QVERIFY(handle);
    QVERIFY(handle->control(vendorIn(0x01, 24), info).ok());
    QCOMPARE(kitsim->state(), QProcess::Running);
}

void TestKitsim::stopsCleanly()
{
    // End of input is not a reason to stop; "quit" is, and so is SIGTERM. Both remove the socket.
    QProcess *kitsim = m_processes.startKitsim(twoModules());
    QVERIFY(kitsim);
    kitsim->closeWriteChannel();
    QVERIFY(m_processes.waitForOutput(kitsim, "kitsim: no more input"));
    QCOMPARE(usb::listDevicePaths(moduleClass), (Paths{alphaPath, bravoPath}));
    kitsim->terminate();
    QVERIFY(kitsim->waitForFinished(5000));
    QCOMPARE(kitsim->exitStatus(), QProcess::NormalExit);
    QCOMPARE(kitsim->exitCode(), 0);
    QVERIFY(!QFile::exists(m_socket));

    kitsim = m_processes.startKitsim({"--receptor"});
    QVERIFY(kitsim);
    kitsim->write("quit\n");
    QVERIFY(kitsim->waitForFinished(5000));
    QCOMPARE(kitsim->exitCode(), 0);
    QVERIFY(!QFile::exists(m_socket));
    QVERIFY(usb::listDevicePaths(receptorClass).empty());
}

void TestKitsim::secondSimulatorRefused()
{
    QVERIFY(m_processes.startKitsim({"--receptor"}));
    QProcess *second = launch(twoModules());
    QVERIFY(second->waitForFinished(5000));
    QCOMPARE(second->exitCode(), 1);
    QVERIFY(m_processes.waitForError(second, "another simulator is serving"));
    // The first one's socket was left alone.
    QCOMPARE(usb::listDevicePaths(receptorClass), Paths{"sim:receptor"});
}

void TestKitsim::helpPrintsUsage()
{
    QProcess *kitsim = launch({"--help"});
    QVERIFY(kitsim->waitForFinished(5000));
    QCOMPARE(kitsim->exitCode(), 0);
    QVERIFY(m_processes.output(kitsim).startsWith("Usage: kitsim"));
    QVERIFY(m_processes.output(kitsim).contains("korvane-kitsim.sock"));
}

void TestKitsim::badInputExitsWithStatus2_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QString alpha = m_dir.filePath("alpha.img");
    QFile large(m_dir.filePath("large.img"));
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(0x2000000 + 1));
    const QString good = writeFile("good.csv", "45.5;6.25\n");
    const QString badLine = writeFile("bad.csv", "45.5;6.25\n45,5;6,25\n");
    const QString outOfRange = writeFile("range.csv", "91;6.25\n");
    const QString empty = writeFile("empty.csv", "\n\n");

    QTest::newRow("unknown option") << QStringList{"--receptor", "--colour"} << "unknown option '--colour'";
    QTest::newRow("value missing") << QStringList{"--receptor", "--module"} << "--module needs a value";
    QTest::newRow("nothing to serve") << QStringList{} << "nothing to simulate";
    QTest::newRow("image missing") << QStringList{"--module", "MODULE000001,ALPHA," + m_dir.filePath("none.img")}
                                   << "cannot read image";
    QTest::newRow("image is a folder") << QStringList{"--module", "MODULE000001,ALPHA," + m_dir.path()}
                                       << "not a file";
    QTest::newRow("image larger than the flash")
        << QStringList{"--module", "MODULE000001,ALPHA," + large.fileName()} << "larger than the 32 MiB flash";
    QTest::newRow("module serial of 11") << QStringList{"--module", "MODULE00001,ALPHA," + alpha}
                                         << "bad module serial";
    QTest::newRow("module serial of 13") << QStringList{"--module", "MODULE0000001,ALPHA," + alpha}
                                         << "bad module serial";
    QTest::newRow("module serial with a dash") << QStringList{"--module", "MODULE-00001,ALPHA," + alpha}
                                               << "bad module serial";
    QTest::newRow("module name of 9") << QStringList{"--module", "MODULE000001,ABCDEFGHI," + alpha}
                                      << "bad module name";
    QTest::newRow("module without image") << QStringList{"--module", "MODULE000001,ALPHA"} << "SERIAL,NAME,IMAGE";
    QTest::newRow("module twice") << QStringList{"--module", "MODULE000001,ALPHA," + alpha, "--module",
                                                 "module000001,BRAVO," + alpha}
                                  << "given twice";
    QTest::newRow("beacon serial not hexadecimal")
        << QStringList{"--receptor", "--track", "0a1b2c3d4e5g," + good} << "bad beacon serial";
    QTest::newRow("beacon serial of 10") << QStringList{"--receptor", "--beacon-name", "0a1b2c3d4e,NAME"}
                                         << "bad beacon serial";
    QTest::newRow("beacon name with a dash") << QStringList{"--receptor", "--beacon-name", "0a1b2c3d4e5f,AB-1"}
                                             << "bad beacon name";
    QTest::newRow("track file missing") << QStringList{"--receptor", "--track", "0a1b2c3d4e5f,"
                                                                                    + m_dir.filePath("none.csv")}
                                        << "cannot read track file";
    QTest::newRow("track line with commas") << QStringList{"--receptor", "--track", "0a1b2c3d4e5f," + badLine}
                                            << "bad.csv:2:";
    QTest::newRow("latitude beyond 90") << QStringList{"--receptor", "--track", "0a1b2c3d4e5f," + outOfRange}
                                        << "range.csv:1:";
    QTest::newRow("track without positions") << QStringList{"--receptor", "--track", "0a1b2c3d4e5f," + empty}
                                             << "holds no position";
    QTest::newRow("receptor id of 13") << QStringList{"--receptor", "--receptor-id", "RCPT000000042"}
                                       << "bad receptor identification";
    QTest::newRow("track without receptor") << QStringList{"--track", "0a1b2c3d4e5f," + good} << "need --receptor";
}

void TestKitsim::badInputExitsWithStatus2()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);

    QProcess *kitsim = launch(arguments);
    QVERIFY(kitsim->waitForFinished(5000));
    QCOMPARE(kitsim->exitStatus(), QProcess::NormalExit);
    QCOMPARE(kitsim->exitCode(), 2);
    const QString error = m_processes.errors(kitsim);
    QVERIFY2(error.startsWith("kitsim: ") && error.contains(message), qPrintable(error));
    QVERIFY(!QFile::exists(m_socket));
}

QTEST_GUILESS_MAIN(TestKitsim)
#include "tst_kitsim.moc"
