// The station's data folder, where each beacon's records files are written.
#pragma once

#include <QString>

// The user's Documents location followed by "/Korvane".
QString dataStorageDirectory();
