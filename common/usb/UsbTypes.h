// Plain values of the USB access layer: interface class GUIDs, setup packets, pipe descriptions and
// the closed set of transfer outcomes every backend maps its own errors onto.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace usb {

// The only outcomes protocol code ever sees; each backend maps its OS errors onto them once.
enum class Outcome { Ok, Timeout, NoDevice, IoError };

const char *outcomeName(Outcome outcome);

// A device interface class GUID, such as {265D0004-043B-458E-B9AA-E5AD6E62320C}.
struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    // Accepts the registry form with or without braces, any letter case. Nothing on malformed text.
    static std::optional<Guid> parse(std::string_view text);
    // Upper-case registry form with braces.
    std::string toString() const;

    bool operator==(const Guid &other) const;
    bool operator!=(const Guid &other) const { return !(*this == other); }
};

// The standard 8-byte USB setup packet. Bit 7 of requestType set means device to host.
struct SetupPacket {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;

    bool isIn() const { return (requestType & 0x80) != 0; }
    // Wire form, little-endian words: C0 53 00 00 03 00 38 00 for requestType 0xC0, request 0x53,
    // index 3, length 56.
    std::array<uint8_t, 8> bytes() const;
    static SetupPacket fromBytes(const std::array<uint8_t, 8> &bytes);
};

// Result of one transfer: the outcome, how many bytes the data stage moved and, for a failure, the
// platform's own error code (GetLastError on Windows, the libusb error number elsewhere, 0 when
// there is none). Protocol code decides on the outcome alone; the code is for its logs.
struct Transfer {
    Outcome outcome = Outcome::IoError;
    std::size_t transferred = 0;
    uint32_t systemError = 0;

    bool ok() const { return outcome == Outcome::Ok; }
    static Transfer success(std::size_t n) { return {Outcome::Ok, n, 0}; }
    static Transfer failure(Outcome o, uint32_t systemError = 0) { return {o, 0, systemError}; }
};

enum class PipeType { Control, Isochronous, Bulk, Interrupt };

// One endpoint of alternate setting 0, as WinUSB's pipe information describes it.
struct PipeInfo {
    PipeType type = PipeType::Control;
    uint8_t id = 0;  // endpoint address; bit 7 set for IN endpoints
    uint16_t maxPacketSize = 0;
};

} // namespace usb
