// Records files read back: the files the station writes read exactly, what an editor may leave
// taken, other files told apart by their first line, and every row that does not read reported by
// its line while the others are kept.
#include "RecordsFileParser.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cmath>

Q_DECLARE_METATYPE(RecordsFileParser::Kind)

namespace
{
using Row = RecordsFileParser::Row;

const QByteArray header = RecordsFileParser::header();

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 utcSeconds(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC)
        .toSecsSinceEpoch();
}
}

class TestRecordsFileParser : public QObject
{
    Q_OBJECT

private slots:
    void stationFilesReadBack();
    void firstLine_data();
    void firstLine();
    void rows_data();
    void rows();
    void badRowsReportedByLine();
};

void TestRecordsFileParser::stationFilesReadBack()
{
    // Files the station wrote in the records tests, every kind of row among them.
    const QString folder = QStringLiteral(KORVANE_TEST_DATA_DIR "/records/expected");
    const QStringList names = QDir(folder).entryList({QStringLiteral("*.csv")}, QDir::Files);
    QCOMPARE(names.size(), 4);
    for (const QString &name : names) {
        const QByteArray bytes = fileBytes(folder + QLatin1Char('/') + name);
        const RecordsFileParser::Result result = RecordsFileParser::parse(bytes);
        QCOMPARE(result.kind, RecordsFileParser::Kind::Records);
        QVERIFY2(result.badLines.empty(), qPrintable(name));
        QCOMPARE(int(result.rows.size()), bytes.count('\n') - 1);
    }

    const RecordsFileParser::Result alpha =
        RecordsFileParser::parse(fileBytes(folder + QStringLiteral("/0a1b2c3d4e5f_ALPHA.csv")));
    QCOMPARE(int(alpha.rows.size()), 3);
    const Row &first = alpha.rows[0];
    QCOMPARE(first.seconds, utcSeconds(2026, 12, 6, 13, 5, 9));
    QCOMPARE(first.latitude, 35.6078);
    QCOMPARE(first.longitude, 139.9016);
    QCOMPARE(first.rssi, -157);
    QCOMPARE(first.snr, 0);
    QCOMPARE(alpha.rows[1].latitude, -45.0);
    // A report without a position.
    QVERIFY(std::isnan(alpha.rows[2].latitude) && std::isnan(alpha.rows[2].longitude));
    QCOMPARE(alpha.rows[2].snr, -3);
}

void TestRecordsFileParser::firstLine_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<RecordsFileParser::Kind>("kind");
    QTest::addColumn<int>("rows");

    const QByteArray row("06/12/2026 13:05:09;35.6078;139.9016;-157;0\r\n");
    const QByteArray bare = header.left(header.size() - 2);
    QTest::newRow("station's") << header + row << RecordsFileParser::Kind::Records << 1;
    QTest::newRow("header alone") << header << RecordsFileParser::Kind::Records << 0;
    QTest::newRow("header cut before its line end")
        << bare << RecordsFileParser::Kind::Records << 0;
    QTest::newRow("byte order mark and bare line ends")
        << "\xEF\xBB\xBF" + bare + "\n" + row.left(row.size() - 2) + "\n"
        << RecordsFileParser::Kind::Records << 1;
    QTest::newRow("no byte") << QByteArray() << RecordsFileParser::Kind::Empty << 0;
    // A module download, the header with more on its line, rows without a header.
    QTest::newRow("module track")
        << QByteArray("Temps;Latitude (degr\xC3\xA9s d\xC3\xA9\x63imaux);Longitude (degr\xC3\xA9s "
                      "d\xC3\xA9\x63imaux);Altitude (m);Vitesse;PDOP;HDOP;VDOP\r\n")
        << RecordsFileParser::Kind::NotRecords << 0;
    QTest::newRow("header and more")
        << bare + ";Note\r\n" + row << RecordsFileParser::Kind::NotRecords << 0;
    QTest::newRow("rows only") << row + row << RecordsFileParser::Kind::NotRecords << 0;
}

void TestRecordsFileParser::firstLine()
{
    QFETCH(QByteArray, bytes);
    QFETCH(RecordsFileParser::Kind, kind);
    QFETCH(int, rows);
    const RecordsFileParser::Result result = RecordsFileParser::parse(bytes);
    QCOMPARE(result.kind, kind);
    QCOMPARE(int(result.rows.size()), rows);
    QVERIFY(result.badLines.empty());
}

void TestRecordsFileParser::rows_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("reads");
    QTest::addColumn<qint64>("seconds");

    const qint64 day = utcSeconds(2024, 2, 29, 23, 59, 59);
    QTest::newRow("leap day") << QByteArray("29/02/2024 23:59:59;45.2058;6.2083;-60;5") << true
                              << day;
    QTest::newRow("no date") << QByteArray(";45.2058;6.2083;-60;5") << true
                             << RecordsFileParser::noTime;
    QTest::newRow("no position") << QByteArray("29/02/2024 23:59:59;nan;nan;0;0") << true << day;
    QTest::newRow("end of the century") << QByteArray("31/12/2099 23:59:59;0.0667;-0.0050;-60;12")
                                        << true << utcSeconds(2099, 12, 31, 23, 59, 59);

    const QList<QPair<const char *, const char *>> unreadable = {
        {"not a day of 2023", "29/02/2023 10:00:00;45.2058;6.2083;-60;5"},
        {"hour 24", "01/02/2024 24:00:00;45.2058;6.2083;-60;5"},
        {"two-digit year", "01/02/24 12:00:00;45.2058;6.2083;-60;5"},
        {"decimal comma", "01/02/2024 12:00:00;45,2058;6.2083;-60;5"},
        {"empty position", "01/02/2024 12:00:00;;6.2083;-60;5"},
        {"infinite position", "01/02/2024 12:00:00;45.2058;inf;-60;5"},
        {"fractional RSSI", "01/02/2024 12:00:00;45.2058;6.2083;-60.5;5"},
        {"missing SNR", "01/02/2024 12:00:00;45.2058;6.2083;-60"},
        {"one field more", "01/02/2024 12:00:00;45.2058;6.2083;-60;5;"},
        {"blank line", ""},
    };
    for (const auto &row : unreadable)
        QTest::newRow(row.first) << QByteArray(row.second) << false << qint64(0);
}

void TestRecordsFileParser::rows()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, reads);
    QFETCH(qint64, seconds);
    Row row{};
    QCOMPARE(RecordsFileParser::parseRow(text.constData(), text.size(), &row), reads);
    if (reads)
        QCOMPARE(row.seconds, seconds);
}

void TestRecordsFileParser::badRowsReportedByLine()
{
    // A file whose writing was cut off mid-row, and lines another program put in.
    const QByteArray bytes = header + "01/02/2024 12:00:00;45.2058;6.2083;-60;5\r\n"
                             + "\r\n"
                             + "01/02/2024 12:00:02;45.2059;6.2084;-61;4\r\n"
                             + "Total;;;;\r\n"
                             + "01/02/2024 12:00:04;45.2060;6.2085;-62;3\r\n"
                             + "01/02/2024 12:00:06;45.20";
    const RecordsFileParser::Result result = RecordsFileParser::parse(bytes);
    QCOMPARE(result.kind, RecordsFileParser::Kind::Records);
    QCOMPARE(result.badLines, (std::vector<int>{3, 5, 7}));
    QCOMPARE(int(result.rows.size()), 3);
    QCOMPARE(result.rows[2].seconds, utcSeconds(2024, 2, 1, 12, 0, 4));
    QCOMPARE(result.rows[2].rssi, -62);

    // The last row without its line end is a whole row.
    const RecordsFileParser::Result unended =
        RecordsFileParser::parse(header + "01/02/2024 12:00:00;45.2058;6.2083;-60;5");
    QCOMPARE(int(unended.rows.size()), 1);
    QVERIFY(unended.badLines.empty());
}

QTEST_GUILESS_MAIN(TestRecordsFileParser)
#include "tst_recordsfileparser.moc"
