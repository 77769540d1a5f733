// Module requests on the worker thread. An erase walks the 512 sectors of 64 KiB and skips those
// whose first page reads blank; a download is TrackDownloader over the module's page reads.
#include "USBCommunicator.h"

#include "TrackDownloader.h"
#include "USBDevice.h"

#include "BackgroundThread.h"
#include "LogCategories.h"

#include <QThread>

#include <algorithm>

namespace
{
constexpr int sectorCount = 512;
constexpr quint32 pagesPerSector = 256;
constexpr int totalPages = sectorCount * int(pagesPerSector);
}

USBCommunicator::USBCommunicator() : QObject(nullptr)
{
    m_thread = new BackgroundThread;
    m_thread->start(QThread::InheritPriority);
    moveToThread(m_thread);
}

USBCommunicator::~USBCommunicator()
{
    m_thread->exitAndWait();
    delete m_thread;
}

void USBCommunicator::getDeviceInfo(USBDeviceDesc dev)
{
    qCDebug(lcWorker, "getDeviceInfo %s\n", qUtf8Printable(dev.serialNumber));
    emit deviceInfo(dev.device->getDeviceInfo());
}

void USBCommunicator::setName(USBDeviceDesc dev, QString name)
{
    qCDebug(lcWorker, "setName %s -> %s\n", qUtf8Printable(dev.serialNumber), qUtf8Printable(name));
    dev.device->setName(name);
}

void USBCommunicator::eraseData(USBDeviceDesc dev)
{
    qCDebug(lcWorker, "eraseData %s\n", qUtf8Printable(dev.serialNumber));
    emit eraseProgress(dev, 0);
    char page[USBDevice::pageSize];
    for (int sector = 0; sector < sectorCount; ++sector) {
        const quint32 firstPage = quint32(sector) * pagesPerSector;
        const bool blank = dev.device->readPage(page, firstPage, sizeof page) == USBDevice::pageSize
            && std::all_of(page, page + sizeof page,
                           [](char byte) { return static_cast<unsigned char>(byte) == 0xFF; });
        // A sector whose first page cannot be read is erased as well.
        if (!blank) {
            qCDebug(lcWorker, "Erasing sector at 0x%08x\n", firstPage * USBDevice::pageSize);
            dev.device->eraseSector(firstPage);
            qCDebug(lcWorker, "Done\n");
        }
        emit eraseProgress(dev, int((sector + 1) * int(pagesPerSector) * 100.0 / totalPages));
    }
    dev.device->endErase();
    emit eraseFinished(dev);
}

void USBCommunicator::eraseData(QList<USBDeviceDesc> dList)
{
    for (const USBDeviceDesc &dev : qAsConst(dList))
        eraseData(dev);
    emit eraseAllFinished(dList);
}

void USBCommunicator::saveData(USBDeviceDesc dev, QString outDirectory)
{
    qCDebug(lcWorker, "saveData %s -> %s\n", qUtf8Printable(dev.serialNumber),
            qUtf8Printable(outDirectory));
    emit saveProgress(dev, 0);
    USBDevice *device = dev.device;
    const MemoryState memory = device->getMemoryInfo();
    TrackDownloader downloader(dev.name, dev.serialNumber, outDirectory);
    downloader.setObserver(m_trackObserver);
    usb::Outcome readOutcome = usb::Outcome::Ok;
    const TrackDownloader::Result result = downloader.run(
        [device, &readOutcome](char *buffer, quint32 pageIndex, int capacity) {
            return device->readPage(buffer, pageIndex, capacity, &readOutcome);
        },
        memory.usedSize, [this, &dev](int percent) { emit saveProgress(dev, percent); });
    if (result == TrackDownloader::Result::Finished) {
        emit saveFinished(dev);
        return;
    }
    DownloadFailure failure = downloader.failure();
    if (failure.cause == DownloadFailure::Cause::ReadError) {
        if (readOutcome == usb::Outcome::NoDevice)
            failure.cause = DownloadFailure::Cause::ModuleUnplugged;
        else if (readOutcome == usb::Outcome::Timeout)
            failure.cause = DownloadFailure::Cause::ModuleTimeout;
    }
    emit saveFailure(dev, failure);
    emit saveFailed(dev);
}

void USBCommunicator::saveData(QList<USBDeviceDesc> dList, QString outDirectory)
{
    for (const USBDeviceDesc &dev : qAsConst(dList))
        saveData(dev, outDirectory);
    emit saveAllFinished(dList);
}

void USBCommunicator::getMemoryState(USBDeviceDesc dev)
{
    qCDebug(lcWorker, "getMemoryState %s\n", qUtf8Printable(dev.serialNumber));
    emit memoryState(dev, dev.device->getMemoryInfo());
}

void USBCommunicator::getMemoryState(QList<USBDeviceDesc> dList)
{
    for (const USBDeviceDesc &dev : qAsConst(dList))
        getMemoryState(dev);
}

void USBCommunicator::bootloaderMode(USBDeviceDesc dev)
{
    dev.device->enterBootloader();
}
