// Value handle of a module: holds one count on its USBDevice (taken when built or copied, released when
// destroyed) and the identity texts read from it. Travels by copy between Quorvel's threads.
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

class USBDevice;

class USBDeviceDesc
{
public:
    USBDeviceDesc() = default;
    // Takes one hold on `device` (if any); the texts start empty.
    explicit USBDeviceDesc(USBDevice *device);
    USBDeviceDesc(const USBDeviceDesc &other);
    USBDeviceDesc &operator=(const USBDeviceDesc &other);
    ~USBDeviceDesc();

    // Two descriptors denote the same module when they refer to the same device object.
    bool sameDevice(const USBDeviceDesc &other) const { return device == other.device; }

    USBDevice *device = nullptr;
    QString serialNumber;
    QString name;
    QString hardwareVersion;
    QString softwareVersion;
};

Q_DECLARE_METATYPE(USBDeviceDesc)
Q_DECLARE_METATYPE(QList<USBDeviceDesc>)
