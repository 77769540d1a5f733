// quorvel-cli's command runner in-process against virtual modules on the emulated bus: listing,
// downloads compared with the expected track files, a module lost mid-download, erase, rename,
// bootloader, and the statuses of unknown modules and bad folders.
#include "CliTestModules.h"
#include "EmulatedBus.h"
#include "QuorvelCli.h"
#include "QuorvelMetaTypes.h"
#include "USBDetector.h"
#include "UsbAccess.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QTextStream>
#include <QXmlStreamReader>
#include <QtTest>

#include <memory>

namespace
{
struct CliRun
{
    int status = -1;
    QString out;
    QString err;
};

CliRun runCli(const QStringList &arguments)
{
    CliRun run;
    QTextStream out(&run.out);
    QTextStream err(&run.err);
    QuorvelCli cli(out, err);
    run.status = cli.run(arguments);
    return run;
}

std::shared_ptr<VirtualModule> plug(const std::string &path, const char *serial, const char *name)
{
    auto module = std::make_shared<VirtualModule>(serial, name);
    module->setEraseBusyPolls(0);
    usb::EmulatedBus::instance().attach(USBDetector::interfaceClass(), path, module);
    return module;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QByteArray expected(const QString &name)
{
    return fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/") + name);
}

QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files, QDir::Name);
}

QStringList withSuffix(const QStringList &bases, const QString &suffix)
{
    QStringList names;
    for (const QString &base : bases)
        names << base + suffix;
    return names;
}

bool wellFormed(const QByteArray &document)
{
    QXmlStreamReader reader(document);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}
}

class TestQuorvelCli : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void listModules();
    void listWithoutModules();
    void listUnopenableModule();
    void download_data();
    void download();
    void downloadOfUnknownSerial();
    void downloadWithoutModules();
    void downloadIntoMissingFolder_data();
    void downloadIntoMissingFolder();
    void moduleLostMidDownload();
    void trackFileNotWritten();
    void eraseThenList();
    void eraseOfLostModule();
    void rename();
    void renameNotTaken();
    void bootloader();
    void usageError();

private:
    std::shared_ptr<VirtualModule> m_alpha;
    std::shared_ptr<VirtualModule> m_bravo;
};

void TestQuorvelCli::initTestCase()
{
    usb::setPlatformBackendEnabled(false);
    registerQuorvelMetaTypes();
    // The files hold the same bytes (the CSV header in UTF-8) whatever the system's encoding.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1252"));
}

void TestQuorvelCli::init()
{
    usb::EmulatedBus::instance().reset();
    m_alpha = plug("module-a", clitest::alphaSerial, clitest::alphaName);
    clitest::logAlpha(*m_alpha);
    m_bravo = plug("module-b", clitest::bravoSerial, clitest::bravoName);
    clitest::logBravo(*m_bravo);
}

void TestQuorvelCli::cleanup()
{
    // Every module handle of the run is closed once it returns.
    QCOMPARE(usb::EmulatedBus::instance().openHandles(), 0);
    usb::EmulatedBus::instance().reset();
    m_alpha.reset();
    m_bravo.reset();
}

void TestQuorvelCli::listModules()
{
    const CliRun run = runCli({"list"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QStringLiteral("emu:module-a\t0A1B2C3D4E5F\tALPHA\thardware 1.4\tsoftware 2.0\t"
                                     "%1 / 33554432 bytes\t11 records\n"
                                     "emu:module-b\t112233445566\tBRAVO\thardware 2.1\tsoftware 3.7\t"
                                     "%2 / 33554432 bytes\t5 records\n")
                          .arg(m_alpha->usedSize())
                          .arg(m_bravo->usedSize()));
    QCOMPARE(m_alpha->usedSize(), 2 * 0x10000 + 2 * 256);
    QCOMPARE(run.err, QString());
}

void TestQuorvelCli::listWithoutModules()
{
    usb::EmulatedBus::instance().reset();
    const CliRun run = runCli({"list"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, QString());
    QCOMPARE(run.err, QStringLiteral("No module found.\n"));
}

void TestQuorvelCli::listUnopenableModule()
{
    usb::EmulatedBus::instance().setOpenFails("module-a", true);
    const CliRun run = runCli({"list"});
    QCOMPARE(run.status, 1);
    const QStringList lines = run.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("emu:module-a\t\t\thardware \tsoftware \t0 / 0 bytes\t0 records"));
    QVERIFY(lines.at(1).startsWith("emu:module-b\t112233445566\tBRAVO\t"));
    QCOMPARE(run.err, QStringLiteral("quorvel-cli: The module at emu:module-a does not answer.\n"));
}

void TestQuorvelCli::download_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("tracks");
    QTest::addColumn<bool>("gpx");

    const QStringList both = clitest::alphaTracks() + clitest::bravoTracks();
    QTest::newRow("every module") << QStringList{} << both << false;
    QTest::newRow("every module with GPX") << QStringList{"--gpx"} << both << true;
    QTest::newRow("one module by serial") << QStringList{"--serial", clitest::bravoSerial}
                                          << clitest::bravoTracks() << false;
    QTest::newRow("serial in lower case, GPX") << QStringList{"--gpx", "--serial=0a1b2c3d4e5f"}
                                               << clitest::alphaTracks() << true;
}

void TestQuorvelCli::download()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, tracks);
    QFETCH(bool, gpx);
    QTemporaryDir dir;

    const CliRun run = runCli(QStringList{"download", "--dir", dir.path()} + options);

    QCOMPARE(run.status, 0);
    QStringList files = withSuffix(tracks, ".csv");
    if (gpx)
        files += withSuffix(tracks, ".gpx");
    files.sort();
    QCOMPARE(filesIn(dir.path()), files);
    for (const QString &file : files)
        QVERIFY2(fileBytes(dir.filePath(file)) == expected(file), qPrintable(file));

    const bool withAlpha = tracks.contains(clitest::alphaTracks().first());
    const bool withBravo = tracks.contains(clitest::bravoTracks().first());
    const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.contains("ALPHA (0A1B2C3D4E5F): download finished."), withAlpha);
    QCOMPARE(lines.contains("BRAVO (112233445566): download finished."), withBravo);
    // Progress lines: from 0, each value once, never past 100.
    QStringList alphaProgress = lines.filter(QRegularExpression("^ALPHA \\(0A1B2C3D4E5F\\): \\d+%$"));
    if (withAlpha) {
        QCOMPARE(alphaProgress.first(), QStringLiteral("ALPHA (0A1B2C3D4E5F): 0%"));
        QCOMPARE(alphaProgress.last(), QStringLiteral("ALPHA (0A1B2C3D4E5F): 100%"));
        QCOMPARE(alphaProgress.removeDuplicates(), 0);
    }
    QCOMPARE(run.out, QString());
}

void TestQuorvelCli::downloadOfUnknownSerial()
{
    QTemporaryDir dir;
    const CliRun run = runCli({"download", "--dir", dir.path(), "--serial", "FFFFFFFFFFFF"});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("quorvel-cli: No module with serial number FFFFFFFFFFFF.\n"));
    QCOMPARE(filesIn(dir.path()), QStringList());
    QCOMPARE(m_alpha->pagesRead() + m_bravo->pagesRead(), 0);
}

void TestQuorvelCli::downloadWithoutModules()
{
    usb::EmulatedBus::instance().reset();
    QTemporaryDir dir;
    const CliRun run = runCli({"download", "--dir", dir.path()});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("quorvel-cli: No module found.\n"));
}

void TestQuorvelCli::downloadIntoMissingFolder_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << "missing" << "quorvel-cli: The directory %1 does not exist.\n";
    QTest::newRow("a file") << "file.txt" << "quorvel-cli: %1 is not a directory.\n";
}

void TestQuorvelCli::downloadIntoMissingFolder()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QFile file(dir.filePath("file.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const CliRun run = runCli({"download", "--dir", dir.filePath(name)});

    QCOMPARE(run.status, 2);
    QCOMPARE(run.err, message.arg(dir.filePath(name)));
    // Refused before any module is touched.
    QCOMPARE(usb::EmulatedBus::instance().transferCount(), uint64_t(0));
}

void TestQuorvelCli::moduleLostMidDownload()
{
    // ALPHA's transfers: identity (detection), memory counters, then five per page (position
    // request, four bulk reads). It goes away at the position request of page 2.
    usb::Fault unplug;
    unplug.kind = usb::FaultKind::Unplug;
    unplug.atTransfer = 2 + 5 * 2 + 1;
    unplug.path = "module-a";
    usb::EmulatedBus::instance().addFault(unplug);
    QTemporaryDir dir;

    const CliRun run = runCli({"download", "--gpx", "--dir", dir.path()});

    QCOMPARE(run.status, 1);
    const QString track = clitest::alphaTracks().first();
    QVERIFY(run.err.contains(
        "quorvel-cli: ALPHA (0A1B2C3D4E5F): download failed: the module was unplugged; the files "
        "written so far are kept.\n"));
    QVERIFY(run.err.contains(QStringLiteral("quorvel-cli: ALPHA (0A1B2C3D4E5F): incomplete track file: %1\n")
                                 .arg(dir.filePath(track + ".csv"))));
    QVERIFY(run.err.contains("BRAVO (112233445566): download finished.\n"));

    const QStringList bravoFiles =
        withSuffix(clitest::bravoTracks(), ".csv") + withSuffix(clitest::bravoTracks(), ".gpx");
    QCOMPARE(filesIn(dir.path()), QStringList({track + ".csv", track + ".gpx"}) + bravoFiles);
    // The track file holds the header and the four lines of page 1, complete.
    const QList<QByteArray> expectedLines = expected(track + ".csv").split('\n');
    QCOMPARE(fileBytes(dir.filePath(track + ".csv")), expectedLines.mid(0, 5).join('\n') + '\n');
    const QByteArray gpx = fileBytes(dir.filePath(track + ".gpx"));
    QVERIFY(wellFormed(gpx));
    QCOMPARE(gpx.count("<trkpt "), 4);
    for (const QString &file : bravoFiles)
        QVERIFY2(fileBytes(dir.filePath(file)) == expected(file), qPrintable(file));
}

void TestQuorvelCli::trackFileNotWritten()
{
    if (!QFile::exists("/dev/full"))
        QSKIP("needs /dev/full");
    // ALPHA's first track file lands on a full disk.
    QTemporaryDir dir;
    const QString first = clitest::alphaTracks().first();
    QVERIFY(QFile::link("/dev/full", dir.filePath(first + ".csv")));

    const CliRun run = runCli({"download", "--gpx", "--serial", clitest::alphaSerial, "--dir", dir.path()});

    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("ALPHA (0A1B2C3D4E5F): 0%\n"
                                     "quorvel-cli: ALPHA (0A1B2C3D4E5F): download failed: the disk is "
                                     "full; the files written so far are kept.\n"
                                     "quorvel-cli: ALPHA (0A1B2C3D4E5F): track file not written: %1\n")
                          .arg(dir.filePath(first + ".csv")));
    // The download ended there: no file of that track (nor its GPX), nor of the next one.
    QCOMPARE(filesIn(dir.path()), QStringList());
}

void TestQuorvelCli::eraseThenList()
{
    const CliRun erase = runCli({"erase", "--serial", clitest::alphaSerial, "--yes"});
    QCOMPARE(erase.status, 0);
    QVERIFY(erase.err.startsWith("ALPHA (0A1B2C3D4E5F): 0%\n"));
    QVERIFY(erase.err.endsWith("ALPHA (0A1B2C3D4E5F): 100%\nALPHA (0A1B2C3D4E5F): erased.\n"));
    QCOMPARE(m_alpha->erasedPageIndexes(), std::vector<uint32_t>({0, 256, 512}));
    QCOMPARE(m_alpha->endEraseCount(), 1);
    QCOMPARE(m_bravo->eraseRequests(), 0);

    const CliRun list = runCli({"list"});
    QCOMPARE(list.status, 0);
    const QStringList lines = list.out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).endsWith("\t0 / 33554432 bytes\t0 records"), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).endsWith("\t5 records"), qPrintable(lines.at(1)));
}

void TestQuorvelCli::eraseOfLostModule()
{
    // Gone during the erase: the sectors cannot be erased and the memory counters cannot be read.
    usb::Fault unplug;
    unplug.kind = usb::FaultKind::Unplug;
    unplug.atTransfer = 4;
    unplug.path = "module-a";
    usb::EmulatedBus::instance().addFault(unplug);

    const CliRun run = runCli({"erase", "--serial", clitest::alphaSerial, "--yes"});

    QCOMPARE(run.status, 1);
    QVERIFY(run.err.endsWith(
        "quorvel-cli: ALPHA (0A1B2C3D4E5F): the memory state cannot be read after the erase.\n"));
}

void TestQuorvelCli::rename()
{
    const CliRun run = runCli({"rename", "--serial", clitest::bravoSerial, "NEW_1"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QStringLiteral("BRAVO (112233445566): renamed to NEW_1.\n"));
    QCOMPARE(m_bravo->name(), std::string("NEW_1"));
    QCOMPARE(m_alpha->name(), std::string("ALPHA"));
}

void TestQuorvelCli::renameNotTaken()
{
    // The rename request fails on the bus (transfer 1 is the identity read of the detection).
    usb::Fault fail;
    fail.kind = usb::FaultKind::Fail;
    fail.atTransfer = 2;
    fail.path = "module-b";
    usb::EmulatedBus::instance().addFault(fail);

    const CliRun run = runCli({"rename", "--serial", clitest::bravoSerial, "NEW_1"});

    QCOMPARE(run.status, 1);
    QCOMPARE(run.err, QStringLiteral("quorvel-cli: BRAVO (112233445566): rename failed, "
                                     "the module's name is \"BRAVO\".\n"));
    QCOMPARE(m_bravo->name(), std::string("BRAVO"));
}

void TestQuorvelCli::bootloader()
{
    const CliRun unknown = runCli({"bootloader", "--serial", "000000000000"});
    QCOMPARE(unknown.status, 1);
    QVERIFY(!m_alpha->bootloaderRequested() && !m_bravo->bootloaderRequested());

    const CliRun run = runCli({"bootloader", "--serial", clitest::alphaSerial});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QStringLiteral("ALPHA (0A1B2C3D4E5F): switched to its bootloader.\n"));
    QVERIFY(m_alpha->bootloaderRequested());
    QVERIFY(!m_bravo->bootloaderRequested());
}

void TestQuorvelCli::usageError()
{
    const CliRun run = runCli({"erase", "--serial", clitest::alphaSerial});
    QCOMPARE(run.status, 2);
    QCOMPARE(run.err, QStringLiteral("quorvel-cli: Erasing deletes every track of the module: confirm with --yes.\n"
                                     "Try 'quorvel-cli --help'.\n"));
    QCOMPARE(m_alpha->eraseRequests(), 0);
    QCOMPARE(usb::EmulatedBus::instance().transferCount(), uint64_t(0));

    const CliRun help = runCli({"--help"});
    QCOMPARE(help.status, 0);
    QCOMPARE(help.out, CliCommand::usage());
}

QTEST_GUILESS_MAIN(TestQuorvelCli)
#include "tst_quorvelcli.moc"
