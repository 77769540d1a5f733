// The simulator socket's frame codec: every message survives a round trip, a partial frame waits
// for more, and a frame that lies about its contents is refused without reading past the input.
#include "SimulatorProtocol.h"

#include <QtTest>

using usb::SimulatorDecode;
using usb::SimulatorMessage;
using usb::SimulatorMessageKind;

Q_DECLARE_METATYPE(SimulatorMessage)

namespace {

const usb::Guid moduleClass = *usb::Guid::parse("{86939D4C-A46D-4604-81DF-8BE24B211E48}");

usb::SetupPacket packet(uint8_t type, uint8_t request, uint16_t index, uint16_t length)
{
    usb::SetupPacket p;
    p.requestType = type;
    p.request = request;
    p.index = index;
    p.length = length;
    return p;
}

// Decodes from a heap buffer of exactly `bytes.size()` bytes, so that a read past it is a fault the
// sanitizer builds report.
SimulatorDecode decode(const std::vector<uint8_t> &bytes, SimulatorMessage *message = nullptr,
                       std::size_t *consumed = nullptr)
{
    std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size() ? bytes.size() : 1]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    SimulatorMessage m;
    std::size_t n = 0;
    const SimulatorDecode result = usb::decodeSimulatorFrame(exact.get(), bytes.size(), message ? message : &m,
                                                             consumed ? consumed : &n);
    return result;
}

// A frame around a hand-made payload.
std::vector<uint8_t> frame(const std::vector<uint8_t> &payload)
{
    const auto n = static_cast<uint32_t>(payload.size());
    std::vector<uint8_t> bytes{uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

bool samePipes(const std::vector<usb::PipeInfo> &a, const std::vector<usb::PipeInfo> &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].type != b[i].type || a[i].id != b[i].id || a[i].maxPacketSize != b[i].maxPacketSize)
            return false;
    }
    return true;
}

} // namespace

class TestSimulatorProtocol : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void partialFramesWait();
    void framesFollowEachOther();
    void wireForm();
    void malformedFramesRefused_data();
    void malformedFramesRefused();
    void inconsistentMessagesNotEncoded();
};

void TestSimulatorProtocol::roundTrip_data()
{
    QTest::addColumn<SimulatorMessage>("message");

    std::vector<uint8_t> page(256);
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<uint8_t>(i);

    QTest::newRow("list") << SimulatorMessage::list(moduleClass);
    QTest::newRow("open") << SimulatorMessage::open("sim:module-0123456789AB");
    QTest::newRow("pipes") << SimulatorMessage::pipesQuery();
    QTest::newRow("pipe time-out") << SimulatorMessage::pipeTimeout(0x81, 1000);
    QTest::newRow("control in") << SimulatorMessage::control(packet(0xC0, 0x53, 3, 56), {});
    QTest::newRow("control out") << SimulatorMessage::control(packet(0x40, 0x54, 0, 8),
                                                              {0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F, 0x2C, 0x01});
    QTest::newRow("control out, full 64 KiB stage")
        << SimulatorMessage::control(packet(0x40, 0x02, 0, 0xFFFF), std::vector<uint8_t>(0xFFFF, 0x41));
    QTest::newRow("bulk read") << SimulatorMessage::bulkRead(0x81, 64);
    QTest::newRow("paths") << SimulatorMessage::pathList({"sim:receptor", "", "sim:module-0123456789AB"});
    QTest::newRow("no paths") << SimulatorMessage::pathList({});
    QTest::newRow("status") << SimulatorMessage::status(usb::Outcome::NoDevice);
    QTest::newRow("pipe list") << SimulatorMessage::pipeList(
        usb::Outcome::Ok, {{usb::PipeType::Bulk, 0x01, 64}, {usb::PipeType::Interrupt, 0x82, 8}});
    QTest::newRow("control done, in") << SimulatorMessage::controlDone(usb::Outcome::Ok, 24,
                                                                       std::vector<uint8_t>(24, 0x30));
    QTest::newRow("control done, out") << SimulatorMessage::controlDone(usb::Outcome::Ok, 8, {});
    QTest::newRow("control stalled") << SimulatorMessage::controlDone(usb::Outcome::IoError, 0, {});
    QTest::newRow("bulk data") << SimulatorMessage::bulkData(usb::Outcome::Ok, page);
    QTest::newRow("bulk time-out") << SimulatorMessage::bulkData(usb::Outcome::Timeout, {});
}

void TestSimulatorProtocol::roundTrip()
{
    QFETCH(SimulatorMessage, message);
    const std::vector<uint8_t> bytes = usb::encodeSimulatorFrame(message);
    QVERIFY(!bytes.empty());

    SimulatorMessage decoded;
    std::size_t consumed = 0;
    QCOMPARE(decode(bytes, &decoded, &consumed), SimulatorDecode::Complete);
    QCOMPARE(consumed, bytes.size());
    QCOMPARE(decoded.kind, message.kind);
    QVERIFY(decoded.interfaceClass == message.interfaceClass);
    QCOMPARE(decoded.path, message.path);
    QCOMPARE(decoded.paths, message.paths);
    QCOMPARE(decoded.pipeId, message.pipeId);
    QCOMPARE(decoded.value, message.value);
    QVERIFY(decoded.setup.bytes() == message.setup.bytes());
    QCOMPARE(decoded.outcome, message.outcome);
    QVERIFY(samePipes(decoded.pipes, message.pipes));
    QVERIFY(decoded.data == message.data);
}

void TestSimulatorProtocol::partialFramesWait()
{
    const std::vector<uint8_t> bytes = usb::encodeSimulatorFrame(
        SimulatorMessage::pathList({"sim:receptor", "sim:module-0123456789AB"}));
    for (std::size_t size = 0; size < bytes.size(); ++size) {
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
        QVERIFY2(decode(prefix) == SimulatorDecode::Incomplete, qPrintable(QString::number(size)));
    }
}

void TestSimulatorProtocol::framesFollowEachOther()
{
    std::vector<uint8_t> stream = usb::encodeSimulatorFrame(SimulatorMessage::bulkRead(0x81, 64));
    const std::size_t first = stream.size();
    const std::vector<uint8_t> second = usb::encodeSimulatorFrame(SimulatorMessage::pipesQuery());
    stream.insert(stream.end(), second.begin(), second.end());

    SimulatorMessage message;
    std::size_t consumed = 0;
    QCOMPARE(decode(stream, &message, &consumed), SimulatorDecode::Complete);
    QCOMPARE(consumed, first);
    QCOMPARE(message.kind, SimulatorMessageKind::BulkRead);
    QCOMPARE(message.value, 64u);
}

void TestSimulatorProtocol::wireForm()
{
    // Little-endian length, kind byte, then the fields.
    const std::vector<uint8_t> control = usb::encodeSimulatorFrame(
        SimulatorMessage::control(packet(0xC0, 0x53, 3, 56), {}));
    const std::vector<uint8_t> expected{13, 0, 0, 0, 0x05, 0xC0, 0x53, 0x00, 0x00, 0x03, 0x00, 0x38, 0x00,
                                        0, 0, 0, 0};
    QVERIFY(control == expected);

    const std::vector<uint8_t> status = usb::encodeSimulatorFrame(SimulatorMessage::status(usb::Outcome::NoDevice));
    QVERIFY((status == std::vector<uint8_t>{2, 0, 0, 0, 0x82, 2}));
}

void TestSimulatorProtocol::malformedFramesRefused_data()
{
    QTest::addColumn<std::vector<uint8_t>>("bytes");

    QTest::newRow("empty payload") << std::vector<uint8_t>{0, 0, 0, 0};
    // Refused from the header alone: nothing of the announced 16 MiB is waited for.
    QTest::newRow("length beyond the largest frame") << std::vector<uint8_t>{0, 0, 0, 1, 0x03};
    QTest::newRow("unknown kind") << frame({0x42});
    QTest::newRow("reply kind 0x80") << frame({0x80});
    QTest::newRow("outcome out of range") << frame({0x82, 4});
    QTest::newRow("pipe type out of range") << frame({0x83, 0, 1, 7, 0x81, 64, 0});
    QTest::newRow("pipe list shorter than its count") << frame({0x83, 0, 2, 2, 0x81, 64, 0});
    QTest::newRow("trailing byte") << frame({0x03, 0x00});
    QTest::newRow("path longer than the payload") << frame({0x02, 200, 0, 's', 'i', 'm'});
    QTest::newRow("more paths than present") << frame({0x81, 3, 0, 1, 0, 'a'});
    QTest::newRow("truncated GUID") << frame({0x01, 1, 2, 3, 4, 5, 6, 7, 8});
    QTest::newRow("control IN carrying data")
        << frame({0x05, 0xC0, 0x01, 0, 0, 0, 0, 24, 0, 1, 0, 0, 0, 0x55});
    QTest::newRow("control OUT data shorter than its setup")
        << frame({0x05, 0x40, 0x50, 0, 0, 0, 0, 6, 0, 2, 0, 0, 0, 0x0A, 0x1B});
    QTest::newRow("data block longer than the payload")
        << frame({0x85, 0, 0xFF, 0xFF, 0, 0, 1, 2, 3});
    QTest::newRow("control reply data unlike its count")
        << frame({0x84, 0, 4, 0, 0, 0, 2, 0, 0, 0, 1, 2});
    QTest::newRow("control reply count beyond 64 KiB")
        << frame({0x84, 0, 0, 0, 1, 0, 0, 0, 0, 0});
    QTest::newRow("missing bulk length") << frame({0x06, 0x81, 64});
}

void TestSimulatorProtocol::malformedFramesRefused()
{
    QFETCH(std::vector<uint8_t>, bytes);
    QCOMPARE(decode(bytes), SimulatorDecode::Malformed);
}

void TestSimulatorProtocol::inconsistentMessagesNotEncoded()
{
    // An OUT request whose data does not match its setup length, IN data on a request, a reply
    // whose data is not the count it claims: none becomes a frame.
    QVERIFY(usb::encodeSimulatorFrame(SimulatorMessage::control(packet(0x40, 0x50, 0, 6), {1, 2})).empty());
    QVERIFY(usb::encodeSimulatorFrame(SimulatorMessage::control(packet(0xC0, 0x01, 0, 24), {1})).empty());
    QVERIFY(usb::encodeSimulatorFrame(SimulatorMessage::controlDone(usb::Outcome::Ok, 3, {1, 2})).empty());
    // Too much for one frame.
    QVERIFY(usb::encodeSimulatorFrame(SimulatorMessage::bulkData(
                usb::Outcome::Ok, std::vector<uint8_t>(usb::simulatorMaxPayloadSize))).empty());
    QVERIFY(usb::encodeSimulatorFrame(SimulatorMessage::open(std::string(70000, 'x'))).empty());
}

QTEST_APPLESS_MAIN(TestSimulatorProtocol)
#include "tst_simulatorprotocol.moc"
