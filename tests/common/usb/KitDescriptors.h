// The standard and Microsoft OS descriptors a kit device's firmware answers with, built byte by
// byte for the usbfs bridge: the receptor (USB 2.1, MS OS 2.0), the module (USB 2.0, MS OS 1.0),
// and two devices that are no kit devices (a vendor device of another kind, a keyboard).
#pragma once

#include "EmulatedBus.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct DeviceDescriptors {
    std::vector<uint8_t> device;          // 18 bytes
    std::vector<uint8_t> configuration;   // the whole configuration, interfaces and endpoints
    std::vector<uint8_t> bos;             // empty: the BOS request stalls
    std::map<uint8_t, std::vector<uint8_t>> strings;   // by index; others stall

    // Vendor requests answered by the firmware itself (the MS OS descriptors), by request type,
    // request and index; every other request goes to the virtual device.
    struct VendorReply {
        uint8_t requestType = 0;
        uint8_t request = 0;
        uint16_t index = 0;
        std::vector<uint8_t> bytes;
    };
    std::vector<VendorReply> vendorReplies;

    uint16_t vendorId() const { return uint16_t(device[8] | device[9] << 8); }
    uint16_t productId() const { return uint16_t(device[10] | device[11] << 8); }
};

namespace kitdescriptors {

constexpr uint16_t testVendorId = 0x1209;
constexpr uint8_t receptorVendorCode = 0x21;
constexpr uint8_t moduleVendorCode = 0x20;

// `pipes` become the endpoints of interface 0; its class is `interfaceClass`.
std::vector<uint8_t> configuration(uint8_t interfaceClass, const std::vector<usb::PipeInfo> &pipes);
std::vector<uint8_t> deviceDescriptor(uint16_t bcdUsb, uint8_t deviceClass, uint16_t vendorId, uint16_t productId);

// MS OS 2.0: BOS with the platform capability, and a set declaring `guid` for interface 0.
DeviceDescriptors receptor(const std::vector<usb::PipeInfo> &pipes, const usb::Guid &guid);
// MS OS 1.0: the 0xEE string, an extended compat ID naming `compatibleId` for interface 0, and
// extended properties declaring `guid`.
DeviceDescriptors module(const std::vector<usb::PipeInfo> &pipes, const usb::Guid &guid,
                         const std::string &compatibleId = "WINUSB");
// A vendor-specific device without Microsoft OS descriptors.
DeviceDescriptors otherVendorDevice(uint16_t productId);
// A HID keyboard: nothing vendor-specific about it.
DeviceDescriptors keyboard();

} // namespace kitdescriptors
