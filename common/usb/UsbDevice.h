// One opened device interface: the file handle and the WinUSB interface of the Windows backend,
// a claimed interface with libusb, or a connection to a virtual device on the emulated bus.
#pragma once

#include "UsbTypes.h"

namespace usb {

class Device {
public:
    virtual ~Device() = default;

    // Number of endpoints of alternate setting 0 of the interface; nothing when the query fails.
    virtual std::optional<int> endpointCount() = 0;
    // Endpoint `index` (0-based) of alternate setting 0; nothing when the query fails.
    virtual std::optional<PipeInfo> queryPipe(int index) = 0;
    // Transfer time-out for one pipe, in milliseconds.
    virtual Outcome setPipeTimeout(uint8_t pipeId, uint32_t milliseconds) = 0;

    // Synchronous control transfer on the default pipe. `data` holds setup.length bytes: sent when
    // the packet is host to device, filled when device to host (it may be null when length is 0).
    virtual Transfer control(const SetupPacket &setup, uint8_t *data) = 0;
    // Synchronous bulk read of at most `length` bytes from an IN pipe, bounded by the pipe's time-out.
    virtual Transfer bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length) = 0;
};

} // namespace usb
