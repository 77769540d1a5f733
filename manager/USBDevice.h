// One GPS logger module plugged in by USB: its vendor requests on the control pipe and its 256-byte
// flash pages on the bulk IN pipe. Shared by USBDeviceDesc handles that count their holds.
#pragma once

#include "MemoryState.h"
#include "USBDeviceDesc.h"
#include "usb/UsbDevice.h"

#include <QAtomicInt>
#include <QString>
#include <memory>

class USBDevice
{
public:
    // Opens the module at once; a failed open leaves an object on which every request fails.
    explicit USBDevice(const QString &path);
    ~USBDevice();
    USBDevice(const USBDevice &) = delete;
    USBDevice &operator=(const USBDevice &) = delete;

    static constexpr int pageSize = 256;

    QString path() const { return m_path; }

    USBDeviceDesc getDeviceInfo();
    MemoryState getMemoryInfo();
    void setName(const QString &name);
    // Reads page `pageIndex` into `buffer` (at least `capacity` = 256 bytes); 256, or -1 on failure,
    // with the reason in `outcome` when given.
    int readPage(char *buffer, quint32 pageIndex, int capacity, usb::Outcome *outcome = nullptr);
    void eraseSector(quint32 pageIndex);
    bool endErase();
    bool enterBootloader();

    // An erase whose status stays busy this many polls (10 ms apart, about 30 s) counts as failed.
    static constexpr int defaultErasePollLimit = 3000;
    void setErasePollLimit(int polls) { m_erasePollLimit = polls; }

    // Holder counting, atomic across threads; the release that reaches 0 destroys the object.
    void take();
    void release();
    int holders() const { return m_holders.loadAcquire(); }

private:
    QString m_path;
    QAtomicInt m_holders{1};
    quint8 m_bulkPipe = 0;
    std::unique_ptr<usb::Device> m_device;  // the file handle and WinUSB interface together
    int m_erasePollLimit = defaultErasePollLimit;

    usb::Transfer controlTransfer(quint8 requestType, quint8 request, quint16 length, quint8 *data);
};
