// BeaconInfoDecoder: the information and quality blocks to a BeaconInfo, serial text <-> bytes,
// and report timestamps.
#include "BeaconInfoDecoder.h"

#include <QtTest>

namespace
{
// A well-formed block; `patch` overwrites bytes from `offset` (a text field's unused tail stays 0).
QByteArray makeBlock(int offset = 0, const QByteArray &patch = QByteArray())
{
    QByteArray block(BeaconInfoDecoder::infoBlockSize, '\0');
    block.replace(0, 46, QByteArray::fromHex("2a0a1b2c3d4e5f") + "120524133005" "3536.46610N"
                             "13954.09530E" + QByteArray::fromHex("ff023412"));
    block.replace(46, 7, "Alpha_1");
    block.replace(54, 2, "ZZ");  // ignored filler
    if (offset == 46)
        block.replace(46, 8, QByteArray(8, '\0'));
    block.replace(offset, patch.size(), patch);
    return block;
}

const QByteArray goodQuality = QByteArray::fromHex("1cc8000000ff");  // 7 dB, 43 dBm
}

class TestBeaconInfoDecoder : public QObject
{
    Q_OBJECT

private slots:
    void decodesCompleteBlock();
    void quality_data();
    void quality();
    void textFields_data();
    void textFields();
    void coordinates_data();
    void coordinates();
    void shortArraysReadAsZero();
    void serialText_data();
    void serialText();
    void timestamp_data();
    void timestamp();
};

void TestBeaconInfoDecoder::decodesCompleteBlock()
{
    bool valid = false;
    const BeaconInfo info = BeaconInfoDecoder::decode(makeBlock(), &goodQuality, &valid);
    QVERIFY(valid);
    QCOMPARE(info.serial, QStringLiteral("0a1b2c3d4e5f"));
    QCOMPARE(info.date, QStringLiteral("120524"));
    QCOMPARE(info.time, QStringLiteral("133005"));
    QCOMPARE(info.latitude, QStringLiteral("3536.46610N"));
    QCOMPARE(info.longitude, QStringLiteral("13954.09530E"));
    QCOMPARE(info.name, QStringLiteral("Alpha_1"));
    QCOMPARE(info.memory, 255);
    QCOMPARE(info.state, quint8(2));
    QCOMPARE(info.auxValue, quint16(0x1234));
    QCOMPARE(info.snr, 7);
    QCOMPARE(info.rssi, 43);
}

void TestBeaconInfoDecoder::quality_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("present");
    QTest::addColumn<int>("snr");
    QTest::addColumn<int>("rssi");

    QTest::newRow("-7 quarters") << QByteArray::fromHex("f90000000000") << true << -1 << -157;
    QTest::newRow("7 quarters") << QByteArray::fromHex("07c8") << true << 1 << 43;
    QTest::newRow("extremes") << QByteArray::fromHex("80ff00000000") << true << -32 << 98;
    QTest::newRow("failed request") << QByteArray() << false << 0 << 0;
}

void TestBeaconInfoDecoder::quality()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, present);
    QFETCH(int, snr);
    QFETCH(int, rssi);
    const BeaconInfo info = BeaconInfoDecoder::decode(makeBlock(), present ? &reply : nullptr);
    QCOMPARE(info.snr, snr);
    QCOMPARE(info.rssi, rssi);
}

void TestBeaconInfoDecoder::textFields_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("text");  // the patched field as decoded

    QTest::newRow("name of 8, no terminator") << 46 << QByteArray("ABCDEFGH") << true << "ABCDEFGH";
    QTest::newRow("all-zero name") << 46 << QByteArray() << true << "";
    QTest::newRow("Latin-1 letter") << 46 << QByteArray("Ren\xe9") << true << QString::fromLatin1("Ren\xe9");
    QTest::newRow("name ends at 0") << 46 << QByteArray("AB\0-?", 5) << true << "AB";
    QTest::newRow("hyphen") << 46 << QByteArray("AB-1") << false << "";
    QTest::newRow("space") << 46 << QByteArray("AB 1") << false << "";
    QTest::newRow("date ended early") << 7 << QByteArray("1205\0\0", 6) << true << "1205";
    QTest::newRow("Latin-1 number signs") << 7 << QByteArray("\xbd\xb2\0\0\0\0", 6) << true << QString::fromLatin1("\xbd\xb2");
    QTest::newRow("letter in date") << 7 << QByteArray("12O524") << false << "";
    QTest::newRow("colon in time") << 13 << QByteArray("13:300") << false << "";
}

void TestBeaconInfoDecoder::textFields()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, patch);
    QFETCH(bool, valid);
    QFETCH(QString, text);

    bool decodedValid = !valid;
    const BeaconInfo info = BeaconInfoDecoder::decode(makeBlock(offset, patch), &goodQuality, &decodedValid);
    QCOMPARE(decodedValid, valid);
    QCOMPARE(info.serial, QStringLiteral("0a1b2c3d4e5f"));
    if (valid) {
        QCOMPARE(offset == 46 ? info.name : info.date, text);
        QCOMPARE(info.state, quint8(2));
        return;
    }
    // The reduced record: serial only.
    QVERIFY(info.date.isEmpty() && info.time.isEmpty() && info.name.isEmpty());
    QVERIFY(info.latitude.isEmpty() && info.longitude.isEmpty());
    QCOMPARE(info.memory, 0);
    QCOMPARE(info.state, quint8(255));
    QCOMPARE(info.auxValue, quint16(0));
    QCOMPARE(info.snr, 0);
    QCOMPARE(info.rssi, 0);
}

void TestBeaconInfoDecoder::coordinates_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<QByteArray>("patch");
    QTest::addColumn<bool>("kept");

    QTest::newRow("south") << 19 << QByteArray("0001.00000S") << true;
    QTest::newRow("latitude all zero") << 19 << QByteArray("0000.00000N") << false;
    QTest::newRow("lowercase letter") << 19 << QByteArray("3536.46610n") << false;
    QTest::newRow("latitude misplaced point") << 19 << QByteArray("353.646610N") << false;
    QTest::newRow("latitude ended by 0") << 19 << QByteArray("3536.466\0\0\0", 11) << false;
    QTest::newRow("west") << 30 << QByteArray("12228.24690W") << true;
    QTest::newRow("longitude all zero") << 30 << QByteArray("00000.00000W") << false;
    QTest::newRow("longitude point at 4") << 30 << QByteArray("0061.200000E") << false;
    QTest::newRow("latitude letter") << 30 << QByteArray("13954.09530N") << false;
    QTest::newRow("sign") << 30 << QByteArray("-3954.09530E") << false;
}

void TestBeaconInfoDecoder::coordinates()
{
    QFETCH(int, offset);
    QFETCH(QByteArray, patch);
    QFETCH(bool, kept);

    bool valid = false;
    const BeaconInfo info = BeaconInfoDecoder::decode(makeBlock(offset, patch), &goodQuality, &valid);
    QVERIFY(valid);  // a bad position never spoils the rest of the report
    QCOMPARE(info.name, QStringLiteral("Alpha_1"));
    const QString expected = kept ? QString::fromLatin1(patch) : QString(patch.size(), '*');
    QCOMPARE(offset == 19 ? info.latitude : info.longitude, expected);
    QCOMPARE(offset == 19 ? info.longitude : info.latitude,
             offset == 19 ? QStringLiteral("13954.09530E") : QStringLiteral("3536.46610N"));
}

void TestBeaconInfoDecoder::shortArraysReadAsZero()
{
    bool valid = false;
    const BeaconInfo empty = BeaconInfoDecoder::decode(QByteArray(), nullptr, &valid);
    QVERIFY(valid);
    QCOMPARE(empty.serial, QStringLiteral("000000000000"));
    QVERIFY(empty.date.isEmpty() && empty.name.isEmpty());
    QCOMPARE(empty.latitude, QString(11, '*'));

    // Views of the start of full arrays: the bytes after the cut must not be read.
    const QByteArray full = makeBlock(46, "ABCDEFGH");
    const QByteArray quality = QByteArray::fromHex("f9c8");
    auto view = [](const QByteArray &a, int n) { return QByteArray::fromRawData(a.constData(), n); };
    const QByteArray oneQualityByte = view(quality, 1);

    const BeaconInfo cutInName = BeaconInfoDecoder::decode(view(full, 49), &oneQualityByte);
    QCOMPARE(cutInName.name, QStringLiteral("ABC"));
    QCOMPARE(cutInName.snr, -1);
    QCOMPARE(cutInName.rssi, -157);
    const BeaconInfo cutInAux = BeaconInfoDecoder::decode(view(full, 45), nullptr);
    QCOMPARE(cutInAux.auxValue, quint16(0x34));
    QVERIFY(cutInAux.name.isEmpty());
    const BeaconInfo cutInLongitude = BeaconInfoDecoder::decode(view(full, 40), nullptr);
    QCOMPARE(cutInLongitude.latitude, QStringLiteral("3536.46610N"));
    QCOMPARE(cutInLongitude.longitude, QString(12, '*'));
    QCOMPARE(BeaconInfoDecoder::decode(view(full, 10), nullptr).date, QStringLiteral("120"));
    QCOMPARE(BeaconInfoDecoder::serialToText(view(full, 4).mid(1)), QStringLiteral("0a1b2c000000"));
}

void TestBeaconInfoDecoder::serialText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("roundTrip");  // the bytes give back the text

    QTest::newRow("lowercase") << "0a1b2c3d4e5f" << QByteArray::fromHex("0a1b2c3d4e5f") << true;
    QTest::newRow("high bytes") << "ff80000000fe" << QByteArray::fromHex("ff80000000fe") << true;
    QTest::newRow("uppercase") << "0A1B2C3D4E5F" << QByteArray::fromHex("0a1b2c3d4e5f") << false;
    QTest::newRow("too long") << "0a1b2c3d4e5f77" << QByteArray::fromHex("0a1b2c3d4e5f") << false;
    // Malformed: the pairs before the first bad one, then zeros.
    QTest::newRow("bad pair") << "0a1bzz3d4e5f" << QByteArray::fromHex("0a1b00000000") << false;
    QTest::newRow("odd length") << "0a1" << QByteArray::fromHex("0a0000000000") << false;
    QTest::newRow("space") << "0a 1b2c3d4e5" << QByteArray::fromHex("0a0000000000") << false;
    QTest::newRow("prefix") << "0x1b2c3d4e5f" << QByteArray(6, '\0') << false;
    QTest::newRow("empty") << "" << QByteArray(6, '\0') << false;
}

void TestBeaconInfoDecoder::serialText()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, roundTrip);
    QCOMPARE(BeaconInfoDecoder::serialFromText(text), bytes);
    if (roundTrip)
        QCOMPARE(BeaconInfoDecoder::serialToText(bytes), text);
}

void TestBeaconInfoDecoder::timestamp_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QDateTime>("expected");  // invalid: no timestamp

    QTest::newRow("report") << "120524" << "133005" << QDateTime(QDate(2024, 5, 12), QTime(13, 30, 5), Qt::UTC);
    QTest::newRow("year 99") << "311299" << "235959" << QDateTime(QDate(2099, 12, 31), QTime(23, 59, 59), Qt::UTC);
    // 2000 is a leap year although 1900 is not.
    QTest::newRow("29 February 2000") << "290200" << "120000" << QDateTime(QDate(2000, 2, 29), QTime(12, 0), Qt::UTC);
    QTest::newRow("29 February 2023") << "290223" << "120000" << QDateTime();
    QTest::newRow("short date") << "1205" << "133005" << QDateTime();
    QTest::newRow("empty time") << "120524" << "" << QDateTime();
    QTest::newRow("hour 24") << "120524" << "240000" << QDateTime();
    QTest::newRow("Latin-1 number sign") << QString::fromLatin1("1205\xb2" "4") << "133005" << QDateTime();
}

void TestBeaconInfoDecoder::timestamp()
{
    QFETCH(QString, date);
    QFETCH(QString, time);
    QFETCH(QDateTime, expected);

    const QDateTime stamp = BeaconInfoDecoder::timestamp(date, time);
    QCOMPARE(stamp.isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(stamp, expected);
        QCOMPARE(stamp.timeSpec(), Qt::UTC);
    }
}

QTEST_APPLESS_MAIN(TestBeaconInfoDecoder)
#include "tst_beaconinfodecoder.moc"
