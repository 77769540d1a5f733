// Finding which device interface classes a USB device declares, over any control channel: the
// libusb backend's open handle, or the udev helper's usbfs file. A device is asked only when one of
// its interfaces is vendor-specific, since WinUSB functions always are.
#pragma once

#include "MsOsDescriptors.h"

#include <functional>
#include <optional>
#include <vector>

namespace usb {

// Sends one control request on the default pipe; `data` holds setup.length bytes.
using ControlChannel = std::function<Transfer(const SetupPacket &setup, uint8_t *data)>;

// What a probe learnt. `complete` is false when a request failed part-way: the guids are then not
// the device's whole answer and the probe should be tried again later.
struct ProbeResult {
    bool complete = false;
    Outcome failure = Outcome::Ok;     // outcome of the request that failed
    std::vector<InterfaceGuid> guids;
};

// Reads the MS OS 2.0 descriptors of a USB 2.01 or later device, else the 1.0 ones (as Windows does:
// a device with 2.0 descriptors is not asked for the 1.0 ones). With 1.0 descriptors only the
// interfaces whose extended compat ID is "WINUSB" count. Stops at the first failed request.
ProbeResult probeInterfaceGuids(uint16_t bcdUsb, const ControlChannel &control);

// The parts of a device's descriptors (device descriptor, then its first configuration, as sysfs
// and usbfs give them) that decide whether and how to probe it.
struct DeviceSummary {
    uint16_t bcdUsb = 0;
    uint8_t deviceClass = 0;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::vector<uint8_t> interfaceNumbers;        // every interface, in descriptor order
    std::vector<uint8_t> vendorInterfaceNumbers;  // those of class 0xFF (any alternate setting)
};

// Nothing when the device descriptor is short or of the wrong type; a configuration cut short
// yields the interfaces before the cut.
std::optional<DeviceSummary> summariseDescriptors(const std::vector<uint8_t> &descriptors);

constexpr uint8_t vendorSpecificClass = 0xFF;

} // namespace usb
