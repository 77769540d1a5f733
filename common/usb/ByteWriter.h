// Little-endian fields appended in order to a growing byte vector: the wire form of the simulator
// protocol is encoded with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace usb {

class ByteWriter {
public:
    void u8(uint8_t value);
    void u16(uint16_t value);
    void u32(uint32_t value);
    void bytes(const uint8_t *data, std::size_t size);
    void bytes(const std::vector<uint8_t> &data);
    void text(const std::string &text);
    // Overwrites four bytes already written at `position` (a length known only at the end).
    void u32At(std::size_t position, uint32_t value);

    std::size_t size() const { return m_bytes.size(); }
    // Everything written; the writer is left empty.
    std::vector<uint8_t> take();

private:
    std::vector<uint8_t> m_bytes;
};

} // namespace usb
