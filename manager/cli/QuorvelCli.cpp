// quorvel-cli's operations. Every module request goes to the worker on its thread, and the runner
// waits in the event loop for the worker's signals, as the window does; the checks after an erase
// and a rename read the module back, since the worker reports no failure of either.
#include "QuorvelCli.h"

#include "GpxWriter.h"
#include "USBCommunicator.h"
#include "USBDetector.h"
#include "USBDevice.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>

#include <algorithm>

QuorvelCli::QuorvelCli(QTextStream &out, QTextStream &err) : m_out(out), m_err(err)
{
}

QuorvelCli::~QuorvelCli()
{
    stop();
}

int QuorvelCli::run(const QStringList &arguments)
{
    return run(CliCommand::parse(arguments));
}

int QuorvelCli::run(const CliCommand &command)
{
    if (!command.isValid()) {
        message(QStringLiteral("quorvel-cli: %1").arg(command.usageError));
        message(QStringLiteral("Try 'quorvel-cli --help'."));
        return UsageError;
    }
    if (command.action == CliCommand::Action::Help) {
        m_out << CliCommand::usage();
        m_out.flush();
        return Success;
    }
    if (command.action == CliCommand::Action::Download) {
        const QFileInfo directory(command.directory);
        if (!directory.isDir()) {
            message(directory.exists()
                        ? QStringLiteral("quorvel-cli: %1 is not a directory.").arg(command.directory)
                        : QStringLiteral("quorvel-cli: The directory %1 does not exist.").arg(command.directory));
            return UsageError;
        }
    }

    start();
    detect();
    int status = Success;
    switch (command.action) {
    case CliCommand::Action::List:
        status = list();
        break;
    case CliCommand::Action::Download:
        status = download(command);
        break;
    case CliCommand::Action::Erase:
    case CliCommand::Action::Rename:
    case CliCommand::Action::Bootloader: {
        const QList<USBDeviceDesc> modules = modulesWithSerial(command.serial);
        if (modules.isEmpty()) {
            status = DeviceFailure;
        } else if (command.action == CliCommand::Action::Erase) {
            status = erase(modules);
        } else {
            for (const USBDeviceDesc &module : modules) {
                const int one = command.action == CliCommand::Action::Rename ? rename(module, command.name)
                                                                             : bootloader(module);
                status = std::max(status, one);
            }
        }
        break;
    }
    case CliCommand::Action::Help:
        break;
    }
    stop();
    return status;
}

void QuorvelCli::start()
{
    // Worker first, detector second, as the window creates them.
    m_worker = std::make_unique<USBCommunicator>();
    m_detector = std::make_unique<USBDetector>();

    USBCommunicator *worker = m_worker.get();
    connect(this, &QuorvelCli::getDeviceInfo, worker, &USBCommunicator::getDeviceInfo);
    connect(this, &QuorvelCli::setName, worker, &USBCommunicator::setName);
    connect(this, &QuorvelCli::eraseData, worker, qOverload<QList<USBDeviceDesc>>(&USBCommunicator::eraseData));
    connect(this, &QuorvelCli::saveData, worker,
            qOverload<QList<USBDeviceDesc>, QString>(&USBCommunicator::saveData));
    connect(this, &QuorvelCli::getMemoryState, worker,
            qOverload<QList<USBDeviceDesc>>(&USBCommunicator::getMemoryState));
    connect(this, &QuorvelCli::bootloaderMode, worker, &USBCommunicator::bootloaderMode);

    connect(worker, &USBCommunicator::deviceInfo, this, &QuorvelCli::deviceInfo);
    connect(worker, &USBCommunicator::memoryState, this, &QuorvelCli::memoryState);
    connect(worker, &USBCommunicator::eraseProgress, this, &QuorvelCli::progress);
    connect(worker, &USBCommunicator::saveProgress, this, &QuorvelCli::progress);
    connect(worker, &USBCommunicator::eraseAllFinished, this, &QuorvelCli::eraseAllFinished);
    connect(worker, &USBCommunicator::saveFinished, this, &QuorvelCli::saveFinished);
    connect(worker, &USBCommunicator::saveFailure, this, &QuorvelCli::saveFailure);
    connect(worker, &USBCommunicator::saveFailed, this, &QuorvelCli::saveFailed);
    connect(worker, &USBCommunicator::saveAllFinished, this, &QuorvelCli::saveAllFinished);
    connect(m_detector.get(), &USBDetector::deviceAdded, this, &QuorvelCli::deviceAdded);
}

void QuorvelCli::stop()
{
    // Detector first, then the worker, as the window deletes them; the modules go with the last
    // descriptor.
    m_detector.reset();
    m_worker.reset();
    m_modules.clear();
    m_memoryStates.clear();
    m_deviceInfo = USBDeviceDesc();
    m_failed.clear();
}

void QuorvelCli::detect()
{
    m_modules.clear();
    // The pass runs on the detector's thread; its deviceAdded signals wait in this thread's queue
    // until they are delivered below.
    QMetaObject::invokeMethod(m_detector.get(), &USBDetector::updateDevices, Qt::BlockingQueuedConnection);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

QList<USBDeviceDesc> QuorvelCli::modulesWithSerial(const QString &serial)
{
    QList<USBDeviceDesc> found;
    for (const USBDeviceDesc &module : qAsConst(m_modules)) {
        if (module.serialNumber.compare(serial, Qt::CaseInsensitive) == 0)
            found << module;
    }
    if (found.isEmpty())
        message(QStringLiteral("quorvel-cli: No module with serial number %1.").arg(serial));
    return found;
}

QList<MemoryState> QuorvelCli::readMemoryStates(const QList<USBDeviceDesc> &modules)
{
    m_memoryStates.clear();
    emit getMemoryState(modules);
    // The list request answers once per module and sends nothing after the last one.
    bool done = modules.isEmpty();
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        done = m_memoryStates.size() >= modules.size();
    }
    QList<MemoryState> states;
    for (const USBDeviceDesc &module : modules) {
        const auto found = std::find_if(m_memoryStates.cbegin(), m_memoryStates.cend(),
                                        [&module](const QPair<USBDeviceDesc, MemoryState> &entry) {
                                            return entry.first.sameDevice(module);
                                        });
        states << (found == m_memoryStates.cend() ? MemoryState() : found->second);
    }
    return states;
}

void QuorvelCli::waitUntil(const bool &done)
{
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

int QuorvelCli::list()
{
    if (m_modules.isEmpty()) {
        message(QStringLiteral("No module found."));
        return Success;
    }
    const QList<MemoryState> states = readMemoryStates(m_modules);
    int status = Success;
    for (int i = 0; i < m_modules.size(); ++i) {
        const USBDeviceDesc &module = m_modules.at(i);
        const MemoryState &state = states.at(i);
        m_out << QStringLiteral("%1\t%2\t%3\thardware %4\tsoftware %5\t%6 / %7 bytes\t%8 records\n")
                     .arg(module.device->path(), module.serialNumber, module.name, module.hardwareVersion,
                          module.softwareVersion)
                     .arg(state.usedSize)
                     .arg(state.totalSize)
                     .arg(state.recordCount);
        // A module that answers reports its identity and a memory of some size.
        if (module.serialNumber.isEmpty() || state.totalSize == 0) {
            message(QStringLiteral("quorvel-cli: The module at %1 does not answer.").arg(module.device->path()));
            status = DeviceFailure;
        }
    }
    m_out.flush();
    return status;
}

int QuorvelCli::download(const CliCommand &command)
{
    QList<USBDeviceDesc> modules = m_modules;
    if (!command.serial.isEmpty()) {
        modules = modulesWithSerial(command.serial);
        if (modules.isEmpty())
            return DeviceFailure;
    } else if (modules.isEmpty()) {
        message(QStringLiteral("quorvel-cli: No module found."));
        return DeviceFailure;
    }

    GpxWriter gpx(QStringLiteral("quorvel-cli"));
    m_worker->setTrackObserver(command.gpx ? &gpx : nullptr);
    m_failed.clear();
    m_shownPercent.clear();
    m_allFinished = false;
    emit saveData(modules, command.directory);
    waitUntil(m_allFinished);
    m_worker->setTrackObserver(nullptr);

    int status = m_failed.isEmpty() ? Success : DeviceFailure;
    for (const QString &path : gpx.failedFiles()) {
        message(QStringLiteral("quorvel-cli: Could not write %1.").arg(path));
        status = DeviceFailure;
    }
    return status;
}

int QuorvelCli::erase(const QList<USBDeviceDesc> &modules)
{
    m_shownPercent.clear();
    m_allFinished = false;
    emit eraseData(modules);
    waitUntil(m_allFinished);

    // The worker does not report failed sector erases: an erased module holds no record.
    const QList<MemoryState> states = readMemoryStates(modules);
    int status = Success;
    for (int i = 0; i < modules.size(); ++i) {
        const MemoryState &state = states.at(i);
        if (state.totalSize == 0) {
            message(QStringLiteral("quorvel-cli: %1: the memory state cannot be read after the erase.")
                        .arg(describe(modules.at(i))));
            status = DeviceFailure;
        } else if (state.usedSize != 0 || state.recordCount != 0) {
            message(QStringLiteral("quorvel-cli: %1: erase failed, %2 bytes and %3 records remain.")
                        .arg(describe(modules.at(i)))
                        .arg(state.usedSize)
                        .arg(state.recordCount));
            status = DeviceFailure;
        } else {
            message(QStringLiteral("%1: erased.").arg(describe(modules.at(i))));
        }
    }
    return status;
}

int QuorvelCli::rename(const USBDeviceDesc &module, const QString &name)
{
    emit setName(module, name);
    // Read the identity back: the rename request itself reports nothing.
    m_deviceInfoReceived = false;
    emit getDeviceInfo(module);
    waitUntil(m_deviceInfoReceived);
    if (m_deviceInfo.name != name) {
        message(QStringLiteral("quorvel-cli: %1: rename failed, the module's name is \"%2\".")
                    .arg(describe(module), m_deviceInfo.name));
        return DeviceFailure;
    }
    message(QStringLiteral("%1: renamed to %2.").arg(describe(module), name));
    return Success;
}

int QuorvelCli::bootloader(const USBDeviceDesc &module)
{
    emit bootloaderMode(module);
    // The request reports nothing; wait until the worker has sent it before the worker goes away.
    QMetaObject::invokeMethod(m_worker.get(), [] {}, Qt::BlockingQueuedConnection);
    message(QStringLiteral("%1: switched to its bootloader.").arg(describe(module)));
    return Success;
}

void QuorvelCli::deviceAdded(USBDeviceDesc dev)
{
    m_modules << dev;
}

void QuorvelCli::deviceInfo(USBDeviceDesc dev)
{
    m_deviceInfo = dev;
    m_deviceInfoReceived = true;
}

void QuorvelCli::memoryState(USBDeviceDesc dev, MemoryState state)
{
    m_memoryStates << qMakePair(dev, state);
}

void QuorvelCli::progress(USBDeviceDesc dev, int percent)
{
    // A download reads a track's last sector to its end, past the used size: the count can go over
    // 100, the line stays at 100.
    const int shown = std::min(percent, 100);
    const auto last = m_shownPercent.constFind(dev.device);
    if (last != m_shownPercent.constEnd() && *last == shown)
        return;
    m_shownPercent[dev.device] = shown;
    message(QStringLiteral("%1: %2%").arg(describe(dev)).arg(shown));
}

void QuorvelCli::eraseAllFinished(QList<USBDeviceDesc>)
{
    m_allFinished = true;
}

void QuorvelCli::saveFinished(USBDeviceDesc dev)
{
    message(QStringLiteral("%1: download finished.").arg(describe(dev)));
}

void QuorvelCli::saveFailure(USBDeviceDesc, DownloadFailure failure)
{
    m_lastFailure = failure;
}

void QuorvelCli::saveFailed(USBDeviceDesc dev)
{
    m_failed << dev;
    const DownloadFailure failure = m_lastFailure;
    m_lastFailure = DownloadFailure();
    message(QStringLiteral("quorvel-cli: %1: download failed: %2; the files written so far are kept.")
                .arg(describe(dev), reason(failure)));
    if (failure.trackFile.isEmpty())
        return;
    message((failure.trackFileKept ? QStringLiteral("quorvel-cli: %1: incomplete track file: %2")
                                   : QStringLiteral("quorvel-cli: %1: track file not written: %2"))
                .arg(describe(dev), QDir::toNativeSeparators(failure.trackFile)));
}

QString QuorvelCli::reason(const DownloadFailure &failure)
{
    switch (failure.cause) {
    case DownloadFailure::Cause::ModuleUnplugged:
        return QStringLiteral("the module was unplugged");
    case DownloadFailure::Cause::ModuleTimeout:
        return QStringLiteral("the module stopped answering");
    case DownloadFailure::Cause::ReadError:
        return QStringLiteral("a read from the module failed");
    case DownloadFailure::Cause::DiskFull:
        return QStringLiteral("the disk is full");
    case DownloadFailure::Cause::FolderMissing:
        return QStringLiteral("the folder does not exist");
    case DownloadFailure::Cause::FolderNotWritable:
        return QStringLiteral("the folder cannot be written to");
    case DownloadFailure::Cause::FileNotWritable:
        return failure.systemMessage.isEmpty()
                   ? QStringLiteral("a track file cannot be written")
                   : QStringLiteral("a track file cannot be written (%1)").arg(failure.systemMessage);
    case DownloadFailure::Cause::None:
        break;
    }
    return QStringLiteral("unknown error");
}

void QuorvelCli::saveAllFinished(QList<USBDeviceDesc>)
{
    m_allFinished = true;
}

void QuorvelCli::message(const QString &text)
{
    m_err << text << '\n';
    m_err.flush();
}

QString QuorvelCli::describe(const USBDeviceDesc &dev)
{
    if (dev.serialNumber.isEmpty())
        return dev.device ? dev.device->path() : QString();
    return dev.name.isEmpty() ? dev.serialNumber : QStringLiteral("%1 (%2)").arg(dev.name, dev.serialNumber);
}
