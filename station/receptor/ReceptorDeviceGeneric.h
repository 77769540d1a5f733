// The receptor as the station programs against it: nine operations implemented by the USB receptor
// and by the simulated one, and an atomic reference count shared by every ReceptorDeviceDesc.
#pragma once

#include <QAtomicInt>
#include <QByteArray>

class ReceptorDeviceGeneric
{
public:
    ReceptorDeviceGeneric() = default;
    virtual ~ReceptorDeviceGeneric() = default;
    ReceptorDeviceGeneric(const ReceptorDeviceGeneric &) = delete;
    ReceptorDeviceGeneric &operator=(const ReceptorDeviceGeneric &) = delete;

    // 0 here, 1 for the USB receptor, 2 for the simulated one.
    qint32 kind() const { return m_kind; }

    // Commands: the outcome is never reported.
    virtual void sendAddBeacon(QByteArray serial) = 0;
    virtual void sendDelBeacon(QByteArray serial) = 0;
    // Reads return a new array owned by the caller, or null on failure.
    virtual QByteArray *readBeaconFlags() = 0;
    virtual QByteArray *readBeaconInfo(int slot) = 0;
    virtual void sendStartBeacon(QByteArray serial, int freq) = 0;
    virtual void sendStopBeacon(QByteArray serial) = 0;
    virtual void sendBootloader() = 0;
    virtual QByteArray *readBeaconQuality(int slot) = 0;
    // Fills 24 bytes of `buffer`; returns the bytes received or -1.
    virtual int readReceptorId(char *buffer) = 0;

    // Reference counting (ReceptorDeviceDesc): the holder whose release reaches 0 deletes.
    void addRef() { m_refCount.ref(); }
    void release()
    {
        if (!m_refCount.deref())
            delete this;
    }
    int refCount() const { return m_refCount.loadAcquire(); }

protected:
    explicit ReceptorDeviceGeneric(qint32 kind) : m_kind(kind) {}

private:
    QAtomicInt m_refCount{1};
    qint32 m_kind = 0;
};
