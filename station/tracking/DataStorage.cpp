// The station's data folder, under the user's Documents location.
#include "DataStorage.h"

#include <QStandardPaths>

QString dataStorageDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
           + QStringLiteral("/Korvane");
}
