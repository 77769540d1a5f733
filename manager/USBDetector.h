// Keeps the list of modules present on the USB bus and announces arrivals and departures; polls on a
// thread of its own so that opening modules never blocks the window.
#pragma once

#include "USBDeviceDesc.h"
#include "UsbTypes.h"

#include <QList>
#include <QObject>

class BackgroundThread;
class USBDevice;

class USBDetector : public QObject
{
    Q_OBJECT

public:
    // Created without parent; starts its own thread and moves onto it.
    USBDetector();
    // Waits for the thread to leave its event loop, then gives up the list's holds.
    ~USBDetector() override;

    // Device interface class of the modules, {86939D4C-A46D-4604-81DF-8BE24B211E48}.
    static usb::Guid interfaceClass();

signals:
    void deviceAdded(USBDeviceDesc dev);
    void deviceRemoved(USBDeviceDesc dev);

public slots:
    // One enumeration pass: modules gone are removed, new ones opened, read and added.
    void updateDevices();

private:
    QList<USBDevice *> m_devices;  // in order of arrival, each with the hold it was created with
    BackgroundThread *m_thread = nullptr;
};
