// Text forms of GUIDs and the wire form of setup packets.
#include "UsbTypes.h"

#include <cstdio>

namespace usb {

const char *outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Ok: return "ok";
    case Outcome::Timeout: return "timeout";
    case Outcome::NoDevice: return "no device";
    case Outcome::IoError: return "I/O error";
    }
    return "?";
}

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads `digits` hexadecimal digits at `pos`; false if any is not one.
bool readHex(std::string_view text, std::size_t pos, int digits, uint64_t &out)
{
    out = 0;
    for (int i = 0; i < digits; ++i) {
        const int v = hexValue(text[pos + i]);
        if (v < 0)
            return false;
        out = (out << 4) | static_cast<uint64_t>(v);
    }
    return true;
}
} // namespace

std::optional<Guid> Guid::parse(std::string_view text)
{
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-')
        return std::nullopt;
    Guid g;
    uint64_t v = 0;
    if (!readHex(text, 0, 8, v))
        return std::nullopt;
    g.data1 = static_cast<uint32_t>(v);
    if (!readHex(text, 9, 4, v))
        return std::nullopt;
    g.data2 = static_cast<uint16_t>(v);
    if (!readHex(text, 14, 4, v))
        return std::nullopt;
    g.data3 = static_cast<uint16_t>(v);
    static const std::size_t bytePos[8] = {19, 21, 24, 26, 28, 30, 32, 34};
    for (int i = 0; i < 8; ++i) {
        if (!readHex(text, bytePos[i], 2, v))
            return std::nullopt;
        g.data4[i] = static_cast<uint8_t>(v);
    }
    return g;
}

std::string Guid::toString() const
{
    char buf[39];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(data1), data2, data3, data4[0], data4[1], data4[2], data4[3],
                  data4[4], data4[5], data4[6], data4[7]);
    return buf;
}

bool Guid::operator==(const Guid &other) const
{
    return data1 == other.data1 && data2 == other.data2 && data3 == other.data3 && data4 == other.data4;
}

std::array<uint8_t, 8> SetupPacket::bytes() const
{
    return {requestType,
            request,
            static_cast<uint8_t>(value & 0xFF),
            static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(index & 0xFF),
            static_cast<uint8_t>(index >> 8),
            static_cast<uint8_t>(length & 0xFF),
            static_cast<uint8_t>(length >> 8)};
}

SetupPacket SetupPacket::fromBytes(const std::array<uint8_t, 8> &b)
{
    SetupPacket p;
    p.requestType = b[0];
    p.request = b[1];
    p.value = static_cast<uint16_t>(b[2] | (b[3] << 8));
    p.index = static_cast<uint16_t>(b[4] | (b[5] << 8));
    p.length = static_cast<uint16_t>(b[6] | (b[7] << 8));
    return p;
}

} // namespace usb
