// The Windows backend: device interface paths come from SetupAPI, devices are opened with
// CreateFileW and driven through WinUSB. Compiled on Windows only.
#pragma once

#include "UsbBackend.h"

namespace usb {

class WinUsbBackend : public Backend {
public:
    WinUsbBackend() = default;

    const char *name() const override;
    std::vector<std::string> listPaths(const Guid &interfaceClass) override;
    // Device interface paths have the form \\?\usb#vid_...#{class guid}.
    bool ownsPath(const std::string &path) const override;
    std::unique_ptr<Device> open(const std::string &path, Outcome *outcome = nullptr) override;
};

} // namespace usb
