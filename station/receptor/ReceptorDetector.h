// Finds the receptor the station works with (the first USB receptor present, or the simulated one)
// and announces every change; polls on a thread of its own so that opening never blocks the window.
#pragma once

#include "ReceptorDeviceDesc.h"
#include "UsbTypes.h"

#include <QObject>

class BackgroundThread;
class ReceptorDeviceGeneric;

class ReceptorDetector : public QObject
{
    Q_OBJECT

public:
    // Created without parent on the window thread; starts its own thread and moves onto it.
    ReceptorDetector();
    // Waits for the thread to leave its event loop, then gives up the held receptor.
    ~ReceptorDetector() override;

    // Device interface class of the receptor, {265D0004-043B-458E-B9AA-E5AD6E62320C}.
    static usb::Guid interfaceClass();

signals:
    void receptorConnected(ReceptorDeviceDesc dev);
    void receptorDisconnected();

public slots:
    // One poll: takes up, keeps or lets go of a receptor, and emits when that changes.
    void refresh();
    // Switch the simulated mode; the change takes effect at the next poll.
    void AddFakeReceptor();
    void RemoveFakeReceptor();

private:
    // Looks for the USB receptor; true when the held receptor changed.
    bool enumerate();
    void releaseReceptor();
    void announce();

    ReceptorDeviceGeneric *m_receptor = nullptr;  // carries the detector's own reference
    BackgroundThread *m_thread = nullptr;
    bool m_fakeMode = false;
};
