// Event-loop thread of the programs' background objects.
#include "BackgroundThread.h"

void BackgroundThread::run()
{
    exec();
    m_loopReturned.store(true, std::memory_order_release);
}

void BackgroundThread::exitAndWait()
{
    exit(0);
    while (!isFinished() || !loopReturned())
        QThread::usleep(1);
}
