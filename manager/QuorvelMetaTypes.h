// Registration of the manager's cross-thread values, done first thing in main.
#pragma once

// Registers USBDeviceDesc, QList<USBDeviceDesc> and MemoryState, in that order, then the
// DownloadFailure that explains a failed download.
void registerQuorvelMetaTypes();
