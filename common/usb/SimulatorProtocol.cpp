// Frame encoding and bounds-checked decoding of the simulator protocol.
#include "SimulatorProtocol.h"

#include <limits>

namespace usb {

namespace {

constexpr std::size_t maxShortLength = std::numeric_limits<uint16_t>::max();

class Writer {
public:
    void u8(uint8_t v) { m_bytes.push_back(v); }
    void u16(uint16_t v)
    {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v)
    {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void raw(const uint8_t *data, std::size_t size) { m_bytes.insert(m_bytes.end(), data, data + size); }
    // Texts carry a 16-bit length; false when the text is longer.
    bool text(const std::string &s)
    {
        if (s.size() > maxShortLength)
            return false;
        u16(static_cast<uint16_t>(s.size()));
        raw(reinterpret_cast<const uint8_t *>(s.data()), s.size());
        return true;
    }
    void block(const std::vector<uint8_t> &data)
    {
        u32(static_cast<uint32_t>(data.size()));
        raw(data.data(), data.size());
    }
    std::vector<uint8_t> &bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Reads fields from a payload; any read past its end fails and every later read fails too.
class Reader {
public:
    Reader(const uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    bool u8(uint8_t &v)
    {
        if (!take(1))
            return false;
        v = m_data[m_pos - 1];
        return true;
    }
    bool u16(uint16_t &v)
    {
        if (!take(2))
            return false;
        const uint8_t *p = m_data + m_pos - 2;
        v = static_cast<uint16_t>(p[0] | (p[1] << 8));
        return true;
    }
    bool u32(uint32_t &v)
    {
        if (!take(4))
            return false;
        const uint8_t *p = m_data + m_pos - 4;
        v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        return true;
    }
    bool text(std::string &s)
    {
        uint16_t length = 0;
        if (!u16(length) || !take(length))
            return false;
        s.assign(reinterpret_cast<const char *>(m_data + m_pos - length), length);
        return true;
    }
    bool block(std::vector<uint8_t> &data)
    {
        uint32_t length = 0;
        if (!u32(length) || !take(length))
            return false;
        data.assign(m_data + m_pos - length, m_data + m_pos);
        return true;
    }
    bool setup(SetupPacket &packet)
    {
        if (!take(8))
            return false;
        std::array<uint8_t, 8> bytes;
        std::copy(m_data + m_pos - 8, m_data + m_pos, bytes.begin());
        packet = SetupPacket::fromBytes(bytes);
        return true;
    }
    bool outcome(Outcome &o)
    {
        uint8_t v = 0;
        if (!u8(v) || v > static_cast<uint8_t>(Outcome::IoError))
            return false;
        o = static_cast<Outcome>(v);
        return true;
    }
    bool atEnd() const { return !m_failed && m_pos == m_size; }

private:
    bool take(std::size_t n)
    {
        if (m_failed || n > m_size - m_pos) {
            m_failed = true;
            return false;
        }
        m_pos += n;
        return true;
    }

    const uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

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

bool encodePayload(const SimulatorMessage &m, Writer &w)
{
    w.u8(static_cast<uint8_t>(m.kind));
    switch (m.kind) {
    case SimulatorMessageKind::List:
        w.u32(m.interfaceClass.data1);
        w.u16(m.interfaceClass.data2);
        w.u16(m.interfaceClass.data3);
        w.raw(m.interfaceClass.data4.data(), m.interfaceClass.data4.size());
        return true;
    case SimulatorMessageKind::Open:
        return w.text(m.path);
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
        w.raw(setup.data(), setup.size());
        w.block(m.data);
        return true;
    }
    case SimulatorMessageKind::Paths:
        if (m.paths.size() > maxShortLength)
            return false;
        w.u16(static_cast<uint16_t>(m.paths.size()));
        for (const std::string &path : m.paths) {
            if (!w.text(path))
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
        w.block(m.data);
        return true;
    case SimulatorMessageKind::BulkData:
        w.u8(static_cast<uint8_t>(m.outcome));
        w.block(m.data);
        return true;
    }
    return false;
}

bool decodePayload(Reader &r, SimulatorMessage &m)
{
    uint8_t kind = 0;
    if (!r.u8(kind))
        return false;
    m.kind = static_cast<SimulatorMessageKind>(kind);
    switch (m.kind) {
    case SimulatorMessageKind::List: {
        Guid &g = m.interfaceClass;
        if (!r.u32(g.data1) || !r.u16(g.data2) || !r.u16(g.data3))
            return false;
        for (uint8_t &b : g.data4) {
            if (!r.u8(b))
                return false;
        }
        return true;
    }
    case SimulatorMessageKind::Open:
        return r.text(m.path);
    case SimulatorMessageKind::Pipes:
        return true;
    case SimulatorMessageKind::PipeTimeout:
    case SimulatorMessageKind::BulkRead:
        return r.u8(m.pipeId) && r.u32(m.value);
    case SimulatorMessageKind::Control:
        return r.setup(m.setup) && r.block(m.data) && controlDataConsistent(m.setup, m.data.size());
    case SimulatorMessageKind::Paths: {
        uint16_t count = 0;
        if (!r.u16(count))
            return false;
        // Each path takes at least its two length bytes, so a count the payload cannot hold fails
        // on the reads below before anything large is built.
        for (uint16_t i = 0; i < count; ++i) {
            std::string path;
            if (!r.text(path))
                return false;
            m.paths.push_back(std::move(path));
        }
        return true;
    }
    case SimulatorMessageKind::Status:
        return r.outcome(m.outcome);
    case SimulatorMessageKind::PipeList: {
        uint8_t count = 0;
        if (!r.outcome(m.outcome) || !r.u8(count))
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
        return r.outcome(m.outcome) && r.u32(m.value) && r.block(m.data)
               && controlReplyConsistent(m.value, m.data.size());
    case SimulatorMessageKind::BulkData:
        return r.outcome(m.outcome) && r.block(m.data);
    }
    return false;
}

} // namespace

SimulatorMessage SimulatorMessage::list(const Guid &interfaceClass)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::List;
    m.interfaceClass = interfaceClass;
    return m;
}

SimulatorMessage SimulatorMessage::open(const std::string &path)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::Open;
    m.path = path;
    return m;
}

SimulatorMessage SimulatorMessage::pipesQuery()
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::Pipes;
    return m;
}

SimulatorMessage SimulatorMessage::pipeTimeout(uint8_t pipeId, uint32_t milliseconds)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::PipeTimeout;
    m.pipeId = pipeId;
    m.value = milliseconds;
    return m;
}

SimulatorMessage SimulatorMessage::control(const SetupPacket &setup, std::vector<uint8_t> outData)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::Control;
    m.setup = setup;
    m.data = std::move(outData);
    return m;
}

SimulatorMessage SimulatorMessage::bulkRead(uint8_t pipeId, uint32_t length)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::BulkRead;
    m.pipeId = pipeId;
    m.value = length;
    return m;
}

SimulatorMessage SimulatorMessage::pathList(std::vector<std::string> paths)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::Paths;
    m.paths = std::move(paths);
    return m;
}

SimulatorMessage SimulatorMessage::status(Outcome outcome)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::Status;
    m.outcome = outcome;
    return m;
}

SimulatorMessage SimulatorMessage::pipeList(Outcome outcome, std::vector<PipeInfo> pipes)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::PipeList;
    m.outcome = outcome;
    m.pipes = std::move(pipes);
    return m;
}

SimulatorMessage SimulatorMessage::controlDone(Outcome outcome, uint32_t transferred,
                                               std::vector<uint8_t> inData)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::ControlDone;
    m.outcome = outcome;
    m.value = transferred;
    m.data = std::move(inData);
    return m;
}

SimulatorMessage SimulatorMessage::bulkData(Outcome outcome, std::vector<uint8_t> data)
{
    SimulatorMessage m;
    m.kind = SimulatorMessageKind::BulkData;
    m.outcome = outcome;
    m.data = std::move(data);
    return m;
}

std::vector<uint8_t> encodeSimulatorFrame(const SimulatorMessage &message)
{
    Writer w;
    w.u32(0);  // length, filled in below
    if (!encodePayload(message, w))
        return {};
    std::vector<uint8_t> &frame = w.bytes();
    const std::size_t payload = frame.size() - simulatorFrameHeaderSize;
    if (payload > simulatorMaxPayloadSize)
        return {};
    for (std::size_t i = 0; i < simulatorFrameHeaderSize; ++i)
        frame[i] = static_cast<uint8_t>(payload >> (8 * i));
    return std::move(frame);
}

SimulatorDecode decodeSimulatorFrame(const uint8_t *bytes, std::size_t size,
                                     SimulatorMessage *message, std::size_t *consumed)
{
    if (size < simulatorFrameHeaderSize)
        return SimulatorDecode::Incomplete;
    const uint32_t length = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16
                            | uint32_t(bytes[3]) << 24;
    if (length == 0 || length > simulatorMaxPayloadSize)
        return SimulatorDecode::Malformed;
    if (size - simulatorFrameHeaderSize < length)
        return SimulatorDecode::Incomplete;

    Reader reader(bytes + simulatorFrameHeaderSize, length);
    SimulatorMessage decoded;
    if (!decodePayload(reader, decoded) || !reader.atEnd())
        return SimulatorDecode::Malformed;
    *message = std::move(decoded);
    *consumed = simulatorFrameHeaderSize + length;
    return SimulatorDecode::Complete;
}

} // namespace usb
