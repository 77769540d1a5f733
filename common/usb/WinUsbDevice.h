// One interface opened through WinUSB: the device file handle and the WinUSB interface handle,
// owned together and released together. Created by WinUsbBackend; compiled on Windows only.
#pragma once

#include "UsbDevice.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winusb.h>

namespace usb {

// The outcome of the Windows error code that GetLastError() holds now. Call it right after the
// failing function, before anything else can overwrite the code.
Outcome outcomeOfLastError();

class WinUsbDevice : public Device {
public:
    // Takes ownership of both handles, which must be valid.
    WinUsbDevice(HANDLE file, WINUSB_INTERFACE_HANDLE winUsb);
    ~WinUsbDevice() override;

    WinUsbDevice(const WinUsbDevice &) = delete;
    WinUsbDevice &operator=(const WinUsbDevice &) = delete;

    std::optional<int> endpointCount() override;
    std::optional<PipeInfo> queryPipe(int index) override;
    Outcome setPipeTimeout(uint8_t pipeId, uint32_t milliseconds) override;
    Transfer control(const SetupPacket &setup, uint8_t *data) override;
    Transfer bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length) override;

private:
    HANDLE m_file;
    WINUSB_INTERFACE_HANDLE m_winUsb;
};

} // namespace usb
