// The platform backend outside Windows: devices on the USB buses reached through libusb-1.0. A
// device belongs to an interface class when its Microsoft OS descriptors (2.0, else 1.0) declare the
// class GUID, as they do for WinUSB; its path names the bus, the port chain and the interface.
#pragma once

#include "MsOsDescriptors.h"
#include "UsbBackend.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>

struct libusb_context;
struct libusb_device;

namespace usb {

class LibusbBackend final : public Backend {
public:
    // Where an interface sits: "usb:1-2.3:0" is interface 0 of the device on port 3 of the hub on
    // port 2 of bus 1.
    struct Location {
        uint8_t bus = 0;
        std::vector<uint8_t> ports;
        uint8_t interfaceNumber = 0;

        bool operator<(const Location &other) const
        {
            return std::tie(bus, ports, interfaceNumber) < std::tie(other.bus, other.ports, other.interfaceNumber);
        }
    };

    static constexpr const char *pathPrefix = "usb:";

    // Without a usable libusb (no USB file system, as in a container) the backend lists and opens
    // nothing.
    LibusbBackend();
    ~LibusbBackend() override;

    const char *name() const override { return "libusb"; }
    std::vector<std::string> listPaths(const Guid &interfaceClass) override;
    bool ownsPath(const std::string &path) const override;
    std::unique_ptr<Device> open(const std::string &path, Outcome *outcome = nullptr) override;

    static std::string formatPath(const Location &location);
    // Only the exact form formatPath writes is accepted.
    static std::optional<Location> parsePath(const std::string &path);

private:
    // One enumeration of a device: its place and the address the bus gave it. A device plugged
    // again gets a new address, so its descriptors are read again.
    using DeviceKey = std::tuple<uint8_t, std::vector<uint8_t>, uint8_t>;

    // The interface GUIDs a device declares; nothing when it could not be opened to ask.
    std::optional<std::vector<InterfaceGuid>> probe(libusb_device *device);

    std::shared_ptr<libusb_context> context_;
    std::mutex mutex_;                                      // guards probed_ and serialises probing
    std::map<DeviceKey, std::vector<InterfaceGuid>> probed_;
};

} // namespace usb
