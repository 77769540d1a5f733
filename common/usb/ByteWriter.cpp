// Little-endian writes.
#include "ByteWriter.h"

#include <utility>

namespace usb {

void ByteWriter::u8(uint8_t value)
{
    m_bytes.push_back(value);
}

void ByteWriter::u16(uint16_t value)
{
    u8(static_cast<uint8_t>(value));
    u8(static_cast<uint8_t>(value >> 8));
}

void ByteWriter::u32(uint32_t value)
{
    u16(static_cast<uint16_t>(value));
    u16(static_cast<uint16_t>(value >> 16));
}

void ByteWriter::bytes(const uint8_t *data, std::size_t size)
{
    m_bytes.insert(m_bytes.end(), data, data + size);
}

void ByteWriter::bytes(const std::vector<uint8_t> &data)
{
    m_bytes.insert(m_bytes.end(), data.begin(), data.end());
}

void ByteWriter::text(const std::string &text)
{
    m_bytes.insert(m_bytes.end(), text.begin(), text.end());
}

void ByteWriter::u32At(std::size_t position, uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        m_bytes.at(position + i) = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> ByteWriter::take()
{
    return std::exchange(m_bytes, {});
}

} // namespace usb
