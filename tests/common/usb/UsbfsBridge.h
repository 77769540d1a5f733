// The kernel's USB file system (usbfs) played on top of our virtual devices, for tests run under
// umockdev: each plugged device gets sysfs attributes, a /dev/bus/usb node and uevents, and every
// ioctl on its node (URBs submitted, reaped and discarded, interface claims, synchronous control
// transfers) is answered here as the kernel would, from the device's descriptors and its
// usb::VirtualDevice. The real libusb backend, unchanged, drives them.
#pragma once

#include "KitDescriptors.h"

#include <sys/types.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

class UsbfsBridge {
public:
    // One request as the device received it.
    struct Request {
        bool control = true;
        usb::SetupPacket setup;      // control requests
        uint8_t endpoint = 0;        // bulk transfers
        std::vector<uint8_t> out;    // data sent to the device
    };
    // What the device does with a request: answer it, stall it, or stay silent (the request stays
    // pending until the host discards it or the device is unplugged).
    enum class Action { Answer, Stall, Silent };
    using Script = std::function<Action(const Request &)>;

    // True when the process runs with umockdev's preload library (under umockdev-wrapper); the
    // tests skip otherwise.
    static bool preloaded();

    // The test bed, with the root hub of bus 1. It must exist before the process's first
    // libusb_init: libusb's udev monitor is shared by the whole process.
    UsbfsBridge();
    ~UsbfsBridge();
    UsbfsBridge(const UsbfsBridge &) = delete;
    UsbfsBridge &operator=(const UsbfsBridge &) = delete;

    // Plugs a device into a port of the root hub; returns the address the bus gave it (2, 3, ...:
    // a device plugged again gets a new one). `device` may be null for one that only answers
    // its descriptors.
    int plug(uint8_t port, DeviceDescriptors descriptors, std::shared_ptr<usb::VirtualDevice> device = nullptr);
    // Pulls a device out: its pending requests end with -ESHUTDOWN, every later ioctl on an open
    // node fails with ENODEV, and the "remove" uevent goes out.
    void unplug(int address);

    void setScript(int address, Script script);
    // Mode of the device's node (0600, 0000...); as for any file, root passes over it unless its
    // thread gave up CAP_DAC_OVERRIDE.
    void setNodeMode(int address, mode_t mode);

    // Every request that reached the device, in order.
    std::vector<Request> requests(int address) const;
    // Opens of the node, and ioctls of any kind on it.
    int opens(int address) const;
    int ioctls(int address) const;
    // Requests the host gave up on (discarded URBs).
    int discarded(int address) const;

    std::string sysfsPath(int address) const;   // e.g. /sys/devices/usb1/1-2
    std::string nodePath(int address) const;    // /dev/bus/usb/001/002

    struct Node;

private:
    Node &node(int address) const;

    UMockdevTestbed *testbed_ = nullptr;
    int nextAddress_ = 2;
    std::map<int, std::unique_ptr<Node>> nodes_;
};
