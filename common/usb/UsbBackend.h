// A source of devices: the platform's USB stack or the in-process emulated bus. Each backend owns
// the device paths it hands out, so a path always leads back to the backend that listed it.
#pragma once

#include "UsbDevice.h"

#include <memory>
#include <string>
#include <vector>

namespace usb {

class Backend {
public:
    virtual ~Backend() = default;

    virtual const char *name() const = 0;
    // Device paths of the present interfaces of a class, in enumeration order. Empty when the
    // enumeration fails. An interface that is present but whose path could not be read this time
    // is listed with an empty path, so that a caller holding it does not take it for unplugged.
    virtual std::vector<std::string> listPaths(const Guid &interfaceClass) = 0;
    // True when `path` is one of this backend's paths (by its form, not its presence).
    virtual bool ownsPath(const std::string &path) const = 0;
    // Opens the interface at `path`; null on failure, with the reason in `outcome` when given.
    virtual std::unique_ptr<Device> open(const std::string &path, Outcome *outcome = nullptr) = 0;
    // Devices that may be kit devices but that this user may not open, each described once (for
    // instance "bus 1, port 2, id 1209:0001") and then forgotten.
    virtual std::vector<std::string> takeAccessNotices() { return {}; }
};

} // namespace usb
