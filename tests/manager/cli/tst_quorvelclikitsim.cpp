// quorvel-cli as a program against kitsim as a separate process: a download of two modules compared
// with the expected track files (and its GPX files read back by gpsbabel when it is installed), a
// module unplugged mid-download, and an erase seen by a following list.
#include "CliTestModules.h"
#include "TrackDownloader.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <functional>
#include <memory>
#include <vector>

namespace
{
constexpr const char *longSerial = "4C4F4E470001";
constexpr const char *longName = "LONG";
// Long enough that a download takes seconds: the unplug test holds quorvel-cli once it reaches 1%.
constexpr int longSectors = 128;

// How long a process may take to answer; the tests wait on events, this only bounds a hang.
constexpr int patienceMs = 60000;

bool waitUntil(const std::function<bool()> &done)
{
    return QTest::qWaitFor(done, patienceMs);
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

// The module's flash up to the end of its last written page, as kitsim loads it.
bool writeImage(const QString &path, const VirtualModule &module)
{
    const uint32_t pages = (uint32_t(module.usedSize()) + VirtualModule::pageSize - 1) / VirtualModule::pageSize;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (uint32_t i = 0; i < pages; ++i) {
        const VirtualModule::Page page = module.page(i);
        if (file.write(reinterpret_cast<const char *>(page.data()), int(page.size())) != int(page.size()))
            return false;
    }
    return true;
}

// One track of one fix a second over `longSectors` sectors, from 2 February 2021 at noon.
void logLong(VirtualModule &module)
{
    ModuleFlashWriter writer(module);
    writer.startTrack("020221", "120000.000", "001");
    ModuleFlashWriter::Fix fix;
    fix.year = 2021;
    fix.month = 2;
    fix.latitude = 4500.0;
    fix.longitude = 600.0;
    for (int i = 0; i < longSectors * 1020; ++i) {
        const int t = 12 * 3600 + i;
        fix.day = 2 + t / 86400;
        fix.hour = t / 3600 % 24;
        fix.minute = t / 60 % 60;
        fix.second = t % 60;
        fix.latitude += 0.0001;
        writer.appendFix(fix, ModuleFlashWriter::CoordinateStyle::V1);
    }
}

// A --module value of kitsim.
QString moduleSpec(const char *serial, const char *name, const QString &image)
{
    return QStringLiteral("%1,%2,%3").arg(QLatin1String(serial), QLatin1String(name), image);
}

QString longTrack()
{
    return QStringLiteral("LONG_4C4F4E470001_020221_120000.000");
}

// LONG's whole track file, from the same conversion in this process.
QByteArray longTrackCsv(const VirtualModule &module, const QString &directory)
{
    TrackDownloader downloader(QString::fromLatin1(longName), QString::fromLatin1(longSerial), directory);
    downloader.run(
        [&module](char *buffer, quint32 pageIndex, int) {
            const VirtualModule::Page page = module.page(pageIndex);
            memcpy(buffer, page.data(), page.size());
            return int(page.size());
        },
        module.usedSize(), [](int) {});
    return fileBytes(directory + '/' + longTrack() + ".csv");
}

// gpsbabel's reading of a CSV track file's points: "lat,lon,ele,hdop,vdop,pdop,yyyy/MM/dd,hh:mm:ss[.zzz]".
QStringList pointsOfCsv(const QByteArray &csv)
{
    QStringList points;
    const QList<QByteArray> lines = csv.split('\n');
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList f = QString::fromLatin1(lines.at(i).trimmed()).split(';');
        if (f.size() != 8)
            continue;
        const QDateTime time = QDateTime::fromString(f.at(0), "dd/MM/yyyy hh:mm:ss.zzz");
        // gpsbabel writes ASCII digits whatever the locale.
        const QLocale c = QLocale::c();
        QString clock = c.toString(time, "hh:mm:ss");
        if (time.time().msec() != 0)
            clock += c.toString(time, ".zzz");
        const auto dop = [](const QString &text) { return QString::number(text.toDouble(), 'f', 2); };
        points << QStringList{f.at(1), f.at(2), f.at(3) == "nan" ? QString() : f.at(3), dop(f.at(6)),
                              dop(f.at(7)), dop(f.at(5)), c.toString(time, "yyyy/MM/dd"), clock}
                      .join(',');
    }
    return points;
}
}

class TestQuorvelCliKitsim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void downloadTwoModules();
    void moduleUnpluggedMidDownload();
    void eraseThenList();

private:
    QProcess *start(const QString &program, const QStringList &arguments);
    QProcess *startKitsim(const QStringList &modules);
    // Runs quorvel-cli to its end; its exit status, or -1 when it did not end normally.
    int runCli(const QStringList &arguments, QString *err = nullptr, QString *out = nullptr);

    QTemporaryDir m_dir;
    QString m_alphaImage, m_bravoImage, m_longImage;
    QByteArray m_longCsv;
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QMap<QProcess *, QString> m_output;
    QMap<QProcess *, QString> m_errors;
};

void TestQuorvelCliKitsim::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // A runtime folder of this test's own: kitsim listens there and quorvel-cli looks there.
    QVERIFY(QDir(m_dir.path()).mkpath("run"));
    QVERIFY(QFile::setPermissions(m_dir.filePath("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                            | QFileDevice::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_dir.filePath("run")));
    // The CSV header in UTF-8, as the expected files hold it.
    qputenv("LC_ALL", "C.UTF-8");
    // The reference download's per-record diagnostic lines would fill the log.
    QLoggingCategory::defaultCategory()->setEnabled(QtDebugMsg, false);

    VirtualModule alpha(clitest::alphaSerial, clitest::alphaName);
    clitest::logAlpha(alpha);
    VirtualModule bravo(clitest::bravoSerial, clitest::bravoName);
    clitest::logBravo(bravo);
    VirtualModule longModule(longSerial, longName);
    logLong(longModule);
    m_alphaImage = m_dir.filePath("alpha.img");
    m_bravoImage = m_dir.filePath("bravo.img");
    m_longImage = m_dir.filePath("long.img");
    QVERIFY(writeImage(m_alphaImage, alpha));
    QVERIFY(writeImage(m_bravoImage, bravo));
    QVERIFY(writeImage(m_longImage, longModule));
    QVERIFY(QDir(m_dir.path()).mkpath("reference"));
    m_longCsv = longTrackCsv(longModule, m_dir.filePath("reference"));
    QCOMPARE(m_longCsv.count('\n'), 1 + longSectors * 1020);
}

void TestQuorvelCliKitsim::cleanup()
{
    for (const std::unique_ptr<QProcess> &process : m_processes) {
        if (process->state() == QProcess::NotRunning)
            continue;
        ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    m_processes.clear();
    m_output.clear();
    m_errors.clear();
}

QProcess *TestQuorvelCliKitsim::start(const QString &program, const QStringList &arguments)
{
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess *process = m_processes.back().get();
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { m_output[process] += QString::fromUtf8(process->readAllStandardOutput()); });
    connect(process, &QProcess::readyReadStandardError, this,
            [this, process] { m_errors[process] += QString::fromUtf8(process->readAllStandardError()); });
    process->start(program, arguments);
    return process;
}

QProcess *TestQuorvelCliKitsim::startKitsim(const QStringList &modules)
{
    QStringList arguments;
    for (const QString &module : modules)
        arguments << "--module" << module;
    QProcess *kitsim = start(QStringLiteral(KITSIM_PROGRAM), arguments);
    const bool listening = waitUntil([&] {
        return kitsim->state() == QProcess::NotRunning || m_output.value(kitsim).contains("kitsim: listening on ");
    });
    if (!listening || kitsim->state() == QProcess::NotRunning) {
        qWarning("kitsim did not start: %s", qPrintable(m_errors.value(kitsim)));
        return nullptr;
    }
    return kitsim;
}

int TestQuorvelCliKitsim::runCli(const QStringList &arguments, QString *err, QString *out)
{
    QProcess *cli = start(QStringLiteral(QUORVEL_CLI_PROGRAM), arguments);
    const bool ended = waitUntil([cli] { return cli->state() == QProcess::NotRunning; });
    if (err)
        *err = m_errors.value(cli);
    if (out)
        *out = m_output.value(cli);
    if (!ended || cli->exitStatus() != QProcess::NormalExit)
        return -1;
    return cli->exitCode();
}

void TestQuorvelCliKitsim::downloadTwoModules()
{
    QVERIFY(startKitsim({moduleSpec(clitest::alphaSerial, clitest::alphaName, m_alphaImage),
                         moduleSpec(clitest::bravoSerial, clitest::bravoName, m_bravoImage)}));
    QTemporaryDir out;

    QString err;
    QCOMPARE(runCli({"download", "--gpx", "--dir", out.path()}, &err), 0);

    const QStringList tracks = clitest::alphaTracks() + clitest::bravoTracks();
    QStringList files;
    for (const QString &track : tracks)
        files << track + ".csv" << track + ".gpx";
    files.sort();
    QCOMPARE(QDir(out.path()).entryList(QDir::Files, QDir::Name), files);
    for (const QString &file : files)
        QVERIFY2(fileBytes(out.filePath(file)) == expected(file), qPrintable(file));
    QVERIFY2(err.contains("ALPHA (0A1B2C3D4E5F): download finished.\n")
                 && err.contains("BRAVO (112233445566): download finished.\n"),
             qPrintable(err));

    // Another reader of GPX finds the points of the CSV files. (Its plain "csv" output keeps five
    // decimals and drops times and elevations; "unicsv" over the tracks keeps them all.)
    const QString gpsbabel = QStandardPaths::findExecutable("gpsbabel");
    if (gpsbabel.isEmpty())
        QSKIP("gpsbabel is not installed: GPX files not read back");
    for (const QString &track : tracks) {
        QProcess reader;
        reader.start(gpsbabel, {"-t", "-i", "gpx", "-f", out.filePath(track + ".gpx"), "-o", "unicsv,utc=0",
                                "-F", "-"});
        QVERIFY(reader.waitForFinished(patienceMs));
        QCOMPARE(reader.exitCode(), 0);
        QStringList points = QString::fromUtf8(reader.readAllStandardOutput()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(points.takeFirst(), QStringLiteral("No,Latitude,Longitude,Altitude,HDOP,VDOP,PDOP,Date,Time"));
        for (QString &point : points)
            point = point.section(',', 1);
        QCOMPARE(points, pointsOfCsv(expected(track + ".csv")));
    }
}

void TestQuorvelCliKitsim::moduleUnpluggedMidDownload()
{
    // LONG comes first and is lost; ALPHA is still downloaded after it.
    QProcess *kitsim = startKitsim({moduleSpec(longSerial, longName, m_longImage),
                                    moduleSpec(clitest::alphaSerial, clitest::alphaName, m_alphaImage)});
    QVERIFY(kitsim);
    QTemporaryDir out;
    QProcess *cli = start(QStringLiteral(QUORVEL_CLI_PROGRAM), {"download", "--dir", out.path()});

    // Once LONG's download is under way, hold quorvel-cli still while the module goes away, so
    // that the unplug lands mid-download whatever the machine's speed.
    QVERIFY(waitUntil([&] {
        return m_errors.value(cli).contains("LONG (4C4F4E470001): 1%") || cli->state() == QProcess::NotRunning;
    }));
    QVERIFY2(cli->state() == QProcess::Running, qPrintable(m_errors.value(cli)));
    QCOMPARE(::kill(static_cast<pid_t>(cli->processId()), SIGSTOP), 0);
    kitsim->write(QByteArray("unplug ") + longSerial + '\n');
    QVERIFY(waitUntil(
        [&] { return m_output.value(kitsim).contains("kitsim: unplugged sim:module-4C4F4E470001\n"); }));
    QCOMPARE(::kill(static_cast<pid_t>(cli->processId()), SIGCONT), 0);
    QVERIFY(waitUntil([cli] { return cli->state() == QProcess::NotRunning; }));

    const QString err = m_errors.value(cli);
    QCOMPARE(cli->exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli->exitCode(), 1);
    // The cause, and the track file left incomplete.
    QVERIFY2(err.contains("quorvel-cli: LONG (4C4F4E470001): download failed: the module was unplugged; "
                          "the files written so far are kept.\n"),
             qPrintable(err));
    QVERIFY2(err.contains(QStringLiteral("quorvel-cli: LONG (4C4F4E470001): incomplete track file: %1\n")
                              .arg(out.filePath(longTrack() + ".csv"))),
             qPrintable(err));
    QVERIFY2(err.contains("ALPHA (0A1B2C3D4E5F): download finished.\n"), qPrintable(err));

    // LONG's file holds whole lines of its track, from the start, and stops early.
    const QByteArray partial = fileBytes(out.filePath(longTrack() + ".csv"));
    QVERIFY(partial.endsWith("\r\n"));
    QVERIFY(partial.count('\n') > 1);
    QVERIFY(partial.size() < m_longCsv.size());
    QVERIFY(m_longCsv.startsWith(partial));
    for (const QString &track : clitest::alphaTracks())
        QVERIFY2(fileBytes(out.filePath(track + ".csv")) == expected(track + ".csv"), qPrintable(track));
}

void TestQuorvelCliKitsim::eraseThenList()
{
    QVERIFY(startKitsim({moduleSpec(clitest::alphaSerial, clitest::alphaName, m_alphaImage),
                         moduleSpec(clitest::bravoSerial, clitest::bravoName, m_bravoImage)}));

    QString err, out;
    QCOMPARE(runCli({"list"}, &err, &out), 0);
    QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).startsWith("sim:module-0A1B2C3D4E5F\t0A1B2C3D4E5F\tALPHA\t"), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(0).endsWith("\t131584 / 33554432 bytes\t11 records"), qPrintable(lines.at(0)));

    QCOMPARE(runCli({"erase", "--serial", clitest::alphaSerial, "--yes"}, &err), 0);
    QVERIFY2(err.endsWith("ALPHA (0A1B2C3D4E5F): erased.\n"), qPrintable(err));

    QCOMPARE(runCli({"list"}, &err, &out), 0);
    lines = out.split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 2);
    QVERIFY2(lines.at(0).endsWith("\t0 / 33554432 bytes\t0 records"), qPrintable(lines.at(0)));
    QVERIFY2(lines.at(1).startsWith("sim:module-112233445566\t112233445566\tBRAVO\t")
                 && lines.at(1).endsWith("\t5 records"),
             qPrintable(lines.at(1)));
}

QTEST_GUILESS_MAIN(TestQuorvelCliKitsim)
#include "tst_quorvelclikitsim.moc"
