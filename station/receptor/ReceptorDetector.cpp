// Receptor detection: one poll per refresh() on the detector thread, switching between nothing
// held, the USB receptor and the simulated receptor.
#include "ReceptorDetector.h"

#include "ReceptorDevice.h"
#include "ReceptorDeviceFake.h"
#include "UsbAccess.h"

#include "BackgroundThread.h"

#include <QThread>

ReceptorDetector::ReceptorDetector() : QObject(nullptr)
{
    m_thread = new BackgroundThread;
    m_thread->start(QThread::InheritPriority);
    moveToThread(m_thread);
}

ReceptorDetector::~ReceptorDetector()
{
    // A poll in progress runs to its end before the event loop returns.
    m_thread->exitAndWait();
    delete m_thread;
    // Handles already emitted keep the receptor alive for as long as their holders need it.
    releaseReceptor();
}

usb::Guid ReceptorDetector::interfaceClass()
{
    return usb::Guid{0x265D0004, 0x043B, 0x458E, {0xB9, 0xAA, 0xE5, 0xAD, 0x6E, 0x62, 0x32, 0x0C}};
}

void ReceptorDetector::refresh()
{
    const bool fakeHeld = m_receptor && m_receptor->kind() == ReceptorDeviceFake::fakeKind;

    if (m_fakeMode) {
        if (fakeHeld)
            return;
        if (m_receptor) {
            releaseReceptor();
            emit receptorDisconnected();
        }
        m_receptor = new ReceptorDeviceFake;
        announce();
        return;
    }

    if (fakeHeld) {
        releaseReceptor();
        emit receptorDisconnected();
    }
    if (!enumerate())
        return;
    if (m_receptor)
        announce();
    else
        emit receptorDisconnected();
}

void ReceptorDetector::AddFakeReceptor()
{
    m_fakeMode = true;
}

void ReceptorDetector::RemoveFakeReceptor()
{
    m_fakeMode = false;
}

bool ReceptorDetector::enumerate()
{
    // A failed enumeration and an empty one both mean that no receptor is present.
    const std::vector<std::string> paths = usb::listDevicePaths(interfaceClass());
    if (paths.empty()) {
        if (!m_receptor)
            return false;
        releaseReceptor();
        return true;
    }
    // The held receptor stays as long as an interface of its class is present; only the first
    // interface is ever used.
    if (m_receptor)
        return false;
    // Its path could not be read this time: nothing changes, the next poll tries again.
    if (paths.front().empty())
        return false;
    m_receptor = new ReceptorDevice(QString::fromStdString(paths.front()));
    return true;
}

void ReceptorDetector::releaseReceptor()
{
    if (m_receptor) {
        m_receptor->release();
        m_receptor = nullptr;
    }
}

void ReceptorDetector::announce()
{
    // Each emitted handle is a reference of its own, dropped by whoever last holds a copy.
    emit receptorConnected(ReceptorDeviceDesc(m_receptor));
}
