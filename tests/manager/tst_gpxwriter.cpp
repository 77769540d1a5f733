// GPX output of downloaded tracks: a golden file for a track with every kind of record, read back
// by gpsbabel, escaping of names, one file per track, and files that cannot be written.
#include "GpsbabelReader.h"
#include "GpxWriter.h"
#include "PositionRecord.h"
#include "TestFiles.h"

#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <cmath>
#include <limits>

namespace
{
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

PositionRecord record(const QDateTime &time, double latitude, char latH, double longitude, char lonH,
                      double altitude, double hdop = 1.0, double vdop = 1.5, double pdop = 1.8)
{
    PositionRecord r;
    r.time = time;
    r.coords = GpsCoords(latitude, latH, longitude, lonH);
    r.altitude = altitude;
    r.speed = 0;
    r.hdop = hdop;
    r.vdop = vdop;
    r.pdop = pdop;
    return r;
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s, int ms)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms), Qt::UTC);
}

using testfiles::fileBytes;

// Parses the whole document; the first error, or an empty text.
QString xmlError(const QByteArray &document)
{
    QXmlStreamReader reader(document);
    while (!reader.atEnd())
        reader.readNext();
    return reader.hasError() ? reader.errorString() : QString();
}
}

class TestGpxWriter : public QObject
{
    Q_OBJECT

private slots:
    void golden();
    void escapedNames();
    void oneFilePerTrack();
    void unwritableFile();
};

void TestGpxWriter::golden()
{
    QTemporaryDir dir;
    const QString csv = dir.filePath(QStringLiteral("TRK1_0123456789AB_061220_093015.000.csv"));
    {
        GpxWriter writer(QStringLiteral("quorvel-cli"));
        writer.trackStarted(csv);
        writer.recordWritten(record(utc(2020, 12, 6, 9, 30, 16, 0), 4807.038, 'N', 1131.0, 'W', 545.4));
        // No elevation, no time, a missing DOP.
        writer.recordWritten(record(QDateTime(), 4807.04, 'N', 1131.02, 'W', notANumber, 1.0, notANumber, 1.8));
        // Southern and eastern hemispheres, negative elevation, milliseconds.
        writer.recordWritten(record(utc(2099, 12, 31, 23, 59, 59, 999), 4807.038, 'S', 1131.0, 'e', -5.5));
        // No position: no point at all.
        writer.recordWritten(record(utc(2020, 12, 6, 9, 30, 19, 0), notANumber, 'N', 1131.0, 'W', 1.0));
        writer.recordWritten(record(utc(2020, 12, 6, 9, 30, 20, 0), 4807.0, 'N', notANumber, 'W', 1.0));
        // Beyond the poles or the antimeridian: no point either.
        writer.recordWritten(record(utc(2020, 12, 6, 9, 30, 21, 0), 9130.0, 'N', 1131.0, 'W', 1.0));
        writer.recordWritten(record(utc(2020, 12, 6, 9, 30, 22, 0), 4807.0, 'N', 18000.0, 'E', 1.0));
        // The edges themselves are positions.
        writer.recordWritten(record(utc(2020, 12, 6, 9, 30, 23, 500), 9000.0, 'S', 18000.0, 'W',
                                    std::numeric_limits<double>::infinity(), 0.8, 0.6, 12.3));
        writer.trackEnded();
        QCOMPARE(writer.writtenFiles(), QStringList{dir.filePath("TRK1_0123456789AB_061220_093015.000.gpx")});
        QVERIFY(writer.failedFiles().isEmpty());
    }
    const QByteArray written = fileBytes(dir.filePath("TRK1_0123456789AB_061220_093015.000.gpx"));
    QCOMPARE(written, fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/TRK1_0123456789AB_061220_093015.000.gpx")));
    QCOMPARE(xmlError(written), QString());

    // Another reader finds the four points whose position lies within GPX's bounds, edges included.
    if (!GpsbabelReader::available())
        QSKIP("gpsbabel is not installed (scripts/install-deps.sh installs it)");
    QString error;
    const QVector<GpsbabelReader::Point> points = GpsbabelReader::trackPoints(
        dir.filePath("TRK1_0123456789AB_061220_093015.000.gpx"), &error);
    QCOMPARE(error, QString());
    QCOMPARE(points.size(), 4);
    const struct
    {
        double latitude, longitude, elevation;
        QDateTime time;
    } expected[] = {{48.1173, -11.516667, 545.4, utc(2020, 12, 6, 9, 30, 16, 0)},
                    {48.117333, -11.517, notANumber, QDateTime()},
                    {-48.1173, 11.516667, -5.5, utc(2099, 12, 31, 23, 59, 59, 999)},
                    {-90, -180, notANumber, utc(2020, 12, 6, 9, 30, 23, 500)}};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(qAbs(points.at(i).latitude - expected[i].latitude) < 1e-6);
        QVERIFY(qAbs(points.at(i).longitude - expected[i].longitude) < 1e-6);
        QCOMPARE(std::isnan(points.at(i).elevation), std::isnan(expected[i].elevation));
        if (!std::isnan(expected[i].elevation))
            QCOMPARE(points.at(i).elevation, expected[i].elevation);
        QCOMPARE(points.at(i).time, expected[i].time);
    }
}

void TestGpxWriter::escapedNames()
{
    QTemporaryDir dir;
    // Module names come from the module as they are: markup and characters XML cannot carry.
    const QString oddBase = QStringLiteral("X") + QChar(0xFFFF) + QChar(0xD800) + QStringLiteral("_1");
    const QString base = QStringLiteral("A&B<C>\"D'_0123456789AB_061220_093015.000");
    const QString csv = dir.filePath(base + QStringLiteral(".csv"));
    {
        GpxWriter writer(QStringLiteral("quorvel-cli \"&<test>\""));
        writer.trackStarted(csv);
        writer.recordWritten(record(utc(2020, 1, 1, 0, 0, 0, 0), 0, 'N', 0, 'E', 0));
        writer.trackEnded();
        // A name that XML cannot carry as it is.
        writer.trackStarted(dir.filePath(oddBase + QStringLiteral(".csv")));
        writer.trackEnded();
    }

    QXmlStreamReader reader(fileBytes(dir.filePath(base + QStringLiteral(".gpx"))));
    QString creator, name;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == QLatin1String("gpx"))
            creator = reader.attributes().value(QLatin1String("creator")).toString();
        else if (reader.name() == QLatin1String("name"))
            name = reader.readElementText();
    }
    QVERIFY2(!reader.hasError(), qPrintable(reader.errorString()));
    QCOMPARE(creator, QStringLiteral("quorvel-cli \"&<test>\""));
    QCOMPARE(name, base);

    const QByteArray odd = fileBytes(dir.filePath(oddBase + QStringLiteral(".gpx")));
    QCOMPARE(xmlError(odd), QString());
    QVERIFY(odd.contains(QStringLiteral("<name>X\uFFFD\uFFFD_1</name>").toUtf8()));
}

void TestGpxWriter::oneFilePerTrack()
{
    QTemporaryDir dir;
    GpxWriter writer(QStringLiteral("quorvel-cli"));
    writer.trackStarted(dir.filePath("M_1_010120_000000.000.csv"));
    writer.recordWritten(record(utc(2020, 1, 1, 0, 0, 0, 0), 100, 'N', 200, 'E', 1));
    // The next track starts without the previous one being ended: the first file is completed.
    writer.trackStarted(dir.filePath("M_1_010120_010000.000.csv"));
    writer.recordWritten(record(utc(2020, 1, 1, 1, 0, 0, 0), 300, 'N', 400, 'E', 2));
    writer.recordWritten(record(utc(2020, 1, 1, 1, 0, 1, 0), 300, 'N', 400, 'E', 3));
    writer.trackEnded();
    // Records after the end of a track belong to no file.
    writer.recordWritten(record(utc(2020, 1, 1, 2, 0, 0, 0), 500, 'N', 600, 'E', 4));
    // An empty track is still a valid file.
    writer.trackStarted(dir.filePath("M_1_010120_030000.000.csv"));
    writer.trackEnded();
    // A track whose CSV file went with its first write leaves no GPX file either.
    writer.trackStarted(dir.filePath("M_1_010120_040000.000.csv"));
    writer.recordWritten(record(utc(2020, 1, 1, 4, 0, 0, 0), 700, 'N', 800, 'E', 5));
    writer.trackDropped();
    QVERIFY(!QFile::exists(dir.filePath("M_1_010120_040000.000.gpx")));
    QCOMPARE(writer.failedFiles(), QStringList());

    QCOMPARE(writer.writtenFiles(), (QStringList{dir.filePath("M_1_010120_000000.000.gpx"),
                                                 dir.filePath("M_1_010120_010000.000.gpx"),
                                                 dir.filePath("M_1_010120_030000.000.gpx")}));
    const QByteArray first = fileBytes(writer.writtenFiles().at(0));
    const QByteArray second = fileBytes(writer.writtenFiles().at(1));
    const QByteArray empty = fileBytes(writer.writtenFiles().at(2));
    for (const QByteArray &document : {first, second, empty})
        QCOMPARE(xmlError(document), QString());
    QCOMPARE(first.count("<trkpt "), 1);
    QCOMPARE(second.count("<trkpt "), 2);
    QCOMPARE(empty.count("<trkpt "), 0);
    QVERIFY(empty.contains("<trkseg/>") || empty.contains("<trkseg></trkseg>"));
    QVERIFY(!second.contains("<ele>4.0</ele>"));
}

void TestGpxWriter::unwritableFile()
{
    QTemporaryDir dir;
    GpxWriter writer(QStringLiteral("quorvel-cli"));
    const QString missing = dir.filePath("gone/M_1_010120_000000.000.csv");
    writer.trackStarted(missing);
    writer.recordWritten(record(utc(2020, 1, 1, 0, 0, 0, 0), 100, 'N', 200, 'E', 1));
    writer.trackEnded();
    // The next track is written again.
    writer.trackStarted(dir.filePath("M_1_010120_010000.000.csv"));
    writer.trackEnded();
    QCOMPARE(writer.failedFiles(), QStringList{GpxWriter::gpxPath(missing)});
    QCOMPARE(writer.writtenFiles(), QStringList{dir.filePath("M_1_010120_010000.000.gpx")});

    if (QFile::exists(QStringLiteral("/dev/full"))) {
        // A full disk: the file cut short is removed and reported.
        GpxWriter full(QStringLiteral("quorvel-cli"));
        QTemporaryDir linkDir;
        QVERIFY(QFile::link(QStringLiteral("/dev/full"), linkDir.filePath("F_1.gpx")));
        full.trackStarted(linkDir.filePath("F_1.csv"));
        for (int i = 0; i < 2000; ++i)
            full.recordWritten(record(utc(2020, 1, 1, 0, 0, 0, 0), 100, 'N', 200, 'E', 1));
        full.trackEnded();
        // The failure stays with its file: the next track is written whole.
        full.trackStarted(linkDir.filePath("F_2.csv"));
        full.recordWritten(record(utc(2020, 1, 1, 0, 0, 0, 0), 100, 'N', 200, 'E', 1));
        full.trackEnded();
        QCOMPARE(full.failedFiles(), QStringList{linkDir.filePath("F_1.gpx")});
        QCOMPARE(full.writtenFiles(), QStringList{linkDir.filePath("F_2.gpx")});
        const QByteArray second = fileBytes(linkDir.filePath("F_2.gpx"));
        QCOMPARE(xmlError(second), QString());
        QCOMPARE(second.count("<trkpt "), 1);
    }
}

QTEST_GUILESS_MAIN(TestGpxWriter)
#include "tst_gpxwriter.moc"
