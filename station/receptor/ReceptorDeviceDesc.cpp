// Reference-counted handle of a receptor object; the count itself lives in ReceptorDeviceGeneric
// and changes atomically, since handles are copied and dropped on several threads.
#include "ReceptorDeviceDesc.h"

#include "ReceptorDeviceGeneric.h"

ReceptorDeviceDesc::ReceptorDeviceDesc(ReceptorDeviceGeneric *device) : m_device(device)
{
    if (m_device)
        m_device->addRef();
}

ReceptorDeviceDesc::ReceptorDeviceDesc(const ReceptorDeviceDesc &other) : m_device(other.m_device)
{
    if (m_device)
        m_device->addRef();
}

ReceptorDeviceDesc &ReceptorDeviceDesc::operator=(const ReceptorDeviceDesc &other)
{
    // Take the new reference before dropping the old one, so that assigning a handle to itself
    // (or to another handle of the same receptor) never deletes the receptor on the way.
    ReceptorDeviceGeneric *previous = m_device;
    m_device = other.m_device;
    if (m_device)
        m_device->addRef();
    if (previous)
        previous->release();
    return *this;
}

ReceptorDeviceDesc::~ReceptorDeviceDesc()
{
    if (m_device)
        m_device->release();
}
