// The worker that performs every module operation (identity, rename, memory state, erase, download,
// bootloader) one request at a time on a thread of its own, and reports back by signals.
#pragma once

#include "DownloadFailure.h"
#include "MemoryState.h"
#include "USBDeviceDesc.h"

#include <QList>
#include <QObject>
#include <QString>

class BackgroundThread;
class TrackObserver;

class USBCommunicator : public QObject
{
    Q_OBJECT

public:
    // Created without parent; starts its own thread and moves onto it.
    USBCommunicator();
    // Waits for the thread to leave its event loop (after the request in progress).
    ~USBCommunicator() override;

    // Told of every track that a download writes (see TrackDownloader); none by default. Set it
    // before queuing downloads: it is called on the worker thread.
    void setTrackObserver(TrackObserver *observer) { m_trackObserver = observer; }

signals:
    void deviceInfo(USBDeviceDesc dev);
    void eraseFinished(USBDeviceDesc dev);
    void eraseProgress(USBDeviceDesc dev, int percent);
    void eraseAllFinished(QList<USBDeviceDesc> dList);
    void saveFinished(USBDeviceDesc dev);
    void saveFailed(USBDeviceDesc dev);
    void saveAllFinished(QList<USBDeviceDesc> dList);
    void saveProgress(USBDeviceDesc dev, int percent);
    void memoryState(USBDeviceDesc dev, MemoryState state);
    // Why a download failed; sent just before its saveFailed.
    void saveFailure(USBDeviceDesc dev, DownloadFailure failure);

public slots:
    void getDeviceInfo(USBDeviceDesc dev);
    void setName(USBDeviceDesc dev, QString name);
    // Erases every sector whose first page is not blank, then ends the erase.
    void eraseData(USBDeviceDesc dev);
    void eraseData(QList<USBDeviceDesc> dList);
    // Downloads the module's tracks into CSV files in `outDirectory`.
    void saveData(USBDeviceDesc dev, QString outDirectory);
    // Downloads each module in turn; a failure does not stop the others.
    void saveData(QList<USBDeviceDesc> dList, QString outDirectory);
    void getMemoryState(USBDeviceDesc dev);
    void getMemoryState(QList<USBDeviceDesc> dList);
    void bootloaderMode(USBDeviceDesc dev);

private:
    BackgroundThread *m_thread = nullptr;
    TrackObserver *m_trackObserver = nullptr;
};
