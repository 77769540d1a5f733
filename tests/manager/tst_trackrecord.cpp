// Module flash content as the download reads it: sector headers, position records (V1 and V5
// coordinate styles, time, numeric fields), CSV lines and track file names.
#include "ModuleRecordText.h"
#include "PositionRecord.h"
#include "SectorHeader.h"
#include "TrackCsv.h"

#include <QRandomGenerator>
#include <QTextCodec>
#include <QLoggingCategory>
#include <QtTest>

#include <cmath>
#include <limits>

using moduletext::Fields;
using moduletext::record;

namespace
{
const double notANumber = std::numeric_limits<double>::quiet_NaN();

// Same value, NaN included, and the same sign for zeros.
bool sameDouble(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b);
    return a == b && std::signbit(a) == std::signbit(b);
}

// Swallows the decoder's per-record debug lines while thousands of records go through it.
class QuietLog
{
public:
    QuietLog() : m_previous(qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {})) {}
    ~QuietLog() { qInstallMessageHandler(m_previous); }

private:
    QtMessageHandler m_previous;
};

// The date and time rules written with Qt's own parsers, to check the decoder's quicker paths against.
QDateTime referenceTime(const QByteArray &date, const QByteArray &time)
{
    const QString dateText = QString::fromLatin1(date).trimmed();
    // Qt reads the year as 19yy: only 29 February 2000 is lost that way and read as 20yy instead.
    const QDate d = dateText == QLatin1String("290200")
                        ? QDate(2000, 2, 29)
                        : QDate::fromString(dateText, QStringLiteral("ddMMyy")).addYears(100);
    const QTime t = QTime::fromString(QString::fromLatin1(time).trimmed(), QStringLiteral("hhmmss.z"));
    return d.isValid() && t.isValid() ? QDateTime(d, t, Qt::UTC) : QDateTime();
}

QByteArray randomText(QRandomGenerator &random, int width, const char *alphabet)
{
    const int size = int(strlen(alphabet));
    QByteArray text(width, ' ');
    for (char &c : text)
        c = alphabet[random.bounded(size)];
    return text;
}

QByteArray twoDigits(int value)
{
    return QByteArray::number(value).rightJustified(2, '0', true);
}
}

class TestTrackRecord : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void sectorHeader();

    void decode_data();
    void decode();
    void decodeLogsStylesAndTime();
    void datesAndTimesMatchQtParsers();

    void csvLine();
    void csvNumberForms_data();
    void csvNumberForms();
    void headerLineInUtf8();

    void fileName();
    void fileNameKeepsHostileTextsInOneEntry();
};

void TestTrackRecord::initTestCase()
{
    // The debug lines checked here; their category is off by default.
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.download.debug=true"));
    // The track files have the same bytes whatever the system's encoding: a non-UTF-8 one here.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("Windows-1252"));
}

void TestTrackRecord::sectorHeader()
{
    const SectorHeader start = SectorHeader::parse(moduletext::headerPage("061220", "093015.000", "001", '1').constData());
    QVERIFY(start.hasData);
    QVERIFY(start.trackStart);
    QCOMPARE(start.date, QByteArray("061220"));
    QCOMPARE(start.time, QByteArray("093015.000"));
    QCOMPARE(start.frequency, QByteArray("001"));

    const SectorHeader continued = SectorHeader::parse(moduletext::headerPage("061220", "093015.000", "001", '0').constData());
    QVERIFY(continued.hasData);
    QVERIFY(!continued.trackStart);

    const QByteArray erased(256, char(0xFF));
    QVERIFY(!SectorHeader::parse(erased.constData()).hasData);

    // Texts are taken as stored: blanks kept, cut at the first zero byte.
    const SectorHeader h = SectorHeader::parse(moduletext::headerPage("0612", " 93015.0", "5", '1').constData());
    QCOMPARE(h.date, QByteArray("0612"));
    QCOMPARE(h.time, QByteArray(" 93015.0"));
    QCOMPARE(h.frequency, QByteArray("5"));
}

void TestTrackRecord::decode_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<double>("latitude");   // decimal degrees
    QTest::addColumn<double>("longitude");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<double>("altitude");
    QTest::addColumn<double>("speed");

    const double lat = 48 + 7.038 / 60;
    const double lon = 11 + 31.0 / 60;
    Fields f;
    f.latitude = "4807.0380";
    f.longitude = "01131.0000";
    f.lonHemisphere = 'W';
    f.speed = " 12.5";
    f.altitude = "  545.4";
    QTest::newRow("V1 north west") << record(f) << lat << -lon
                                   << QDateTime(QDate(2020, 12, 6), QTime(9, 30, 15), Qt::UTC) << 545.4 << 12.5;

    Fields v5 = f;
    v5.latitude = "480703800";
    v5.longitude = "0113100000";
    QTest::newRow("V5 same position") << record(v5) << lat << -lon
                                      << QDateTime(QDate(2020, 12, 6), QTime(9, 30, 15), Qt::UTC) << 545.4 << 12.5;

    Fields blank = f;
    blank.altitude = "       ";
    blank.speed = "  -  ";
    QTest::newRow("blank altitude") << record(blank) << lat << -lon
                                    << QDateTime(QDate(2020, 12, 6), QTime(9, 30, 15), Qt::UTC) << notANumber << notANumber;

    Fields lastDay = f;
    lastDay.date = "311299";
    lastDay.time = "235959.999";
    QTest::newRow("date 311299 is 2099") << record(lastDay) << lat << -lon
                                         << QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59, 999), Qt::UTC)
                                         << 545.4 << 12.5;

    Fields fraction = f;
    fraction.time = " 123456.5 ";
    QTest::newRow("one fraction digit is tenths") << record(fraction) << lat << -lon
                                                  << QDateTime(QDate(2020, 12, 6), QTime(12, 34, 56, 500), Qt::UTC)
                                                  << 545.4 << 12.5;

    // 2000 was a leap year, although 1900, where a plain two-digit year reading lands, was not.
    Fields leapDay = f;
    leapDay.date = "290200";
    QTest::newRow("29 February 2000") << record(leapDay) << lat << -lon
                                      << QDateTime(QDate(2000, 2, 29), QTime(9, 30, 15), Qt::UTC)
                                      << 545.4 << 12.5;

    Fields noTime = f;
    noTime.time = "          ";
    QTest::newRow("blank time") << record(noTime) << lat << -lon << QDateTime() << 545.4 << 12.5;

    Fields badCoordinates = f;
    badCoordinates.latitude = "48070380x";  // V5 style, fraction not a number
    badCoordinates.longitude = "011.31.000";
    QTest::newRow("coordinates not numbers") << record(badCoordinates) << notANumber << notANumber
                                             << QDateTime(QDate(2020, 12, 6), QTime(9, 30, 15), Qt::UTC) << 545.4 << 12.5;
}

void TestTrackRecord::decode()
{
    QFETCH(QByteArray, bytes);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QFETCH(QDateTime, time);
    QFETCH(double, altitude);
    QFETCH(double, speed);
    QCOMPARE(bytes.size(), PositionRecord::size);

    const PositionRecord r = PositionRecord::decode(bytes.constData());
    const double lat = r.coords.latitudeDegrees();
    const double lon = r.coords.longitudeDegrees();
    QVERIFY2(std::isnan(latitude) ? std::isnan(lat) : qAbs(lat - latitude) < 1e-9, qPrintable(QString::number(lat)));
    QVERIFY2(std::isnan(longitude) ? std::isnan(lon) : qAbs(lon - longitude) < 1e-9, qPrintable(QString::number(lon)));
    QCOMPARE(r.time, time);
    if (time.isValid())
        QCOMPARE(r.time.timeSpec(), Qt::UTC);
    QVERIFY(sameDouble(r.altitude, altitude));
    QVERIFY(sameDouble(r.speed, speed));
}

void TestTrackRecord::decodeLogsStylesAndTime()
{
    Fields f;
    f.latitude = "480703800";
    f.longitude = "01131.0000";
    f.time = "093015.5  ";
    QTest::ignoreMessage(QtDebugMsg, "LAT is V5 style\n");
    QTest::ignoreMessage(QtDebugMsg, "LON is V1 style\n");
    QTest::ignoreMessage(QtDebugMsg, "093015.500\n");
    const PositionRecord r = PositionRecord::decode(record(f).constData());
    QCOMPARE(r.pdop, 1.0);

    f.latitude = "4807.0380";
    f.longitude = "0113100000";
    QTest::ignoreMessage(QtDebugMsg, "LAT is V1 style\n");
    QTest::ignoreMessage(QtDebugMsg, "LON is V5 style\n");
    QTest::ignoreMessage(QtDebugMsg, "093015.500\n");
    PositionRecord::decode(record(f).constData());
}

void TestTrackRecord::datesAndTimesMatchQtParsers()
{
    // Every date and time form, well made or not, must decode exactly as Qt's parsers read it.
    QRandomGenerator random(20201206);
    QList<QByteArray> dates;
    for (int day = 0; day <= 32; ++day) {
        for (int month = 0; month <= 13; ++month) {
            for (int year : {0, 1, 4, 99})
                dates << twoDigits(day) + twoDigits(month) + twoDigits(year);
        }
    }
    QList<QByteArray> times;
    const QList<QByteArray> fractions = {"", ".", ".5", ".50", ".050", ".999", ".1234", ".+1", ". 5"};
    for (int hour : {0, 9, 23, 24})
        for (int minute : {0, 59, 60})
            for (int second : {0, 59, 60})
                for (const QByteArray &fraction : fractions) {
                    const QByteArray text = twoDigits(hour) + twoDigits(minute) + twoDigits(second) + fraction;
                    times << text.leftJustified(10, ' ', true) << text.rightJustified(10, ' ', true);
                }
    for (int i = 0; i < 400; ++i) {
        dates << randomText(random, 6, "0123456789  +-.");
        times << randomText(random, 10, "0123456789 .+-");
    }

    QuietLog quiet;
    for (int i = 0; i < qMax(dates.size(), times.size()); ++i) {
        Fields f;
        f.date = dates.at(i % dates.size());
        f.time = times.at(i % times.size());
        const QByteArray bytes = record(f);
        QCOMPARE(bytes.size(), PositionRecord::size);
        const PositionRecord r = PositionRecord::decode(bytes.constData());
        QVERIFY2(r.time == referenceTime(f.date, f.time), bytes.toPercentEncoding(" .+-"));
    }
}

void TestTrackRecord::csvLine()
{
    Fields f;
    f.lonHemisphere = 'W';
    f.speed = " 12.5";
    f.altitude = "       ";
    f.pdop = "  1.8";
    f.hdop = " 1.25";  // a tie at one decimal, rounded away from zero
    f.vdop = "  abc";
    const PositionRecord r = PositionRecord::decode(record(f).constData());
    QCOMPARE(TrackCsv::line(r), QByteArray("06/12/2020 09:30:15.000;48.117300;-11.516667;nan;12.50;1.8;1.3;nan\r\n"));
}

void TestTrackRecord::csvNumberForms_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("altitude");  // one decimal
    QTest::addColumn<QByteArray>("speed");     // two decimals

    const double infinity = std::numeric_limits<double>::infinity();
    QTest::newRow("not a number") << notANumber << QByteArray("nan") << QByteArray("nan");
    QTest::newRow("negative not a number") << -notANumber << QByteArray("nan") << QByteArray("nan");
    QTest::newRow("negative zero") << -0.0 << QByteArray("0.0") << QByteArray("0.00");
    QTest::newRow("negative, rounded to zero") << -0.004 << QByteArray("-0.0") << QByteArray("-0.00");
    // 0.125 and -2.25 are exact in binary: their ties round away from zero.
    QTest::newRow("tie") << 0.125 << QByteArray("0.1") << QByteArray("0.13");
    QTest::newRow("negative tie") << -2.25 << QByteArray("-2.3") << QByteArray("-2.25");
    QTest::newRow("no digit grouping") << 1234567.891 << QByteArray("1234567.9") << QByteArray("1234567.89");
    QTest::newRow("infinity") << infinity << QByteArray("inf") << QByteArray("inf");
    QTest::newRow("negative infinity") << -infinity << QByteArray("-inf") << QByteArray("-inf");
}

void TestTrackRecord::csvNumberForms()
{
    QFETCH(double, value);
    QFETCH(QByteArray, altitude);
    QFETCH(QByteArray, speed);
    PositionRecord r;
    r.coords = GpsCoords(4807.038, 'N', 1131.0, 'E');
    r.altitude = value;
    r.speed = value;
    // ASCII digits and '.' whatever the system's locale (this test also runs under an Arabic one).
    QCOMPARE(TrackCsv::line(r), ";48.117300;11.516667;" + altitude + ';' + speed + ";0.0;0.0;0.0\r\n");
}

void TestTrackRecord::headerLineInUtf8()
{
    QCOMPARE(TrackCsv::headerLine(),
             QByteArray("Temps;Latitude (degr\xc3\xa9s d\xc3\xa9" "cimaux);Longitude (degr\xc3\xa9s "
                        "d\xc3\xa9" "cimaux);Altitude (m);Vitesse;PDOP;HDOP;VDOP\r\n"));
}

void TestTrackRecord::fileName()
{
    QCOMPARE(TrackCsv::fileName("TRK1", "0123456789AB", "061220", "093015.000"),
             QStringLiteral("TRK1_0123456789AB_061220_093015.000.csv"));
    // Ordinary texts are kept as they are, blanks and dots included.
    QCOMPARE(TrackCsv::fileName("A b.c-d", "0123", "0612", " 93015.0"),
             QStringLiteral("A b.c-d_0123_0612_ 93015.0.csv"));
}

void TestTrackRecord::fileNameKeepsHostileTextsInOneEntry()
{
    const QString name = TrackCsv::fileName("../..", "..\\..\\x", QByteArray("/etc\x01\x7f", 6),
                                            QByteArray("a:b\n\t*?|\x85", 10));
    QCOMPARE(name, QStringLiteral(".._.._.._.._x__etc___a_b______.csv"));
    QCOMPARE(QFileInfo(QDir("/tmp/out").filePath(name)).absolutePath(), QStringLiteral("/tmp/out"));
}

QTEST_GUILESS_MAIN(TestTrackRecord)
#include "tst_trackrecord.moc"
