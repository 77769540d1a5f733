// The virtual receptor's own behaviour, driven by raw control requests: its slot table, the
// information and quality replies it builds, the requests it refuses, and its command hook.
#include "VirtualReceptor.h"

#include <QtTest>

#include <vector>

namespace {

using Serial = VirtualReceptor::Serial;

Serial serialNo(uint8_t n)
{
    return Serial{0x10, 0x20, 0x30, 0x40, 0x50, n};
}

usb::SetupPacket packet(uint8_t requestType, uint8_t request, uint16_t index, uint16_t length)
{
    usb::SetupPacket setup;
    setup.requestType = requestType;
    setup.request = request;
    setup.index = index;
    setup.length = length;
    return setup;
}

usb::Transfer command(VirtualReceptor &receptor, uint8_t request, std::vector<uint8_t> data)
{
    return receptor.control(packet(0x40, request, 0, static_cast<uint16_t>(data.size())),
                            data.data());
}

usb::Transfer serialCommand(VirtualReceptor &receptor, uint8_t request, const Serial &serial)
{
    return command(receptor, request, std::vector<uint8_t>(serial.begin(), serial.end()));
}

std::vector<uint8_t> read(VirtualReceptor &receptor, uint8_t request, uint16_t index,
                          uint16_t length, bool *ok = nullptr)
{
    std::vector<uint8_t> data(length, 0xEE);
    const usb::Transfer result = receptor.control(packet(0xC0, request, index, length), data.data());
    if (ok)
        *ok = result.ok() && result.transferred == length;
    return data;
}

QByteArray bytes(const std::vector<uint8_t> &data, std::size_t from, std::size_t count)
{
    return QByteArray(reinterpret_cast<const char *>(data.data() + from), static_cast<int>(count));
}

} // namespace

class TestVirtualReceptor : public QObject
{
    Q_OBJECT

private slots:
    void slotTable();
    void reportBlocks();
    void qualityIsClamped();
    void startAndStop();
    void refusesMalformedRequests_data();
    void refusesMalformedRequests();
    void hookMayScriptTheReceptor();
};

void TestVirtualReceptor::slotTable()
{
    VirtualReceptor receptor;
    for (uint8_t n = 0; n < 3; ++n)
        QVERIFY(serialCommand(receptor, 0x50, serialNo(n)).ok());
    QVERIFY(serialCommand(receptor, 0x51, serialNo(1)).ok());
    QCOMPARE(receptor.slotOf(serialNo(1)), -1);
    // A freed slot is reused first; a known serial keeps its slot.
    QVERIFY(serialCommand(receptor, 0x50, serialNo(7)).ok());
    QVERIFY(serialCommand(receptor, 0x50, serialNo(0)).ok());
    QCOMPARE(receptor.slotOf(serialNo(7)), 1);
    QCOMPARE(receptor.slotOf(serialNo(0)), 0);
    QCOMPARE(receptor.registeredSerials().size(), size_t(3));

    // Deleting an unknown serial changes nothing; a full table ignores further additions.
    QVERIFY(serialCommand(receptor, 0x51, serialNo(99)).ok());
    for (uint8_t n = 100; n < 120; ++n)
        serialCommand(receptor, 0x50, serialNo(n));
    QCOMPARE(receptor.registeredSerials().size(), size_t(20));
    QCOMPARE(receptor.slotOf(serialNo(116)), 19);
    QCOMPARE(receptor.slotOf(serialNo(117)), -1);

    bool ok = false;
    const std::vector<uint8_t> flags = read(receptor, 0x52, 0, 20, &ok);
    QVERIFY(ok);
    QCOMPARE(bytes(flags, 0, 20), QByteArray(20, '\x01'));
}

void TestVirtualReceptor::reportBlocks()
{
    VirtualReceptor receptor;
    VirtualReceptor::Report report;
    report.date = "1205";                  // short: ends early with 0 bytes
    report.time = "0815309";               // long: cut to its field
    report.latitude = "4512.34567N";
    report.longitude = "00612.50000E";
    report.name = "ABCDEFGHIJ";
    report.memory = 200;
    report.auxValue = 10;
    QVERIFY(!receptor.setReport(0, report));  // nothing registered there
    QVERIFY(!receptor.postReport(serialNo(1), report));

    QCOMPARE(receptor.registerSerial(serialNo(1)), 0);
    QVERIFY(receptor.postReport(serialNo(1), report));
    QCOMPARE(receptor.flags()[0], uint8_t(0x03));

    bool ok = false;
    const std::vector<uint8_t> block = read(receptor, 0x53, 0, 56, &ok);
    QVERIFY(ok);
    const Serial serial = serialNo(1);
    QCOMPARE(bytes(block, 0, 7), '*' + QByteArray(reinterpret_cast<const char *>(serial.data()), 6));
    QCOMPARE(bytes(block, 7, 12), QByteArray("1205\0\0" "081530", 12));
    QCOMPARE(bytes(block, 19, 23), QByteArray("4512.34567N00612.50000E"));
    QCOMPARE(bytes(block, 42, 4), QByteArray::fromHex("c8000a00"));
    QCOMPARE(bytes(block, 46, 10), QByteArray("ABCDEFGH\0\0", 10));
    QCOMPARE(receptor.flags()[0], uint8_t(0x01));

    // A raw block goes out untouched, malformed or not.
    VirtualReceptor::InfoBlock raw;
    raw.fill('-');
    report.raw = raw;
    QVERIFY(receptor.setReport(0, report));
    QCOMPARE(bytes(read(receptor, 0x53, 0, 56), 0, 56), QByteArray(56, '-'));

    // A free slot answers with an empty block and keeps no report.
    QCOMPARE(bytes(read(receptor, 0x53, 5, 56), 0, 56), QByteArray(56, '\0'));
    serialCommand(receptor, 0x51, serialNo(1));
    QCOMPARE(bytes(read(receptor, 0x53, 0, 56), 0, 56), QByteArray(56, '\0'));
    QCOMPARE(receptor.flags()[0], uint8_t(0x00));
}

void TestVirtualReceptor::qualityIsClamped()
{
    VirtualReceptor receptor;
    receptor.registerSerial(serialNo(1));
    QCOMPARE(bytes(read(receptor, 0x56, 0, 6), 0, 6), QByteArray(6, '\0'));  // no report yet

    const struct {
        int snr, rssi;
        const char *hex;
    } cases[] = {{-7, 43, "f9c800000000"}, {1000, 200, "7fff00000000"}, {-1000, -300, "800000000000"}};
    for (const auto &c : cases) {
        VirtualReceptor::Report report;
        report.snrQuarterDb = c.snr;
        report.rssiDbm = c.rssi;
        receptor.setReport(0, report);
        QCOMPARE(bytes(read(receptor, 0x56, 0, 6), 0, 6), QByteArray::fromHex(c.hex));
    }
}

void TestVirtualReceptor::startAndStop()
{
    VirtualReceptor receptor;
    receptor.registerSerial(serialNo(1));
    QVERIFY(!receptor.lastStartInterval());
    const Serial serial = serialNo(1);
    std::vector<uint8_t> start(serial.begin(), serial.end());
    start.push_back(0x2C);
    start.push_back(0x01);
    QVERIFY(command(receptor, 0x54, start).ok());
    QVERIFY(receptor.lastStartInterval() == uint16_t(300));
    QCOMPARE(receptor.slotState(0), uint8_t(2));
    QCOMPARE(read(receptor, 0x53, 0, 56)[43], uint8_t(2));

    QVERIFY(serialCommand(receptor, 0x55, serial).ok());
    QCOMPARE(receptor.slotState(0), uint8_t(0));
    QVERIFY(!receptor.bootloaderRequested());
    QVERIFY(command(receptor, 0x70, {}).ok());
    QVERIFY(receptor.bootloaderRequested());
}

void TestVirtualReceptor::refusesMalformedRequests_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::newRow("unknown request") << QByteArray::fromHex("C057000000000600");
    QTest::newRow("read as command") << QByteArray::fromHex("4052000000001400");
    QTest::newRow("class request type") << QByteArray::fromHex("A152000000001400");
    QTest::newRow("short add") << QByteArray::fromHex("4050000000000500");
    QTest::newRow("start without interval") << QByteArray::fromHex("4054000000000600");
    QTest::newRow("bootloader with data") << QByteArray::fromHex("4070000000000100");
    QTest::newRow("short info") << QByteArray::fromHex("C053000000003700");
    QTest::newRow("slot 20") << QByteArray::fromHex("C053000014003800");
    QTest::newRow("quality slot 20") << QByteArray::fromHex("C056000014000600");
    QTest::newRow("long flags") << QByteArray::fromHex("C052000000001500");
    QTest::newRow("flags with index") << QByteArray::fromHex("C052000001001400");
    QTest::newRow("nonzero value") << QByteArray::fromHex("C001010000001800");
}

void TestVirtualReceptor::refusesMalformedRequests()
{
    QFETCH(QByteArray, setup);
    VirtualReceptor receptor;
    std::array<uint8_t, 8> raw;
    std::copy(setup.begin(), setup.end(), raw.begin());
    std::vector<uint8_t> data(64, 0);
    const usb::Transfer result = receptor.control(usb::SetupPacket::fromBytes(raw), data.data());
    QCOMPARE(int(result.outcome), int(usb::Outcome::IoError));
    QVERIFY(receptor.registeredSerials().empty());
    QVERIFY(!receptor.bootloaderRequested());
}

void TestVirtualReceptor::hookMayScriptTheReceptor()
{
    VirtualReceptor receptor;
    std::vector<VirtualReceptor::Command> seen;
    // A started beacon reports at once; the hook runs with the receptor unlocked.
    receptor.setCommandHook([&](const VirtualReceptor::Command &c) {
        seen.push_back(c);
        if (c.request == VirtualReceptor::Request::StartBeacon) {
            VirtualReceptor::Report report;
            report.name = "Hooked";
            report.state = VirtualReceptor::stateStarted;
            receptor.postReport(c.serial, report);
        }
    });
    const Serial serial = serialNo(4);
    serialCommand(receptor, 0x50, serialNo(3));
    serialCommand(receptor, 0x50, serial);
    std::vector<uint8_t> start(serial.begin(), serial.end());
    start.push_back(0x70);
    start.push_back(0x11);
    command(receptor, 0x54, start);
    read(receptor, 0x52, 0, 20);  // reads are not commands

    QCOMPARE(seen.size(), size_t(3));
    QVERIFY(seen[1].request == VirtualReceptor::Request::AddBeacon);
    QCOMPARE(seen[1].slot, 1);
    QVERIFY(seen[2].serial == serial);
    QCOMPARE(seen[2].interval, uint16_t(0x1170));
    QCOMPARE(receptor.flags()[1], uint8_t(0x03));
    QCOMPARE(bytes(read(receptor, 0x53, 1, 56), 46, 8), QByteArray("Hooked\0\0", 8));
}

QTEST_GUILESS_MAIN(TestVirtualReceptor)
#include "tst_virtualreceptor.moc"
