// The USB receptor: each of the nine operations is one vendor control request on the default pipe
// of the device opened at construction.
#pragma once

#include "ReceptorDeviceGeneric.h"
#include "UsbDevice.h"

#include <QString>
#include <memory>

class ReceptorDevice : public ReceptorDeviceGeneric
{
public:
    // Opens the device at once; a failed open leaves an object whose transfers all fail.
    explicit ReceptorDevice(const QString &path);
    ~ReceptorDevice() override;

    void sendAddBeacon(QByteArray serial) override;
    void sendDelBeacon(QByteArray serial) override;
    QByteArray *readBeaconFlags() override;
    QByteArray *readBeaconInfo(int slot) override;
    void sendStartBeacon(QByteArray serial, int freq) override;
    void sendStopBeacon(QByteArray serial) override;
    void sendBootloader() override;
    QByteArray *readBeaconQuality(int slot) override;
    int readReceptorId(char *buffer) override;

    QString path() const { return m_path; }
    bool isOpen() const { return m_device != nullptr; }

private:
    QString m_path;
    quint8 m_bulkInPipe = 0;
    std::unique_ptr<usb::Device> m_device;  // the file handle and WinUSB interface together
};
