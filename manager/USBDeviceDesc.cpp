// Holder counting of the module handle: every descriptor that refers to a device holds one count.
#include "USBDeviceDesc.h"

#include "USBDevice.h"

USBDeviceDesc::USBDeviceDesc(USBDevice *device)
    : device(device)
{
    if (device)
        device->take();
}

USBDeviceDesc::USBDeviceDesc(const USBDeviceDesc &other)
    : device(other.device)
    , serialNumber(other.serialNumber)
    , name(other.name)
    , hardwareVersion(other.hardwareVersion)
    , softwareVersion(other.softwareVersion)
{
    if (device)
        device->take();
}

USBDeviceDesc &USBDeviceDesc::operator=(const USBDeviceDesc &other)
{
    if (this == &other)
        return *this;
    // Take the new hold before dropping the old one: both may be the same device.
    if (other.device)
        other.device->take();
    USBDevice *previous = device;
    device = other.device;
    serialNumber = other.serialNumber;
    name = other.name;
    hardwareVersion = other.hardwareVersion;
    softwareVersion = other.softwareVersion;
    if (previous)
        previous->release();
    return *this;
}

USBDeviceDesc::~USBDeviceDesc()
{
    if (device)
        device->release();
}
