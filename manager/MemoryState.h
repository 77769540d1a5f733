// The module's memory counters, as its 12-byte memory information record carries them.
#pragma once

#include <QMetaType>

struct MemoryState
{
    qint32 totalSize = 0;   // bytes
    qint32 usedSize = 0;    // bytes
    qint32 recordCount = 0;
};

Q_DECLARE_METATYPE(MemoryState)
