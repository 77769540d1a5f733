// An interface claimed through libusb. libusb's synchronous calls may run on several threads at
// once; the only state of our own, the pipe time-outs, sits behind a mutex.
#include "LibusbDevice.h"

#include <libusb.h>

#include <algorithm>
#include <climits>

namespace usb {

LibusbDevice::LibusbDevice(std::shared_ptr<libusb_context> context, libusb_device_handle *handle,
                           int interfaceNumber, std::vector<PipeInfo> pipes)
    : context_(std::move(context)), handle_(handle), interfaceNumber_(interfaceNumber), pipes_(std::move(pipes))
{
}

LibusbDevice::~LibusbDevice()
{
    // Fails harmlessly when the device is gone; with auto-detach on, the kernel driver comes back.
    libusb_release_interface(handle_, interfaceNumber_);
    libusb_close(handle_);
}

Outcome LibusbDevice::outcomeOf(int libusbError)
{
    switch (libusbError) {
    case LIBUSB_SUCCESS: return Outcome::Ok;
    case LIBUSB_ERROR_TIMEOUT: return Outcome::Timeout;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return Outcome::NoDevice;
    default: return Outcome::IoError;
    }
}

std::optional<int> LibusbDevice::endpointCount()
{
    return static_cast<int>(pipes_.size());
}

std::optional<PipeInfo> LibusbDevice::queryPipe(int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= pipes_.size())
        return std::nullopt;
    return pipes_[static_cast<std::size_t>(index)];
}

Outcome LibusbDevice::setPipeTimeout(uint8_t pipeId, uint32_t milliseconds)
{
    const bool known = pipeId == 0 || std::any_of(pipes_.begin(), pipes_.end(),
                                                  [pipeId](const PipeInfo &p) { return p.id == pipeId; });
    if (!known)
        return Outcome::IoError;
    std::lock_guard<std::mutex> lock(mutex_);
    timeouts_[pipeId] = milliseconds;
    return Outcome::Ok;
}

unsigned LibusbDevice::timeoutOf(uint8_t pipeId) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = timeouts_.find(pipeId);
    if (it == timeouts_.end() || it->second == 0)
        return defaultTimeoutMs;
    return it->second;
}

Transfer LibusbDevice::control(const SetupPacket &setup, uint8_t *data)
{
    if (setup.length != 0 && data == nullptr)
        return Transfer::failure(Outcome::IoError);
    const int result = libusb_control_transfer(handle_, setup.requestType, setup.request, setup.value, setup.index,
                                               data, setup.length, timeoutOf(0));
    if (result < 0)
        return Transfer::failure(outcomeOf(result), static_cast<uint32_t>(result));
    return Transfer::success(static_cast<std::size_t>(result));
}

Transfer LibusbDevice::bulkRead(uint8_t pipeId, uint8_t *data, std::size_t length)
{
    // A read must never turn into a write on an OUT endpoint.
    if ((pipeId & LIBUSB_ENDPOINT_IN) == 0 || (length != 0 && data == nullptr))
        return Transfer::failure(Outcome::IoError);
    int transferred = 0;
    const int result = libusb_bulk_transfer(handle_, pipeId, data, static_cast<int>(std::min<std::size_t>(length, INT_MAX)),
                                            &transferred, timeoutOf(pipeId));
    return {outcomeOf(result), static_cast<std::size_t>(std::max(transferred, 0)),
            result < 0 ? static_cast<uint32_t>(result) : 0u};
}

} // namespace usb
