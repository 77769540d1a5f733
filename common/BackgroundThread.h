// The thread a background object (detector or worker) creates and moves itself onto. Besides Qt's own
// finished state it records, with an atomic our tools can see, that its event loop has returned, so
// the owner's wait orders everything the thread did before the owner deletes what it used.
#pragma once

#include <QThread>
#include <atomic>

class BackgroundThread : public QThread
{
public:
    using QThread::QThread;

    // True once run() has left its event loop; everything the thread did happens before.
    bool loopReturned() const { return m_loopReturned.load(std::memory_order_acquire); }

    // Asks the event loop to exit with code 0 and waits, polling every microsecond, until the slot in
    // progress (if any) has returned and the thread has finished.
    void exitAndWait();

protected:
    void run() override;

private:
    std::atomic<bool> m_loopReturned{false};
};
