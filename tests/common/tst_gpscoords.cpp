// GpsCoords: reading the receptor's coordinate texts and converting to signed decimal degrees.
#include "GpsCoords.h"

#include <QtTest>

#include <cmath>

class TestGpsCoords : public QObject
{
    Q_OBJECT

private slots:
    void degrees_data();
    void degrees();
    void fromTexts_data();
    void fromTexts();
};

void TestGpsCoords::degrees_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<char>("letter");
    QTest::addColumn<double>("latitude");   // the value as a latitude with this letter
    QTest::addColumn<double>("longitude");  // the value as a longitude with this letter

    QTest::newRow("north") << 3536.46610 << 'n' << 35 + 36.46610 / 60 << -(35 + 36.46610 / 60);
    QTest::newRow("east") << 612.5 << 'e' << -(6 + 12.5 / 60) << 6 + 12.5 / 60;
    QTest::newRow("west") << 12228.24690 << 'W' << -(122 + 28.24690 / 60) << -(122 + 28.24690 / 60);
    QTest::newRow("unexpected letter") << 4500.0 << 'X' << -45.0 << -45.0;
    QTest::newRow("out of integer range") << 1e300 << 'N' << 1e298 << -1e298;
}

void TestGpsCoords::degrees()
{
    QFETCH(double, value);
    QFETCH(char, letter);
    QFETCH(double, latitude);
    QFETCH(double, longitude);
    QCOMPARE(GpsCoords(value, letter, 0, 'E').latitudeDegrees(), latitude);
    QCOMPARE(GpsCoords(0, 'N', value, letter).longitudeDegrees(), longitude);
}

void TestGpsCoords::fromTexts_data()
{
    QTest::addColumn<QString>("latitudeText");
    QTest::addColumn<QString>("longitudeText");
    QTest::addColumn<double>("latitude");  // NaN: not available
    QTest::addColumn<char>("latHemisphere");
    QTest::addColumn<double>("longitude");
    QTest::addColumn<char>("lonHemisphere");

    const double nan = qQNaN();
    QTest::newRow("receptor texts") << "4512.34567S" << "00612.50000W" << 4512.34567 << 'S' << 612.5 << 'W';
    QTest::newRow("asterisks") << QString(11, '*') << "13954.09530E" << nan << '*' << 13954.0953 << 'E';
    QTest::newRow("empty") << QString() << QString() << nan << 'N' << nan << 'E';
    // The C locale whatever the system's: a comma is no decimal separator.
    QTest::newRow("comma") << "4512,34567N" << "00612,50000E" << nan << 'N' << nan << 'E';
}

void TestGpsCoords::fromTexts()
{
    QFETCH(QString, latitudeText);
    QFETCH(QString, longitudeText);
    QFETCH(double, latitude);
    QFETCH(char, latHemisphere);
    QFETCH(double, longitude);
    QFETCH(char, lonHemisphere);

    const GpsCoords c = GpsCoords::fromTexts(latitudeText, longitudeText);
    QCOMPARE(std::isnan(c.latitude()), std::isnan(latitude));
    QCOMPARE(std::isnan(c.latitudeDegrees()), std::isnan(latitude));
    if (!std::isnan(latitude))
        QCOMPARE(c.latitude(), latitude);
    QCOMPARE(std::isnan(c.longitude()), std::isnan(longitude));
    if (!std::isnan(longitude))
        QCOMPARE(c.longitude(), longitude);
    QCOMPARE(c.latHemisphere(), latHemisphere);
    QCOMPARE(c.lonHemisphere(), lonHemisphere);
}

QTEST_APPLESS_MAIN(TestGpsCoords)
#include "tst_gpscoords.moc"
