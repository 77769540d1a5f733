// Frame encoding and bounds-checked decoding of the simulator protocol.
#include "SimulatorProtocol.h"

#include "ByteReader.h"
#include "ByteWriter.h"

#include <limits>

namespace usb {

namespace {

constexpr std::size_t maxShortLength = std::numeric_limits<uint16_t>::max();

// Texts carry a 16-bit length, byte blocks a 32-bit one.
bool writeText(ByteWriter &w, const std::string &text)
{
    if (text.size() > maxShortLength)
        return false;
    w.u16(static_cast<uint16_t>(text.size()));
    w.text(text);
    return true;
}

void writeBlock(ByteWriter &w, const std::vector<uint8_t> &data)
{
    w.u32(static_cast<uint32_t>(data.size()));
    w.bytes(data);
}

bool readText(ByteReader &r, std::string &text)
{
    uint16_t length = 0;
    return r.u16(length) && r.text(length, text);
}

bool readBlock(ByteReader &r, std::vector<uint8_t> &data)
{
    uint32_t length = 0;
    return r.u32(length) && r.bytes(length, data);
}

bool readSetup(ByteReader &r, SetupPacket &packet)
{
    std::array<uint8_t, 8> bytes;
    if (!r.bytes(bytes.size(), bytes.data()))
        return false;
    packet = SetupPacket::fromBytes(bytes);
    return true;
}

bool readOutcome(ByteReader &r, Outcome &outcome)
{
    uint8_t value = 0;
    if (!r.u8(value) || value > static_cast<uint8_t>(Outcome::IoError))
        return false;
    outcome = static_cast<Outcome>(value);
    return true;
}

// The data stage a control request carries: setup.length bytes out, nothing for IN.
bool controlDataConsistent(const SetupPacket &setup, std::size_t dataSize)
{
    return setup.isIn() ? dataSize == 0 : dataSize == setup.length;
}

// IN data of a completed control transfer is exactly the bytes moved; OUT transfers carry none.
bool controlReplyConsistent(uint32_t transferred, std::size_t dataSize)
{
    return transferred <= maxShortLength && (dataSize == 0 || dataSize == transferred);
}

bool encodePayload(const SimulatorMessage &m, ByteWriter &w)
{
    w.u8(static_cast<uint8_t>(m.kind));
    switch (m.kind) {
    case SimulatorMessageKind::List:
        w.u32(m.interfaceClass.data1);
        w.u16(m.interfaceClass.data2);
        w.u16(m.interfaceClass.data3);
        w.bytes(m.interfaceClass.data4.data(), m.interfaceClass.data4.size());
        return true;
    case SimulatorMessageKind::Open:
        return writeText(w, m.path);
    case SimulatorMessageKind::Pipes:
        return true;
    case SimulatorMessageKind::PipeTimeout:
    case SimulatorMessageKind::BulkRead:
        w.u8(m.pipeId);
        w.u32(m.value);
        return true;
    case SimulatorMessageKind::Control: {
        if (!controlDataConsistent(m.setup, m.data.size()))
            return false;
        const std::array<uint8_t, 8> setup = m.setup.bytes();
        w.bytes(setup.data(), setup.size());
        writeBlock(w, m.data);
        return true;
    }
    case SimulatorMessageKind::Paths:
        if (m.paths.size() > maxShortLength)
            return false;
        w.u16(static_cast<uint16_t>(m.paths.size()));
        for (const std::string &path : m.paths) {
            if (!writeText(w, path))
                return false;
        }
        return true;
    case SimulatorMessageKind::Status:
        w.u8(static_cast<uint8_t>(m.outcome));
        return true;
    case SimulatorMessageKind::PipeList:
        if (m.pipes.size() > 0xFF)
            return false;
        w.u8(static_cast<uint8_t>(m.outcome));
        w.u8(static_cast<uint8_t>(m.pipes.size()));
        for (const PipeInfo &pipe : m.pipes) {
            w.u8(static_cast<uint8_t>(pipe.type));
            w.u8(pipe.id);
            w.u16(pipe.maxPacketSize);
        }
        return true;
    case SimulatorMessageKind::ControlDone:
        if (!controlReplyConsistent(m.value, m.data.size()))
            return false;
        w.u8(static_cast<uint8_t>(m.outcome));
        w.u32(m.value);
        writeBlock(w, m.data);
        return true;
    case SimulatorMessageKind::BulkData:
        w.u8(static_cast<uint8_t>(m.outcome));
        writeBlock(w, m.data);
        return true;
    }
    return false;
}

bool decodePayload(ByteReader &r, SimulatorMessage &m)
{
    uint8_t kind = 0;
    if (!r.u8(kind))
        return false;
    m.kind = static_cast<SimulatorMessageKind>(kind);
    switch (m.kind) {
    case SimulatorMessageKind::List: {
        Guid &g = m.interfaceClass;
        return r.u32(g.data1) && r.u16(g.data2) && r.u16(g.data3) && r.bytes(g.data4.size(), g.data4.data());
    }
    case SimulatorMessageKind::Open:
        return readText(r, m.path);
    case SimulatorMessageKind::Pipes:
        return true;
    case SimulatorMessageKind::PipeTimeout:
    case SimulatorMessageKind::BulkRead:
        return r.u8(m.pipeId) && r.u32(m.value);
    case SimulatorMessageKind::Control:
        return readSetup(r, m.setup) && readBlock(r, m.data) && controlDataConsistent(m.setup, m.data.size());
    case SimulatorMessageKind::Paths: {
        uint16_t count = 0;
        if (!r.u16(count))
            return false;
        // Each path takes at least its two length bytes, so a count the payload cannot hold fails
        // on the reads below before anything large is built.
        for (uint16_t i = 0; i < count; ++i) {
            std::string path;
            if (!readText(r, path))
                return false;
            m.paths.push_back(std::move(path));
        }
        return true;
    }
    case SimulatorMessageKind::Status:
        return readOutcome(r, m.outcome);
    case SimulatorMessageKind::PipeList: {
        uint8_t count = 0;
        if (!readOutcome(r, m.outcome) || !r.u8(count))
            return false;
        for (uint8_t i = 0; i < count; ++i) {
            PipeInfo pipe;
            uint8_t type = 0;
            if (!r.u8(type) || type > static_cast<uint8_t>(PipeType::Interrupt) || !r.u8(pipe.id)
                || !r.u16(pipe.maxPacketSize))
                return false;
            pipe.type = static_cast<PipeType>(type);
            m.pipes.push_back(pipe);
        }
        return true;
    }
    case SimulatorMessageKind::ControlDone:
        return readOutcome(r, m.outcome) && r.u32(m.value) && readBlock(r, m.data)
               && controlReplyConsistent(m.value, m.data.size());
    case SimulatorMessageKind::BulkData:
        return readOutcome(r, m.outcome) && readBlock(r, m.data);
    }
    return false;
}

SimulatorMessage ofKind(SimulatorMessageKind kind)
{
    SimulatorMessage m;
    m.kind = kind;
    return m;
}

// A request about one pipe: its id and a number (a time-out, a length).
SimulatorMessage pipeRequest(SimulatorMessageKind kind, uint8_t pipeId, uint32_t value)
{
    SimulatorMessage m = ofKind(kind);
    m.pipeId = pipeId;
    m.value = value;
    return m;
}

// The end of a transfer: its outcome, the bytes moved when they are counted apart, the data.
SimulatorMessage transferReply(SimulatorMessageKind kind, Outcome outcome, uint32_t value,
                               std::vector<uint8_t> data)
{
    SimulatorMessage m = ofKind(kind);
    m.outcome = outcome;
    m.value = value;
    m.data = std::move(data);
    return m;
}

} // namespace

SimulatorMessage SimulatorMessage::list(const Guid &interfaceClass)
{
    SimulatorMessage m = ofKind(SimulatorMessageKind::List);
    m.interfaceClass = interfaceClass;
    return m;
}

SimulatorMessage SimulatorMessage::open(const std::string &path)
{
    SimulatorMessage m = ofKind(SimulatorMessageKind::Open);
    m.path = path;
    return m;
}

SimulatorMessage SimulatorMessage::pipesQuery()
{
    return ofKind(SimulatorMessageKind::Pipes);
}

SimulatorMessage SimulatorMessage::pipeTimeout(uint8_t pipeId, uint32_t milliseconds)
{
    return pipeRequest(SimulatorMessageKind::PipeTimeout, pipeId, milliseconds);
}

SimulatorMessage SimulatorMessage::control(const SetupPacket &setup, std::vector<uint8_t> outData)
{
    SimulatorMessage m = ofKind(SimulatorMessageKind::Control);
    m.setup = setup;
    m.data = std::move(outData);
    return m;
}

SimulatorMessage SimulatorMessage::bulkRead(uint8_t pipeId, uint32_t length)
{
    return pipeRequest(SimulatorMessageKind::BulkRead, pipeId, length);
}

SimulatorMessage SimulatorMessage::pathList(std::vector<std::string> paths)
{
    SimulatorMessage m = ofKind(SimulatorMessageKind::Paths);
    m.paths = std::move(paths);
    return m;
}

SimulatorMessage SimulatorMessage::status(Outcome outcome)
{
    SimulatorMessage m = ofKind(SimulatorMessageKind::Status);
    m.outcome = outcome;
    return m;
}

SimulatorMessage SimulatorMessage::pipeList(Outcome outcome, std::vector<PipeInfo> pipes)
{
    SimulatorMessage m = ofKind(SimulatorMessageKind::PipeList);
    m.outcome = outcome;
    m.pipes = std::move(pipes);
    return m;
}

SimulatorMessage SimulatorMessage::controlDone(Outcome outcome, uint32_t transferred,
                                               std::vector<uint8_t> inData)
{
    return transferReply(SimulatorMessageKind::ControlDone, outcome, transferred, std::move(inData));
}

SimulatorMessage SimulatorMessage::bulkData(Outcome outcome, std::vector<uint8_t> data)
{
    return transferReply(SimulatorMessageKind::BulkData, outcome, 0, std::move(data));
}

std::vector<uint8_t> encodeSimulatorFrame(const SimulatorMessage &message)
{
    ByteWriter w;
    w.u32(0);  // length, filled in below
    if (!encodePayload(message, w))
        return {};
    const std::size_t payload = w.size() - simulatorFrameHeaderSize;
    if (payload > simulatorMaxPayloadSize)
        return {};
    w.u32At(0, static_cast<uint32_t>(payload));
    return w.take();
}

SimulatorDecode decodeSimulatorFrame(const uint8_t *bytes, std::size_t size,
                                     SimulatorMessage *message, std::size_t *consumed)
{
    ByteReader frame(bytes, size);
    uint32_t length = 0;
    if (!frame.u32(length))
        return SimulatorDecode::Incomplete;
    if (length == 0 || length > simulatorMaxPayloadSize)
        return SimulatorDecode::Malformed;
    ByteReader reader = frame.sub(length);
    if (reader.failed())
        return SimulatorDecode::Incomplete;
    SimulatorMessage decoded;
    if (!decodePayload(reader, decoded) || !reader.atEnd())
        return SimulatorDecode::Malformed;
    *message = std::move(decoded);
    *consumed = simulatorFrameHeaderSize + length;
    return SimulatorDecode::Complete;
}

} // namespace usb
