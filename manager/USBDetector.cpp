// Module detection: every pass opens each present module afresh and matches it against the list by
// device path; a known module's second handle is closed at once.
#include "USBDetector.h"

#include "USBDevice.h"
#include "UsbAccess.h"

#include "BackgroundThread.h"
#include "LogCategories.h"

#include <QThread>

#include <algorithm>

namespace
{
// A device of `devices` with this path, or null.
USBDevice *findByPath(const QList<USBDevice *> &devices, const QString &path)
{
    const auto found = std::find_if(devices.begin(), devices.end(),
                                    [&path](const USBDevice *device) { return device->path() == path; });
    return found == devices.end() ? nullptr : *found;
}
}

USBDetector::USBDetector() : QObject(nullptr)
{
    m_thread = new BackgroundThread;
    m_thread->start(QThread::InheritPriority);
    moveToThread(m_thread);
}

USBDetector::~USBDetector()
{
    // A pass in progress runs to its end before the event loop returns.
    m_thread->exitAndWait();
    delete m_thread;
    // Descriptors already emitted keep their modules alive for as long as their holders need them.
    for (USBDevice *device : qAsConst(m_devices))
        device->release();
}

usb::Guid USBDetector::interfaceClass()
{
    return usb::Guid{0x86939D4C, 0xA46D, 0x4604, {0x81, 0xDF, 0x8B, 0xE2, 0x4B, 0x21, 0x1E, 0x48}};
}

void USBDetector::updateDevices()
{
    qCDebug(lcDetector, "updateDevices started\n");

    QList<USBDevice *> present;
    for (const std::string &path : usb::listDevicePaths(interfaceClass())) {
        // A module whose path could not be read is not found in this pass.
        if (!path.empty())
            present.append(new USBDevice(QString::fromStdString(path)));
    }

    for (int i = 0; i < m_devices.size();) {
        USBDevice *device = m_devices.at(i);
        if (findByPath(present, device->path())) {
            ++i;
            continue;
        }
        m_devices.removeAt(i);
        emit deviceRemoved(USBDeviceDesc(device));
        device->release();
    }

    for (USBDevice *device : qAsConst(present)) {
        if (findByPath(m_devices, device->path())) {
            // A second handle to a module already listed.
            delete device;
            continue;
        }
        m_devices.append(device);
        emit deviceAdded(device->getDeviceInfo());
    }

    qCDebug(lcDetector, "updateDevices done\n");
}
