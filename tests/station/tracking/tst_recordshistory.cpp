// Records files read back: the files the station writes read exactly, other files told apart by
// their first line, each row that does not read reported by its line while the others are kept;
// the files of one beacon (two names and a recovery file) merged in time order, what became of each
// file, the files of a beacon and of a day; a beacon's records exported as GPX (golden file, read
// back by gpsbabel).
#include "GpsbabelReader.h"
#include "RecordsGpx.h"
#include "RecordsHistory.h"
#include "TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(RecordsFileParser::Kind)

using testfiles::fileBytes;

namespace
{
const QByteArray header = RecordsFileParser::header();
const QString historyData = QStringLiteral(KORVANE_TEST_DATA_DIR "/history/");
// The three files of beacon 0a1b2c3d4e5f, which was called ALPHA, then BRAVO, then ALPHA again.
const QStringList alphaFiles = {historyData + "0a1b2c3d4e5f_ALPHA.csv",
                                historyData + "0a1b2c3d4e5f_ALPHA_recuperation.csv",
                                historyData + "0a1b2c3d4e5f_BRAVO.csv"};

bool writeFile(const QString &path, const QByteArray &bytes, const QDateTime &written = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return false;
    return !written.isValid() || file.setFileTime(written, QFileDevice::FileModificationTime);
}

qint64 utcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC)
        .toSecsSinceEpoch();
}
}

class TestRecordsHistory : public QObject
{
    Q_OBJECT

private slots:
    void stationFilesReadBack();
    void firstLine_data();
    void firstLine();
    void rows_data();
    void rows();
    void badRowsReportedByLine();
    void beaconFilesMerged();
    void eachFileReported();
    void filesOfBeaconAndDay();
    void gpxExport();
};

void TestRecordsHistory::stationFilesReadBack()
{
    // Files the station wrote in the records tests, every kind of row among them.
    const QString folder = QStringLiteral(KORVANE_TEST_DATA_DIR "/records/expected/");
    for (const QString &name : QDir(folder).entryList({"*.csv"}, QDir::Files)) {
        const QByteArray bytes = fileBytes(folder + name);
        const RecordsFileParser::Result result = RecordsFileParser::parse(bytes);
        QCOMPARE(result.kind, RecordsFileParser::Kind::Records);
        QVERIFY2(result.badLines.empty(), qPrintable(name));
        QCOMPARE(int(result.rows.size()), bytes.count('\n') - 1);
    }
    const auto rows = RecordsFileParser::parse(fileBytes(folder + "0a1b2c3d4e5f_ALPHA.csv")).rows;
    QCOMPARE(rows[0].seconds, utcSeconds(2026, 12, 6, 13, 5, 9));
    QCOMPARE(rows[0].latitude, 35.6078);
    QCOMPARE(rows[0].longitude, 139.9016);
    QCOMPARE(rows[0].rssi, -157);
    QCOMPARE(rows[1].latitude, -45.0);
    // A report without a position.
    QVERIFY(std::isnan(rows[2].latitude) && std::isnan(rows[2].longitude));
    QCOMPARE(rows[2].snr, -3);
}

void TestRecordsHistory::firstLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<RecordsFileParser::Kind>("kind");
    QTest::addColumn<int>("rows");
    const QByteArray row("06/12/2026 13:05:09;35.6078;139.9016;-157;0\r\n");
    const QByteArray bare = header.left(header.size() - 2);
    QTest::newRow("header alone") << header << RecordsFileParser::Kind::Records << 0;
    QTest::newRow("header cut short") << bare << RecordsFileParser::Kind::Records << 0;
    QTest::newRow("byte order mark and bare line ends")
        << "\xEF\xBB\xBF" + bare + "\n" + row.left(row.size() - 2) + "\n"
        << RecordsFileParser::Kind::Records << 1;
    QTest::newRow("no byte") << QByteArray() << RecordsFileParser::Kind::Empty << 0;
    QTest::newRow("module track")
        << QByteArray("Temps;Latitude (degr\xC3\xA9s d\xC3\xA9\x63imaux);Altitude (m)\r\n")
        << RecordsFileParser::Kind::NotRecords << 0;
    QTest::newRow("header and more") << bare + ";Note\r\n" + row
                                     << RecordsFileParser::Kind::NotRecords << 0;
    QTest::newRow("rows only") << row + row << RecordsFileParser::Kind::NotRecords << 0;
}

void TestRecordsHistory::firstLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(RecordsFileParser::Kind, kind);
    QFETCH(int, rows);
    const RecordsFileParser::Result result = RecordsFileParser::parse(bytes);
    QCOMPARE(result.kind, kind);
    QCOMPARE(int(result.rows.size()), rows);
}

void TestRecordsHistory::rows_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<qint64>("seconds"); // -1: the row does not read
    QTest::newRow("leap day") << QByteArray("29/02/2024 23:59:59;45.2058;6.2083;-60;5")
                              << utcSeconds(2024, 2, 29, 23, 59, 59);
    QTest::newRow("no date") << QByteArray(";45.2058;6.2083;-60;5") << RecordsFileParser::noTime;
    QTest::newRow("not a day of 2023") << QByteArray("29/02/2023 10:00:00;45.2;6.2;-60;5") << -1LL;
    QTest::newRow("hour 24") << QByteArray("01/02/2024 24:00:00;45.2;6.2;-60;5") << -1LL;
    QTest::newRow("two-digit year") << QByteArray("01/02/24 12:00:00;45.2;6.2;-60;5") << -1LL;
    QTest::newRow("decimal comma") << QByteArray("01/02/2024 12:00:00;45,2;6.2;-60;5") << -1LL;
    QTest::newRow("infinite") << QByteArray("01/02/2024 12:00:00;45.2;inf;-60;5") << -1LL;
    QTest::newRow("fractional RSSI") << QByteArray("01/02/2024 12:00:00;45.2;6.2;-60.5;5") << -1LL;
    QTest::newRow("field missing") << QByteArray("01/02/2024 12:00:00;45.2;6.2;-60") << -1LL;
    QTest::newRow("field more") << QByteArray("01/02/2024 12:00:00;45.2;6.2;-60;5;") << -1LL;
}

void TestRecordsHistory::rows()
{
    QFETCH(QByteArray, text);
    QFETCH(qint64, seconds);
    RecordsFileParser::Row row{};
    QCOMPARE(RecordsFileParser::parseRow(text.constData(), text.size(), &row), seconds != -1);
    if (seconds != -1)
        QCOMPARE(row.seconds, seconds);
}

void TestRecordsHistory::badRowsReportedByLine()
{
    // A blank line and a total another program put in, and writing cut off mid-row.
    const QByteArray bytes = header + "01/02/2024 12:00:00;45.2058;6.2083;-60;5\r\n\r\n"
                             + "01/02/2024 12:00:02;45.2059;6.2084;-61;4\r\nTotal;;;;\r\n"
                             + "01/02/2024 12:00:04;45.2060;6.2085;-62;3\r\n"
                             + "01/02/2024 12:00:06;45.2";
    const RecordsFileParser::Result result = RecordsFileParser::parse(bytes);
    QCOMPARE(result.badLines, (std::vector<int>{3, 5, 7}));
    QCOMPARE(int(result.rows.size()), 3);
    QCOMPARE(result.rows[2].rssi, -62);
    // The last row without its line end is a whole row.
    QCOMPARE(int(RecordsFileParser::parse(bytes.left(bytes.lastIndexOf('\n') - 1)).rows.size()), 3);
}

void TestRecordsHistory::beaconFilesMerged()
{
    // In any order of the files, and with a beacon of its own among them.
    const QString charlie = historyData + "ffeeddccbbaa_CHARLIE.csv";
    const qint64 ten = utcSeconds(2024, 2, 1, 10, 0, 0);
    for (const QStringList &paths :
         {alphaFiles, QStringList{alphaFiles[2], charlie, alphaFiles[0], alphaFiles[1]}}) {
        const RecordsHistory::Result result = RecordsHistory::read(paths);
        const RecordsHistory::Track &merged = result.tracks.front();
        QCOMPARE(merged.beacon, QStringLiteral("0a1b2c3d4e5f"));
        // Seconds after 10:00; the row without a date stays after the row before it in its file.
        QList<qint64> times;
        for (const RecordsFileParser::Row &row : merged.rows)
            times << (row.seconds == RecordsFileParser::noTime ? -1 : row.seconds - ten);
        QCOMPARE(times, (QList<qint64>{0, 2, 4, 6, 8, 10, 12, -1, 16}));
        QCOMPARE(int(result.tracks.size()), paths.contains(charlie) ? 2 : 1);
    }
    QCOMPARE(RecordsHistory::read({charlie, alphaFiles[0]}).tracks.front().beacon,
             QStringLiteral("ffeeddccbbaa"));
    // A file named otherwise is a track of its own name.
    QCOMPARE(RecordsHistory::beaconOf("/data/0A1B2C3D4E5F_.csv"), QStringLiteral("0A1B2C3D4E5F"));
    QCOMPARE(RecordsHistory::beaconOf("/data/0a1b2c3d4e5_X.csv"), QStringLiteral("0a1b2c3d4e5_X"));
    QCOMPARE(RecordsHistory::beaconOf("/data/course du 3 mai.csv"),
             QStringLiteral("course du 3 mai"));
}

void TestRecordsHistory::eachFileReported()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("sheet.csv"), "Nom;Heure\r\n"));
    QVERIFY(writeFile(dir.filePath("empty.csv"), QByteArray()));
    QVERIFY(writeFile(dir.filePath("header.csv"), header));
    QVERIFY(writeFile(dir.filePath("garbled.csv"), header + "a;b;c;d;e\r\nf\r\n"));
    const QStringList names = {"gone.csv", "sheet.csv", "empty.csv", "header.csv", "garbled.csv"};
    QStringList paths;
    for (const QString &name : names)
        paths << dir.filePath(name);
    // The others are read all the same.
    const RecordsHistory::Result result =
        RecordsHistory::read(paths + QStringList{historyData + "ffeeddccbbaa_CHARLIE.csv"});
    using Outcome = RecordsHistory::Outcome;
    const Outcome outcomes[] = {Outcome::Unreadable, Outcome::NotRecords, Outcome::Empty,
                                Outcome::NoRow, Outcome::NoReadableRow, Outcome::Read};
    QCOMPARE(result.files.size(), 6);
    for (int i = 0; i < 6; ++i)
        QVERIFY2(result.files[i].outcome == outcomes[i], qPrintable(result.files[i].path));
    QVERIFY(!result.files[0].reason.isEmpty());
    QCOMPARE(result.files[4].firstSkippedLine, 2);
    // Partly readable: its rows, and how many lines were skipped from which on.
    QCOMPARE(result.files[5].rows, 3);
    QCOMPARE(result.files[5].skipped, 2);
    QCOMPARE(result.files[5].firstSkippedLine, 4);
    QCOMPARE(int(result.tracks.size()), 1);
}

void TestRecordsHistory::filesOfBeaconAndDay()
{
    QTemporaryDir dir;
    const QByteArray records = fileBytes(alphaFiles[0]);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime yesterday = now.addDays(-1);
    QVERIFY(writeFile(dir.filePath("0a1b2c3d4e5f_ALPHA.csv"), records, now));
    QVERIFY(writeFile(dir.filePath("0A1B2C3D4E5F_BRAVO.csv"), records, yesterday));
    QVERIFY(writeFile(dir.filePath("0a1b2c3d4e5f_ALPHA_recuperation.csv"), records, now));
    QVERIFY(writeFile(dir.filePath("ffeeddccbbaa_CHARLIE.csv"), records, now));
    QVERIFY(writeFile(dir.filePath("0a1b2c3d4e5f_notes.txt"), records, now));
    QVERIFY(writeFile(dir.filePath("sheet.csv"), "a;b;c\r\n", now));

    // Every name the beacon had, its serial in either case.
    QCOMPARE(RecordsHistory::filesOf(dir.path(), "0a1b2c3d4e5f"),
             (QStringList{"0A1B2C3D4E5F_BRAVO.csv", "0a1b2c3d4e5f_ALPHA.csv",
                          "0a1b2c3d4e5f_ALPHA_recuperation.csv"}));
    // Records files of the day, not other files of the day.
    QCOMPARE(RecordsHistory::filesWrittenOn(dir.path(), now.date()),
             (QStringList{"0a1b2c3d4e5f_ALPHA.csv", "0a1b2c3d4e5f_ALPHA_recuperation.csv",
                          "ffeeddccbbaa_CHARLIE.csv"}));
    QCOMPARE(RecordsHistory::filesWrittenOn(dir.path(), yesterday.date()),
             QStringList{"0A1B2C3D4E5F_BRAVO.csv"});
}

void TestRecordsHistory::gpxExport()
{
    QTemporaryDir dir;
    const auto rows = RecordsHistory::read(alphaFiles).tracks.front().rows;
    const QString path = dir.filePath("0a1b2c3d4e5f_ALPHA.gpx");
    QString error;
    QVERIFY(RecordsGpx::write(path, "0a1b2c3d4e5f_ALPHA", rows, &error));
    QCOMPARE(fileBytes(path), fileBytes(historyData + "0a1b2c3d4e5f_ALPHA.gpx"));

    // Another reader finds every row with a position, with its time.
    if (!GpsbabelReader::available())
        QSKIP("gpsbabel is not installed (scripts/install-deps.sh installs it)");
    const QVector<GpsbabelReader::Point> points = GpsbabelReader::trackPoints(path, &error);
    QCOMPARE(error, QString());
    QCOMPARE(points.size(), 8);
    int point = 0;
    for (const RecordsFileParser::Row &row : rows) {
        if (std::isnan(row.latitude))
            continue;
        const GpsbabelReader::Point &read = points.at(point++);
        QCOMPARE(read.latitude, row.latitude);
        QCOMPARE(read.longitude, row.longitude);
        QCOMPARE(read.time.isValid() ? read.time.toSecsSinceEpoch() : RecordsFileParser::noTime,
                 row.seconds);
    }
}

QTEST_GUILESS_MAIN(TestRecordsHistory)
#include "tst_recordshistory.moc"
