// The command runner of quorvel-cli: one detector pass, then the requested operation through the
// module worker, the same detector and worker objects and the same requests as the window uses.
// Results go to `out`, messages and progress to `err`.
#pragma once

#include "CliCommand.h"
#include "DownloadFailure.h"
#include "MemoryState.h"
#include "USBDeviceDesc.h"

#include <QList>
#include <QObject>
#include <QMap>
#include <QPair>
#include <QString>

#include <memory>

class QTextStream;
class USBCommunicator;
class USBDetector;

class QuorvelCli : public QObject
{
    Q_OBJECT

public:
    enum Status { Success = 0, DeviceFailure = 1, UsageError = 2 };

    // Runs on a thread with an event loop (the application's); `out` and `err` outlive the runner.
    QuorvelCli(QTextStream &out, QTextStream &err);
    ~QuorvelCli() override;

    // Parses and runs; returns the exit status.
    int run(const QStringList &arguments);
    int run(const CliCommand &command);

signals:
    // Requests to the worker, queued to its thread.
    void getDeviceInfo(USBDeviceDesc dev);
    void setName(USBDeviceDesc dev, QString name);
    void eraseData(QList<USBDeviceDesc> dList);
    void saveData(QList<USBDeviceDesc> dList, QString outDirectory);
    void getMemoryState(QList<USBDeviceDesc> dList);
    void bootloaderMode(USBDeviceDesc dev);

private slots:
    void deviceAdded(USBDeviceDesc dev);
    void deviceInfo(USBDeviceDesc dev);
    void memoryState(USBDeviceDesc dev, MemoryState state);
    void progress(USBDeviceDesc dev, int percent);
    void eraseAllFinished(QList<USBDeviceDesc> dList);
    void saveFinished(USBDeviceDesc dev);
    void saveFailure(USBDeviceDesc dev, DownloadFailure failure);
    void saveFailed(USBDeviceDesc dev);
    void saveAllFinished(QList<USBDeviceDesc> dList);

private:
    int list();
    int download(const CliCommand &command);
    int erase(const QList<USBDeviceDesc> &modules);
    int rename(const USBDeviceDesc &module, const QString &name);
    int bootloader(const USBDeviceDesc &module);

    void start();
    void stop();
    void detect();
    // The detected modules with this serial number (case ignored); a message when there is none.
    QList<USBDeviceDesc> modulesWithSerial(const QString &serial);
    // One memory state per module, in the order of `modules`.
    QList<MemoryState> readMemoryStates(const QList<USBDeviceDesc> &modules);
    // Lets the worker's queued signals in until `done` is true.
    void waitUntil(const bool &done);
    void message(const QString &text);

    static QString describe(const USBDeviceDesc &dev);
    // The cause of a failed download, in a few words.
    static QString reason(const DownloadFailure &failure);

    QTextStream &m_out;
    QTextStream &m_err;
    std::unique_ptr<USBCommunicator> m_worker;
    std::unique_ptr<USBDetector> m_detector;

    // What the detector and the worker reported back.
    QList<USBDeviceDesc> m_modules;
    QList<QPair<USBDeviceDesc, MemoryState>> m_memoryStates;
    USBDeviceDesc m_deviceInfo;
    bool m_deviceInfoReceived = false;
    bool m_allFinished = false;
    QList<USBDeviceDesc> m_failed;
    DownloadFailure m_lastFailure;  // why the download that fails next failed
    QMap<USBDevice *, int> m_shownPercent;
};
