// Bounds-checked little-endian reads.
#include "ByteReader.h"

#include <algorithm>

namespace usb {

ByteReader::ByteReader(const uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

ByteReader::ByteReader(const std::vector<uint8_t> &bytes) : ByteReader(bytes.data(), bytes.size()) {}

bool ByteReader::take(std::size_t count, const uint8_t *&start)
{
    if (m_failed || count > m_size - m_pos) {
        m_failed = true;
        return false;
    }
    start = m_data + m_pos;
    m_pos += count;
    return true;
}

bool ByteReader::u8(uint8_t &value)
{
    const uint8_t *p = nullptr;
    if (!take(1, p))
        return false;
    value = p[0];
    return true;
}

bool ByteReader::u16(uint16_t &value)
{
    const uint8_t *p = nullptr;
    if (!take(2, p))
        return false;
    value = static_cast<uint16_t>(p[0] | p[1] << 8);
    return true;
}

bool ByteReader::u32(uint32_t &value)
{
    const uint8_t *p = nullptr;
    if (!take(4, p))
        return false;
    value = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return true;
}

bool ByteReader::bytes(std::size_t count, uint8_t *out)
{
    const uint8_t *p = nullptr;
    if (!take(count, p))
        return false;
    std::copy(p, p + count, out);
    return true;
}

bool ByteReader::bytes(std::size_t count, std::vector<uint8_t> &out)
{
    const uint8_t *p = nullptr;
    if (!take(count, p))
        return false;
    out.assign(p, p + count);
    return true;
}

bool ByteReader::text(std::size_t count, std::string &out)
{
    const uint8_t *p = nullptr;
    if (!take(count, p))
        return false;
    out.assign(reinterpret_cast<const char *>(p), count);
    return true;
}

bool ByteReader::skip(std::size_t count)
{
    const uint8_t *p = nullptr;
    return take(count, p);
}

ByteReader ByteReader::sub(std::size_t count)
{
    const uint8_t *p = nullptr;
    if (!take(count, p)) {
        ByteReader none;
        none.m_failed = true;
        return none;
    }
    return ByteReader(p, count);
}

} // namespace usb
