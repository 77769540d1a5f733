// Little-endian fields read in order from a byte range, never past its end: the wire forms of the
// simulator protocol and of the descriptors devices return are decoded with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace usb {

// A read that does not fit fails, and so does every read after it: a parser may chain its reads
// and decide once. The reader does not own the bytes.
class ByteReader {
public:
    ByteReader() = default;
    ByteReader(const uint8_t *data, std::size_t size);
    explicit ByteReader(const std::vector<uint8_t> &bytes);

    bool u8(uint8_t &value);
    bool u16(uint16_t &value);
    bool u32(uint32_t &value);
    // The next `count` bytes copied to `out`, which holds at least that many.
    bool bytes(std::size_t count, uint8_t *out);
    bool bytes(std::size_t count, std::vector<uint8_t> &out);
    bool text(std::size_t count, std::string &out);
    bool skip(std::size_t count);
    // A reader of the next `count` bytes, which this one passes over; a failed reader (and this one
    // failed) when fewer are left.
    ByteReader sub(std::size_t count);

    std::size_t remaining() const { return m_size - m_pos; }
    bool failed() const { return m_failed; }
    // Every byte read and no read failed.
    bool atEnd() const { return !m_failed && m_pos == m_size; }

private:
    // Passes over the next `count` bytes and points `start` at them; false when they are not all there.
    bool take(std::size_t count, const uint8_t *&start);

    const uint8_t *m_data = nullptr;
    std::size_t m_size = 0;
    std::size_t m_pos = 0;
    bool m_failed = false;
};

} // namespace usb
