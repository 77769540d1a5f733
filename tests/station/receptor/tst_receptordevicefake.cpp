// The simulated receptor: block layout and clock, track walking, beacon list edits, fixed replies.
#include "BeaconInfoDecoder.h"
#include "ReceptorDeviceFake.h"

#include <QLoggingCategory>
#include <QtTest>

#include <cstring>
#include <memory>

namespace
{
const QByteArray initialSerial("\0\0\0\0\0\x02", 6);

// Reads slot `slot` once and decodes it with a zero quality reply.
BeaconInfo readDecoded(ReceptorDeviceFake &fake, int slot, bool *valid = nullptr)
{
    const std::unique_ptr<QByteArray> block(fake.readBeaconInfo(slot));
    const std::unique_ptr<QByteArray> quality(fake.readBeaconQuality(slot));
    if (!block)
        return BeaconInfo();
    return BeaconInfoDecoder::decode(*block, quality.get(), valid);
}
} // namespace

class TestReceptorDeviceFake : public QObject
{
    Q_OBJECT

private slots:
    // The debug lines checked here; their category is off by default.
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("korvane.receptor.debug=true")); }

    void freshReceptor();
    void blockLayoutUsesOneClockReading();
    void addedBeaconsTakeTheTracksInTurn();
    void trackZeroHasUnknownLongitudes();
    void deleteRemovesFirstEqualSerial();
    void fixedReplies();
};

void TestReceptorDeviceFake::freshReceptor()
{
    QTest::ignoreMessage(QtDebugMsg, "Fake receptor created\n");
    ReceptorDeviceFake fake;
    QCOMPARE(fake.kind(), 2);
    QCOMPARE(fake.refCount(), 1);

    const std::unique_ptr<QByteArray> flags(fake.readBeaconFlags());
    QVERIFY(flags);
    QCOMPARE(*flags, QByteArray("\x03", 1));

    bool valid = false;
    const BeaconInfo info = readDecoded(fake, 0, &valid);
    QVERIFY(valid);
    QCOMPARE(info.serial, QStringLiteral("000000000002"));
    QCOMPARE(info.name, QStringLiteral("Fake0000"));
    QCOMPARE(info.state, quint8(0));
    QCOMPARE(info.memory, 51);
    QCOMPARE(info.auxValue, quint16(10));
    QCOMPARE(info.snr, 0);
    QCOMPARE(info.rssi, -157);
    QCOMPARE(info.latitude, QStringLiteral("3536.46610N"));
    QCOMPARE(info.longitude, QStringLiteral("13954.09530E"));
    QCOMPARE(info.date.size(), 6);
    QCOMPARE(info.time.size(), 6);
}

void TestReceptorDeviceFake::blockLayoutUsesOneClockReading()
{
    // Every reading of this clock is one second later: a block stamped from two readings would
    // carry the next day's date with the previous day's time.
    int readings = 0;
    ReceptorDeviceFake fake([&readings] {
        return QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59)).addSecs(readings++);
    });

    const std::unique_ptr<QByteArray> block(fake.readBeaconInfo(0));
    QVERIFY(block);
    QCOMPARE(readings, 1);
    const QByteArray expected = QByteArray("*") + initialSerial + "290224" "235959"
                                + "3536.46610N" + "13954.09530E" + "3" + QByteArray("\0\x0a\0", 3)
                                + "Fake0000";
    QCOMPARE(block->size(), 54);
    QCOMPARE(*block, expected);

    const std::unique_ptr<QByteArray> next(fake.readBeaconInfo(0));
    QCOMPARE(next->mid(7, 12), QByteArray("010324000000"));
}

void TestReceptorDeviceFake::addedBeaconsTakeTheTracksInTurn()
{
    ReceptorDeviceFake fake;
    for (char last = 'a'; last <= 'd'; ++last)
        fake.sendAddBeacon(QByteArray("\x11\x22\x33\x44\x55", 5) + last);

    const std::unique_ptr<QByteArray> flags(fake.readBeaconFlags());
    QCOMPARE(*flags, QByteArray(5, '\x03'));

    // The first position of tracks 1, 0, 1, 2 and 0.
    const char *const expected[] = {"3536.46610N", "0004.00000N", "3536.46610N", "3748.57940N",
                                    "0004.00000N"};
    for (int slot = 0; slot < 5; ++slot) {
        const BeaconInfo info = readDecoded(fake, slot);
        QCOMPARE(info.name, QStringLiteral("Fake%1").arg(slot, 4, 10, QLatin1Char('0')));
        QCOMPARE(info.latitude, QString::fromLatin1(expected[slot]));
    }
    QCOMPARE(readDecoded(fake, 4).serial, QStringLiteral("112233445564"));
}

void TestReceptorDeviceFake::trackZeroHasUnknownLongitudes()
{
    ReceptorDeviceFake fake;
    fake.sendAddBeacon(QByteArray("\0\0\0\0\0\x07", 6));
    for (int position = 0; position < 6; ++position)
        readDecoded(fake, 1);
    bool valid = false;
    const BeaconInfo info = readDecoded(fake, 1, &valid);
    QVERIFY(valid);
    QCOMPARE(info.latitude, QStringLiteral("0003.00000S"));
    QCOMPARE(info.longitude, QStringLiteral("************"));
    QCOMPARE(readDecoded(fake, 1).longitude, QStringLiteral("00001.00000W"));
}

void TestReceptorDeviceFake::deleteRemovesFirstEqualSerial()
{
    ReceptorDeviceFake fake;
    const QByteArray twin("\xAA\xBB\xCC\xDD\xEE\xFF", 6);
    fake.sendAddBeacon(twin);  // track 0
    fake.sendAddBeacon(twin);  // track 1

    // Neither a prefix nor a longer array matches.
    fake.sendDelBeacon(twin.left(5));
    fake.sendDelBeacon(twin + '\0');
    QCOMPARE(std::unique_ptr<QByteArray>(fake.readBeaconFlags())->size(), 3);

    fake.sendDelBeacon(twin);
    QCOMPARE(std::unique_ptr<QByteArray>(fake.readBeaconFlags())->size(), 2);
    // The second twin (track 1) moved up to slot 1.
    QCOMPARE(readDecoded(fake, 1).latitude, QStringLiteral("3536.46610N"));

    fake.sendDelBeacon(initialSerial);
    fake.sendDelBeacon(twin);
    QCOMPARE(*std::unique_ptr<QByteArray>(fake.readBeaconFlags()), QByteArray());
    QVERIFY(!std::unique_ptr<QByteArray>(fake.readBeaconInfo(0)));
    QVERIFY(!std::unique_ptr<QByteArray>(fake.readBeaconInfo(-1)));
}

void TestReceptorDeviceFake::fixedReplies()
{
    ReceptorDeviceFake fake;
    QCOMPARE(*std::unique_ptr<QByteArray>(fake.readBeaconQuality(0)), QByteArray(2, '\0'));

    char id[25];
    std::memset(id, 0x7F, sizeof id);
    QCOMPARE(fake.readReceptorId(id), 24);
    QCOMPARE(QByteArray(id, 24), QByteArray("000000000000XXXXXXXX") + QByteArray(4, '\0'));
    QCOMPARE(id[24], '\x7F');

    // Commands that the simulated receptor ignores leave its beacons untouched.
    fake.sendStartBeacon(initialSerial, 300);
    fake.sendStopBeacon(initialSerial);
    fake.sendBootloader();
    QCOMPARE(readDecoded(fake, 0).state, quint8(0));
}

QTEST_GUILESS_MAIN(TestReceptorDeviceFake)
#include "tst_receptordevicefake.moc"
