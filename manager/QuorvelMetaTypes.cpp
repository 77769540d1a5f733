// The values that queued signals carry between the window, detector and worker threads.
#include "QuorvelMetaTypes.h"

#include "DownloadFailure.h"
#include "MemoryState.h"
#include "USBDeviceDesc.h"

void registerQuorvelMetaTypes()
{
    qRegisterMetaType<USBDeviceDesc>("USBDeviceDesc");
    qRegisterMetaType<QList<USBDeviceDesc>>("QList<USBDeviceDesc>");
    qRegisterMetaType<MemoryState>("MemoryState");
    qRegisterMetaType<DownloadFailure>("DownloadFailure");
}
