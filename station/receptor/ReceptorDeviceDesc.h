// Value handle of a receptor object: copying takes a reference, destroying drops one, and the last
// holder deletes the receptor. Travels by copy in queued signals between the station's threads.
#pragma once

#include <QMetaType>

class ReceptorDeviceGeneric;

class ReceptorDeviceDesc
{
public:
    ReceptorDeviceDesc() = default;
    // Takes a new reference to `device` (null gives an empty handle).
    explicit ReceptorDeviceDesc(ReceptorDeviceGeneric *device);
    ReceptorDeviceDesc(const ReceptorDeviceDesc &other);
    ReceptorDeviceDesc &operator=(const ReceptorDeviceDesc &other);
    ~ReceptorDeviceDesc();

    ReceptorDeviceGeneric *device() const { return m_device; }
    ReceptorDeviceGeneric *operator->() const { return m_device; }
    bool isNull() const { return m_device == nullptr; }

private:
    ReceptorDeviceGeneric *m_device = nullptr;
};

Q_DECLARE_METATYPE(ReceptorDeviceDesc)
