// The platform backend outside Windows: devices on the USB buses reached through libusb-1.0. A
// device belongs to an interface class when its Microsoft OS descriptors (2.0, else 1.0) declare the
// class GUID, as they do for WinUSB, or when its vendor:product id is declared in the kit's list
// file; its path names the bus, the port chain and the interface.
#pragma once

#include "KitDeclarations.h"
#include "MsOsDescriptors.h"
#include "UsbBackend.h"

#include <chrono>
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

    struct Options {
        // Time-out of each descriptor request while probing. A kit device answers within
        // milliseconds; one that does not is asked again at a later listing.
        unsigned probeTimeoutMs = 250;
        // Probes of one device that may fail before it counts as declaring nothing.
        int maxProbeAttempts = 3;
        // How long a device this user may not open is left alone before it is tried again.
        std::chrono::milliseconds accessRetry{30000};
        std::string declarationsPath = defaultKitDeclarationsPath;
    };

    static constexpr const char *pathPrefix = "usb:";

    // Without a usable libusb (no USB file system, as in a container) the backend lists and opens
    // nothing.
    LibusbBackend();
    explicit LibusbBackend(Options options);
    ~LibusbBackend() override;

    const char *name() const override { return "libusb"; }
    // Never waits on more than one unanswered probe request: devices left unprobed are probed at
    // the next listing.
    std::vector<std::string> listPaths(const Guid &interfaceClass) override;
    bool ownsPath(const std::string &path) const override;
    // Opens only the device the last listing saw at that place: one plugged in there since, at a
    // new address, is not it (NoDevice).
    std::unique_ptr<Device> open(const std::string &path, Outcome *outcome = nullptr) override;
    std::vector<std::string> takeAccessNotices() override;

    static std::string formatPath(const Location &location);
    // Only the exact form formatPath writes is accepted.
    static std::optional<Location> parsePath(const std::string &path);

private:
    using Clock = std::chrono::steady_clock;
    using Place = std::pair<uint8_t, std::vector<uint8_t>>;
    // One enumeration of a device: its place and the address the bus gave it. A device plugged
    // again gets a new address, so its descriptors are read again.
    using DeviceKey = std::tuple<uint8_t, std::vector<uint8_t>, uint8_t>;

    // What is known of one device.
    struct Entry {
        enum class State { Unknown, Known, Denied };
        State state = State::Unknown;
        std::vector<InterfaceGuid> guids;   // when Known
        int failedProbes = 0;
        Clock::time_point retryAt{};        // when Denied
        bool probing = false;               // a listing is probing it now
        bool noticed = false;               // its access notice was given
    };

    // Decides, without any transfer, what can be known of a device; true when it must be probed.
    bool classify(libusb_device *device, const std::vector<KitDeclaration> &declarations, Entry &entry) const;
    // Opens the device and reads its descriptors into the entry; the outcome of the request that
    // failed, Ok when the probe completed.
    Outcome probe(libusb_device *device, Entry &entry);
    void noteAccessDenied(const DeviceKey &key, libusb_device *device, Entry *entry);

    Options options_;
    std::shared_ptr<libusb_context> context_;
    std::mutex mutex_;                       // guards the members below, never held over a transfer
    std::map<DeviceKey, Entry> devices_;     // the devices of the last listing
    std::vector<std::string> notices_;
};

} // namespace usb
