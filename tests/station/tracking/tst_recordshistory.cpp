// Records files read back as tracks: the files of one beacon (two names and a recovery file)
// merged in time order, what became of each file, which file belongs to which beacon, the files
// written on a given day, and a beacon's records exported as GPX (golden file, read back by
// gpsbabel).
#include "GpsbabelReader.h"
#include "RecordsGpx.h"
#include "RecordsHistory.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(RecordsHistory::Outcome)

namespace
{
const QString historyData = QStringLiteral(KORVANE_TEST_DATA_DIR "/history/");
// The three files of beacon 0a1b2c3d4e5f, which was called ALPHA, then BRAVO, then ALPHA again.
const QStringList alphaFiles = {historyData + "0a1b2c3d4e5f_ALPHA.csv",
                                historyData + "0a1b2c3d4e5f_ALPHA_recuperation.csv",
                                historyData + "0a1b2c3d4e5f_BRAVO.csv"};
// Seconds after 10:00:00 of the rows of those files in report order; -1 for the row without a
// date, which stays after the row before it in its file.
const QList<int> alphaTimes = {0, 2, 4, 6, 8, 10, 12, -1, 16};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QList<int> secondsAfterTen(const std::vector<RecordsFileParser::Row> &rows)
{
    const qint64 ten = QDateTime(QDate(2024, 2, 1), QTime(10, 0), Qt::UTC).toSecsSinceEpoch();
    QList<int> times;
    for (const RecordsFileParser::Row &row : rows)
        times << (row.seconds == RecordsFileParser::noTime ? -1 : int(row.seconds - ten));
    return times;
}
}

class TestRecordsHistory : public QObject
{
    Q_OBJECT

private slots:
    void beaconFilesMerged();
    void eachFileReported_data();
    void eachFileReported();
    void beaconOfFile_data();
    void beaconOfFile();
    void filesOfBeaconAndDay();
    void gpxExport();
};

void TestRecordsHistory::beaconFilesMerged()
{
    // In any order of the files, and with a beacon of its own between them.
    const QString charlie = historyData + "ffeeddccbbaa_CHARLIE.csv";
    for (const QStringList &paths :
         {alphaFiles, QStringList{alphaFiles[2], charlie, alphaFiles[0], alphaFiles[1]}}) {
        const RecordsHistory::Result result = RecordsHistory::read(paths);
        QCOMPARE(result.files.size(), paths.size());
        QCOMPARE(int(result.tracks.size()), paths.contains(charlie) ? 2 : 1);
        const RecordsHistory::Track &alpha = result.tracks.front().beacon == "0a1b2c3d4e5f"
                                                 ? result.tracks.front()
                                                 : result.tracks.back();
        QCOMPARE(alpha.beacon, QStringLiteral("0a1b2c3d4e5f"));
        QCOMPARE(secondsAfterTen(alpha.rows), alphaTimes);
        QVERIFY(std::isnan(alpha.rows[6].latitude));
        QCOMPARE(alpha.rows[7].latitude, 45.2072);
    }
    // A beacon comes first where its first file comes.
    const RecordsHistory::Result result = RecordsHistory::read({charlie, alphaFiles[0]});
    QCOMPARE(result.tracks.front().beacon, QStringLiteral("ffeeddccbbaa"));
    QCOMPARE(int(result.tracks.front().rows.size()), 3);
}

void TestRecordsHistory::eachFileReported_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<RecordsHistory::Outcome>("outcome");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("firstSkippedLine");

    const QByteArray header = RecordsFileParser::header();
    QTest::newRow("partly readable") << "ffeeddccbbaa_CHARLIE.csv"
                                     << fileBytes(historyData + "ffeeddccbbaa_CHARLIE.csv")
                                     << RecordsHistory::Outcome::Read << 3 << 2 << 4;
    QTest::newRow("module track") << "TRK1_0123456789AB_061220_093015.000.csv"
                                  << QByteArray("Temps;Latitude;Longitude;Altitude (m)\r\n")
                                  << RecordsHistory::Outcome::NotRecords << 0 << 0 << 0;
    QTest::newRow("empty") << "0a1b2c3d4e5f_X.csv" << QByteArray()
                           << RecordsHistory::Outcome::Empty << 0 << 0 << 0;
    QTest::newRow("header only") << "0a1b2c3d4e5f_X.csv" << header
                                 << RecordsHistory::Outcome::NoRow << 0 << 0 << 0;
    QTest::newRow("no readable row") << "0a1b2c3d4e5f_X.csv" << header + "a;b;c;d;e\r\nf\r\n"
                                     << RecordsHistory::Outcome::NoReadableRow << 0 << 2 << 2;
}

void TestRecordsHistory::eachFileReported()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(RecordsHistory::Outcome, outcome);
    QFETCH(int, rows);
    QFETCH(int, skipped);
    QFETCH(int, firstSkippedLine);
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(name), bytes));
    // And a file that is not there: the others are read all the same.
    const RecordsHistory::Result result =
        RecordsHistory::read({dir.filePath("gone.csv"), dir.filePath(name)});
    QCOMPARE(result.files.size(), 2);
    QCOMPARE(result.files[0].outcome, RecordsHistory::Outcome::Unreadable);
    QVERIFY(!result.files[0].reason.isEmpty());
    const RecordsHistory::FileReport &report = result.files[1];
    QCOMPARE(report.path, dir.filePath(name));
    QCOMPARE(report.outcome, outcome);
    QCOMPARE(report.rows, rows);
    QCOMPARE(report.skipped, skipped);
    QCOMPARE(report.firstSkippedLine, firstSkippedLine);
    QCOMPARE(int(result.tracks.size()), rows > 0 ? 1 : 0);
}

void TestRecordsHistory::beaconOfFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("beacon");
    QTest::newRow("records") << "/data/0a1b2c3d4e5f_ALPHA.csv" << "0a1b2c3d4e5f";
    QTest::newRow("unnamed beacon") << "/data/0A1B2C3D4E5F_.csv" << "0A1B2C3D4E5F";
    QTest::newRow("recovery") << "0a1b2c3d4e5f_ALPHA_recuperation.csv" << "0a1b2c3d4e5f";
    QTest::newRow("eleven digits") << "/data/0a1b2c3d4e5_ALPHA.csv" << "0a1b2c3d4e5_ALPHA";
    QTest::newRow("no underscore") << "/data/0a1b2c3d4e5f.csv" << "0a1b2c3d4e5f";
    QTest::newRow("renamed by the user") << "/data/course du 3 mai.csv" << "course du 3 mai";
}

void TestRecordsHistory::beaconOfFile()
{
    QFETCH(QString, path);
    QFETCH(QString, beacon);
    QCOMPARE(RecordsHistory::beaconOf(path), beacon);
}

void TestRecordsHistory::filesOfBeaconAndDay()
{
    QTemporaryDir dir;
    const QByteArray records = fileBytes(alphaFiles[0]);
    const QDateTime now = QDateTime::currentDateTime();
    const QDateTime yesterday = now.addDays(-1);
    const struct
    {
        const char *name;
        QByteArray bytes;
        QDateTime written;
    } files[] = {
        {"0a1b2c3d4e5f_ALPHA.csv", records, now},
        {"0A1B2C3D4E5F_BRAVO.csv", records, yesterday},
        {"0a1b2c3d4e5f_ALPHA_recuperation.csv", records, now},
        {"ffeeddccbbaa_CHARLIE.csv", records, now},
        {"0a1b2c3d4e5f_notes.txt", records, now},
        {"sheet.csv", "a;b;c\r\n", now},
    };
    for (const auto &file : files) {
        QFile f(dir.filePath(file.name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file.bytes);
        // Written out first: closing would write it later, and make it today's.
        QVERIFY(f.flush());
        QVERIFY(f.setFileTime(file.written, QFileDevice::FileModificationTime));
    }
    QVERIFY(QDir(dir.path()).mkdir("0a1b2c3d4e5f_folder.csv"));

    // Every name the beacon had, its serial in either case.
    QCOMPARE(RecordsHistory::filesOf(dir.path(), "0a1b2c3d4e5f"),
             (QStringList{"0A1B2C3D4E5F_BRAVO.csv", "0a1b2c3d4e5f_ALPHA.csv",
                          "0a1b2c3d4e5f_ALPHA_recuperation.csv"}));
    // Today's records files, not other files of today.
    QCOMPARE(RecordsHistory::filesWrittenOn(dir.path(), now.date()),
             (QStringList{"0a1b2c3d4e5f_ALPHA.csv", "0a1b2c3d4e5f_ALPHA_recuperation.csv",
                          "ffeeddccbbaa_CHARLIE.csv"}));
    QCOMPARE(RecordsHistory::filesWrittenOn(dir.path(), yesterday.date()),
             QStringList{"0A1B2C3D4E5F_BRAVO.csv"});
    QCOMPARE(RecordsHistory::filesWrittenOn(dir.filePath("missing"), now.date()), QStringList());
}

void TestRecordsHistory::gpxExport()
{
    QTemporaryDir dir;
    const RecordsHistory::Result history = RecordsHistory::read(alphaFiles);
    const auto &rows = history.tracks.front().rows;
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
        QCOMPARE(read.time.isValid(), row.seconds != RecordsFileParser::noTime);
        if (read.time.isValid())
            QCOMPARE(read.time.toSecsSinceEpoch(), row.seconds);
    }
}

QTEST_GUILESS_MAIN(TestRecordsHistory)
#include "tst_recordshistory.moc"
