// The download loop over an in-memory flash image: track files compared byte for byte with the
// expected files in data/, the end of the logged data, progress, and every way a download can fail.
#include "FileSizeLimit.h"
#include "GoldenTracks.h"
#include "ModuleRecordText.h"
#include "TestFiles.h"
#include "TrackCsv.h"
#include "TrackDownloader.h"
#include "TrackObserver.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QLoggingCategory>
#include <QtTest>

#include <map>

using moduletext::Fields;
using moduletext::dataPage;
using moduletext::headerPage;
using moduletext::record;

namespace
{
const QString trackA = QStringLiteral("TRK1_0123456789AB_061220_093015.000.csv");
const QString trackB = QStringLiteral("TRK1_0123456789AB_311299_235959.500.csv");

// Flash content by page index; pages not listed read as erased flash.
class FlashImage
{
public:
    void set(quint32 pageIndex, const QByteArray &page) { m_pages[pageIndex] = page; }
    // Page index at which reads start failing (none by default).
    void failFrom(quint32 pageIndex) { m_failFrom = pageIndex; }

    TrackDownloader::PageReader reader()
    {
        return [this](char *buffer, quint32 pageIndex, int capacity) {
            reads.append(pageIndex);
            if (capacity < 256 || pageIndex >= m_failFrom)
                return -1;
            const auto found = m_pages.find(pageIndex);
            const QByteArray page = found == m_pages.end() ? QByteArray(256, char(0xFF)) : found->second;
            memcpy(buffer, page.constData(), 256);
            return 256;
        };
    }

    QList<quint32> reads;

private:
    std::map<quint32, QByteArray> m_pages;
    quint32 m_failFrom = 0xFFFFFFFF;
};

// Two tracks: a V1 track over sectors 0 and 1 (the second a continuation) and a V5 track in
// sector 2; sector 3 is erased, so the track in sector 4 is never reached. Used size 514 pages.
void twoTracks(FlashImage &image)
{
    goldentracks::writeTwoTracks([&image](quint32 pageIndex, const QByteArray &page) { image.set(pageIndex, page); });
}
using goldentracks::twoTracksUsedSize;

using testfiles::expected;
using testfiles::fileBytes;

QStringList filesIn(const QString &directory)
{
    return QDir(directory).entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
}

struct Run
{
    TrackDownloader::Result result;
    QList<int> progress;
    DownloadFailure failure;
};

Run download(FlashImage &image, const QString &directory, qint32 usedSize,
             const QString &name = QStringLiteral("TRK1"),
             const QString &serial = QStringLiteral("0123456789AB"))
{
    Run run;
    TrackDownloader downloader(name, serial, directory);
    run.result = downloader.run(image.reader(), usedSize, [&run](int percent) { run.progress << percent; });
    run.failure = downloader.failure();
    return run;
}

QList<int> range(int first, int last)
{
    QList<int> values;
    for (int v = first; v <= last; ++v)
        values << v;
    return values;
}

QList<quint32> pageRange(quint32 first, quint32 last)
{
    QList<quint32> values;
    for (quint32 v = first; v <= last; ++v)
        values << v;
    return values;
}
}

class TestTrackDownloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void twoTracksMatchExpectedFiles();
    void existingFileIsReplaced();
    void noDataAtStart();
    void continuationWithoutStartWritesNothing();
    void stopsAtEndOfMemory();
    void usedSizeBelowOnePage();

    void pageReadFailureKeepsWrittenFiles();
    void missingFolderFails();
    void fullDiskEndsDownloadAtOnce_data();
    void fullDiskEndsDownloadAtOnce();
    void oneFileInTheWay();
    void hostileNamesStayInFolder();
    void sameStampTracksGetDistinctNames();
    void trackWithoutWrittenRecordIsDropped();

private:
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestTrackDownloader::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.download.debug=true"));
    // The files hold the same bytes (the header in UTF-8) whatever the system's encoding.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1252"));
}

void TestTrackDownloader::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

void TestTrackDownloader::twoTracksMatchExpectedFiles()
{
    FlashImage image;
    twoTracks(image);
    QTest::ignoreMessage(QtDebugMsg, "Found record from 061220 at 093015.000 (freq 001)\n");
    QTest::ignoreMessage(QtDebugMsg, "Continuing record from 061220 at 093015.000 (freq 001)\n");
    QTest::ignoreMessage(QtDebugMsg, "Found record from 311299 at 235959.500 (freq 005)\n");

    const Run run = download(image, m_dir->path(), twoTracksUsedSize);

    QCOMPARE(run.result, TrackDownloader::Result::Finished);
    QCOMPARE(filesIn(m_dir->path()), QStringList({trackA, trackB}));
    QCOMPARE(fileBytes(m_dir->filePath(trackA)), expected(trackA));
    QCOMPARE(fileBytes(m_dir->filePath(trackB)), expected(trackB));
    // Pages 0 to 767, then the erased header of sector 3 that ends the data.
    QCOMPARE(image.reads, pageRange(0, 768));
    // 768 pages of 514 used: each percentage once, past 100 as the last sector is read to its end.
    QCOMPARE(run.progress, range(1, 149));
}

void TestTrackDownloader::existingFileIsReplaced()
{
    QFile old(m_dir->filePath(trackA));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(10000, 'x'));
    old.close();

    FlashImage image;
    twoTracks(image);
    QCOMPARE(download(image, m_dir->path(), twoTracksUsedSize).result, TrackDownloader::Result::Finished);
    QCOMPARE(fileBytes(m_dir->filePath(trackA)), expected(trackA));
}

void TestTrackDownloader::noDataAtStart()
{
    FlashImage image;
    image.set(1, dataPage({record(Fields())}));
    const Run run = download(image, m_dir->path(), twoTracksUsedSize);
    QCOMPARE(run.result, TrackDownloader::Result::Finished);
    QCOMPARE(image.reads, QList<quint32>({0}));
    QVERIFY(run.progress.isEmpty());
    QVERIFY(filesIn(m_dir->path()).isEmpty());
}

void TestTrackDownloader::continuationWithoutStartWritesNothing()
{
    FlashImage image;
    image.set(0, headerPage("061220", "093015.000", "001", '0'));
    image.set(1, dataPage({record(Fields()), record(Fields())}));
    QCOMPARE(download(image, m_dir->path(), 512).result, TrackDownloader::Result::Finished);
    QCOMPARE(image.reads.size(), 257);
    QVERIFY(filesIn(m_dir->path()).isEmpty());
}

void TestTrackDownloader::stopsAtEndOfMemory()
{
    FlashImage image;
    image.set(0, headerPage("061220", "093015.000", "001", '1'));
    for (quint32 sector = 1; sector < 512; ++sector)
        image.set(sector * 256, headerPage("061220", "093015.000", "001", '0'));
    image.set(131071, dataPage({record(Fields())}));

    const Run run = download(image, m_dir->path(), 0x2000000);

    QCOMPARE(run.result, TrackDownloader::Result::Finished);
    QCOMPARE(image.reads.size(), 131072);
    QCOMPARE(image.reads.last(), quint32(131071));
    QCOMPARE(run.progress, range(1, 100));
    // The one track: the header line and the record of the very last page.
    const QByteArray bytes = fileBytes(m_dir->filePath(trackA));
    QCOMPARE(bytes.count('\n'), 2);
    QVERIFY(bytes.endsWith("06/12/2020 09:30:15.000;48.117300;11.516667;100.0;0.00;1.0;1.0;1.0\r\n"));
}

void TestTrackDownloader::usedSizeBelowOnePage()
{
    // Less than one used page: reading anything completes the used memory.
    for (qint32 usedSize : {0, 255, -4096}) {
        FlashImage image;
        twoTracks(image);
        const Run run = download(image, m_dir->path(), usedSize);
        QCOMPARE(run.result, TrackDownloader::Result::Finished);
        QCOMPARE(run.progress, QList<int>({100}));
    }
}

void TestTrackDownloader::pageReadFailureKeepsWrittenFiles()
{
    FlashImage image;
    twoTracks(image);
    image.failFrom(300);

    const Run run = download(image, m_dir->path(), twoTracksUsedSize);

    QCOMPARE(run.result, TrackDownloader::Result::Failed);
    QCOMPARE(image.reads.last(), quint32(300));
    // The first track was complete by then; its file was closed and stays.
    QCOMPARE(filesIn(m_dir->path()), QStringList({trackA}));
    QCOMPARE(fileBytes(m_dir->filePath(trackA)), expected(trackA));
    QCOMPARE(run.progress, range(1, 58));  // 300 × 100 / 514
    // The track being read when the module failed is named, and stays.
    QCOMPARE(run.failure.cause, DownloadFailure::Cause::ReadError);
    QCOMPARE(run.failure.trackFile, m_dir->filePath(trackA));
    QVERIFY(run.failure.trackFileKept);
}

void TestTrackDownloader::missingFolderFails()
{
    FlashImage image;
    twoTracks(image);
    QTest::ignoreMessage(QtDebugMsg, "openFile failed\n");

    const Run run = download(image, m_dir->filePath("missing"), twoTracksUsedSize);

    // Nothing can be written anywhere: the download ends at the first track, as a failure.
    QCOMPARE(run.result, TrackDownloader::Result::Failed);
    QCOMPARE(image.reads, QList<quint32>({0}));
    QCOMPARE(run.failure.cause, DownloadFailure::Cause::FolderMissing);
    QCOMPARE(run.failure.trackFile, m_dir->filePath("missing/") + trackA);
    QVERIFY(!run.failure.trackFileKept);
    QVERIFY(filesIn(m_dir->path()).isEmpty());
}

void TestTrackDownloader::fullDiskEndsDownloadAtOnce_data()
{
    QTest::addColumn<QString>("fullTrack");
    QTest::addColumn<QStringList>("written");
    QTest::addColumn<quint32>("lastRead");
    QTest::newRow("first track") << trackA << QStringList() << quint32(0);
    QTest::newRow("second track") << trackB << QStringList({trackA}) << quint32(512);
}

void TestTrackDownloader::fullDiskEndsDownloadAtOnce()
{
    QFETCH(QString, fullTrack);
    QFETCH(QStringList, written);
    QFETCH(quint32, lastRead);
    // That track's file leads to a device that is always full.
    if (!QFileInfo::exists("/dev/full"))
        QSKIP("needs /dev/full");
    QVERIFY(QFile::link("/dev/full", m_dir->filePath(fullTrack)));
    FlashImage image;
    twoTracks(image);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Failed to write .*" + QRegularExpression::escape(fullTrack)));

    const Run run = download(image, m_dir->path(), twoTracksUsedSize);

    QCOMPARE(run.result, TrackDownloader::Result::Failed);
    QCOMPARE(run.failure.cause, DownloadFailure::Cause::DiskFull);
    QCOMPARE(run.failure.trackFile, m_dir->filePath(fullTrack));
    QVERIFY(!run.failure.trackFileKept);
    // Not a page more is read, and no empty file is left behind.
    QCOMPARE(image.reads.last(), lastRead);
    QCOMPARE(filesIn(m_dir->path()), written);
    for (const QString &name : written)
        QCOMPARE(fileBytes(m_dir->filePath(name)), expected(name));
}

void TestTrackDownloader::oneFileInTheWay()
{
    // A folder where the first track's file should go: that track is lost, the next is written.
    QVERIFY(QDir(m_dir->path()).mkdir(trackA));
    FlashImage image;
    twoTracks(image);
    QTest::ignoreMessage(QtDebugMsg, "openFile failed\n");

    const Run run = download(image, m_dir->path(), twoTracksUsedSize);

    QCOMPARE(run.result, TrackDownloader::Result::Failed);
    QCOMPARE(run.failure.cause, DownloadFailure::Cause::FileNotWritable);
    QCOMPARE(run.failure.trackFile, m_dir->filePath(trackA));
    QCOMPARE(image.reads, pageRange(0, 768));
    QCOMPARE(fileBytes(m_dir->filePath(trackB)), expected(trackB));
}

void TestTrackDownloader::hostileNamesStayInFolder()
{
    QDir root(m_dir->path());
    QVERIFY(root.mkpath("a/b/out"));
    const QString out = root.filePath("a/b/out");
    FlashImage image;
    image.set(0, headerPage("../../", "..\\..\\x\x01\x02", "001", '1'));
    image.set(1, dataPage({record(Fields())}));

    const Run run = download(image, out, 512, QStringLiteral("../.."), QStringLiteral("/etc/x"));

    QCOMPARE(run.result, TrackDownloader::Result::Finished);
    const QStringList written = filesIn(out);
    QCOMPARE(written, QStringList({QStringLiteral(".._..__etc_x_.._..__.._.._x__.csv")}));
    QCOMPARE(fileBytes(QDir(out).filePath(written.first())).count('\n'), 2);
    QCOMPARE(QDir(root.filePath("a/b")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList({"out"}));
    QCOMPARE(QDir(root.filePath("a")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList({"b"}));
    QCOMPARE(root.entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList({"a"}));
}

void TestTrackDownloader::sameStampTracksGetDistinctNames()
{
    // Three tracks whose headers carry the same stamp (a module without a fix), one record each.
    FlashImage image;
    for (quint32 sector = 0; sector < 3; ++sector) {
        Fields f;
        f.altitude = QByteArray::number(sector).rightJustified(7, ' ');
        image.set(sector * 256, headerPage("000000", "000000.000", "001", '1'));
        image.set(sector * 256 + 1, dataPage({record(f)}));
    }
    const QString base = QStringLiteral("TRK1_0123456789AB_000000_000000.000");
    const QStringList names = {base + ".csv", base + "_2.csv", base + "_3.csv"};

    for (int run = 0; run < 2; ++run) {
        QCOMPARE(download(image, m_dir->path(), 3 * 0x10000).result, TrackDownloader::Result::Finished);
        // A new download replaces the files of the earlier one.
        QCOMPARE(filesIn(m_dir->path()), names);
        for (int track = 0; track < 3; ++track) {
            const QByteArray bytes = fileBytes(m_dir->filePath(names.at(track)));
            QCOMPARE(bytes.count('\n'), 2);
            QVERIFY(bytes.contains(QStringLiteral(";%1.0;").arg(track).toLatin1()));
        }
    }
}

// What a download tells the files made beside its CSV files.
class EventLog : public TrackObserver
{
public:
    void trackStarted(const QString &csvPath) override
    {
        events << "started " + QFileInfo(csvPath).fileName();
    }
    void recordWritten(const PositionRecord &) override { events << QStringLiteral("record"); }
    void trackEnded() override { events << QStringLiteral("ended"); }
    void trackDropped() override { events << QStringLiteral("dropped"); }
    QStringList events;
};

void TestTrackDownloader::trackWithoutWrittenRecordIsDropped()
{
#ifdef Q_OS_LINUX
    // Room for a track file's header, not for its first records: the file goes, and so does what
    // was started beside it; it is not ended as if it were complete.
    FlashImage image;
    twoTracks(image);
    EventLog log;
    TrackDownloader downloader(QStringLiteral("TRK1"), QStringLiteral("0123456789AB"), m_dir->path());
    downloader.setObserver(&log);
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^Failed to write "));
    {
        const testfiles::FileSizeLimit limit(rlim_t(TrackCsv::headerLine().size() + 10));
        QVERIFY(limit.set());
        downloader.run(image.reader(), twoTracksUsedSize, [](int) {});
    }
    QCOMPARE(log.events.mid(0, 2), (QStringList{"started " + trackA, "dropped"}));
    QVERIFY(!log.events.contains(QStringLiteral("record")));
    QVERIFY(!log.events.contains(QStringLiteral("ended")));
    QVERIFY(!filesIn(m_dir->path()).contains(trackA));
#else
    QSKIP("File size limits are a Linux feature here");
#endif
}

QTEST_GUILESS_MAIN(TestTrackDownloader)
#include "tst_trackdownloader.moc"
