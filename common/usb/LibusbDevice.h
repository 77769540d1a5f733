// One claimed interface of a device opened through libusb: endpoints of alternate setting 0,
// per-pipe time-outs, control transfers on the default pipe and bulk reads.
#pragma once

#include "UsbDevice.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct libusb_context;
struct libusb_device_handle;

namespace usb {

class LibusbDevice final : public Device {
public:
    // Takes over an open handle whose interface `interfaceNumber` is claimed; keeps the context
    // alive for as long as the handle lives.
    LibusbDevice(std::shared_ptr<libusb_context> context, libusb_device_handle *handle,
                 int interfaceNumber, std::vector<PipeInfo> pipes);
    ~LibusbDevice() override;

    LibusbDevice(const LibusbDevice &) = delete;
    LibusbDevice &operator=(const LibusbDevice &) = delete;

    std::optional<int> endpointCount() override;
    std::optional<PipeInfo> queryPipe(int index) override;
    Outcome setPipeTimeout(uint8_t pipeId, uint32_t milliseconds) override;
    Transfer control(const SetupPacket &setup, uint8_t *data) override;
    Transfer bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length) override;

    // The single mapping of libusb error codes onto transfer outcomes.
    static Outcome outcomeOf(int libusbError);

    // Time-out of a pipe (the control pipe is 0) that was never given one, or was given 0: as
    // WinUSB's default for the control pipe, and so that no transfer can wait forever.
    static constexpr unsigned defaultTimeoutMs = 5000;

private:
    unsigned timeoutOf(uint8_t pipeId) const;

    std::shared_ptr<libusb_context> context_;
    libusb_device_handle *handle_;
    int interfaceNumber_;
    const std::vector<PipeInfo> pipes_;
    mutable std::mutex mutex_;                  // guards timeouts_
    std::map<uint8_t, unsigned> timeouts_;
};

} // namespace usb
