// One 64-byte text position record of a module's flash, decoded: UTC time, position in the
// degrees×100 + minutes form with hemisphere letters, altitude, speed and the three DOP values.
#pragma once

#include "GpsCoords.h"

#include <QDateTime>

struct PositionRecord
{
    static constexpr int size = 64;

    QDateTime time;      // UTC; invalid when the date or the time field does not parse
    GpsCoords coords;    // NaN latitude or longitude when the field does not read as a number
    double altitude = 0; // metres; NaN (as the other four) when the field is not a number
    double speed = 0;
    double pdop = 0;
    double hdop = 0;
    double vdop = 0;

    // Decodes `size` bytes. Logs the coordinate style of each axis ("LAT is V1 style\n", ...) and
    // the time as hhmmss.zzz. Never fails: bad fields become NaN or an invalid time.
    static PositionRecord decode(const char *record);
};
