// Shared pieces of the fault-injection sweeps: the fault kinds swept, a message handler that keeps the
// per-transfer debug output quiet while counting device opens and module destructions, and a fence
// that tells when a worker thread has run everything queued to it so far.
#pragma once

#include "EmulatedBus.h"

#include <QLoggingCategory>
#include <QObject>
#include <QSignalSpy>
#include <QString>

#include <array>
#include <atomic>
#include <string>

namespace sweep
{
struct KindName
{
    usb::FaultKind kind;
    const char *name;
};

// Every transfer of an operation is made to fail in turn in each of these ways.
constexpr std::array<KindName, 3> faultKinds = {{
    {usb::FaultKind::Fail, "fail"},
    {usb::FaultKind::Timeout, "timeout"},
    {usb::FaultKind::Unplug, "unplug"},
}};

// Counted by the quiet handler, from whichever thread writes the line.
inline std::atomic<int> devicesOpened{0};   // "Open\n": every receptor or module object opens once
inline std::atomic<int> modulesDestroyed{0};  // "USBDevice %p : destructor called\n"
inline std::atomic<int> eraseFailures{0};    // "Erasing failed\n"
inline QtMessageHandler previousHandler = nullptr;

// Thousands of runs would otherwise print every take, release and transfer failure.
inline void quietHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type != QtDebugMsg) {
        previousHandler(type, context, message);
        return;
    }
    if (message == QLatin1String("Open\n"))
        ++devicesOpened;
    else if (message.endsWith(QLatin1String(" : destructor called\n")))
        ++modulesDestroyed;
    else if (message == QLatin1String("Erasing failed\n"))
        ++eraseFailures;
}

inline void installQuietLog()
{
    // The counted lines belong to categories that are off by default.
    QLoggingCategory::setFilterRules(
        QStringLiteral("kit.usb.debug=true\nquorvel.module.debug=true"));
    previousHandler = qInstallMessageHandler(quietHandler);
}

// The `n`-th transfer to `path` (counted from the moment it is armed) goes wrong as `kind` says.
inline usb::Fault faultAt(usb::FaultKind kind, uint64_t n, const std::string &path)
{
    usb::Fault fault;
    fault.kind = kind;
    fault.atTransfer = n;
    fault.path = path;
    return fault;
}

// Lives on the test thread. The worker hands the fence back through this thread's queue, so every
// signal the worker emitted before it has been delivered here once the fence is reached.
class Fence : public QObject
{
    Q_OBJECT

public:
    // False when the worker did not get there within `timeoutMs` (a hung operation).
    bool pass(QObject *worker, int timeoutMs = 30000)
    {
        QSignalSpy spy(this, &Fence::reached);
        Fence *self = this;
        QMetaObject::invokeMethod(
            worker,
            [self] { QMetaObject::invokeMethod(self, [self] { emit self->reached(); }, Qt::QueuedConnection); },
            Qt::QueuedConnection);
        return spy.wait(timeoutMs);
    }

signals:
    void reached();
};
} // namespace sweep
