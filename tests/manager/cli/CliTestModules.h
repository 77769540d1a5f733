// The two virtual modules that the quorvel-cli tests download, and the track files expected from them
// (in data/). ALPHA holds a V1 track over two sectors (the second a continuation) and a V5 track with
// blank fields and an empty slot; BRAVO one track south and east of Greenwich.
#pragma once

#include "ModuleFlashWriter.h"
#include "VirtualDevices.h"
#include "VirtualModule.h"

#include <QStringList>

#include <limits>

namespace clitest
{
constexpr const char *alphaSerial = "0A1B2C3D4E5F";
constexpr const char *alphaName = "ALPHA";
constexpr const char *bravoSerial = "112233445566";
constexpr const char *bravoName = "BRAVO";

// ALPHA's first track: six fixes in pages 1 and 2 (four, then two), two more after the continuation
// header of sector 1. The page of the fifth fix is page 2.
inline void logAlpha(VirtualModule &module)
{
    module.setVersions(1, 4, 2, 0);
    ModuleFlashWriter writer(module);
    using Style = ModuleFlashWriter::CoordinateStyle;
    writer.startTrack("150321", "081500.000", "001");
    ModuleFlashWriter::Fix fix = testdevices::fixAt(2021, 3, 15, 8, 15);
    fix.altitude = 545.4;
    fix.speed = 12.5;
    fix.pdop = 1.8;
    fix.hdop = 1.0;
    fix.vdop = 1.5;
    for (int i = 0; i < 6; ++i) {
        fix.second = i;
        fix.millisecond = 250 * i % 1000;
        fix.latitude += 0.0125;
        fix.altitude += 1.5;
        writer.appendFix(fix, Style::V1);
    }
    writer.continueTrack();
    for (int i = 6; i < 8; ++i) {
        fix.second = i;
        fix.longitude += 0.5;
        writer.appendFix(fix, Style::V1);
    }

    writer.startTrack("150321", "093000.000", "005");
    fix.minute = 30;
    fix.latitude = 4807.038;
    fix.longitude = 1131.0;
    fix.second = 0;
    fix.millisecond = 0;
    writer.appendFix(fix, Style::V5);
    fix.second = 5;
    fix.altitude = std::numeric_limits<double>::quiet_NaN();  // written blank
    writer.appendFix(fix, Style::V5);
    writer.appendEmptySlot();
    fix.second = 10;
    fix.altitude = -12.5;
    fix.speed = 0;
    writer.appendFix(fix, Style::V5);
}

inline void logBravo(VirtualModule &module)
{
    module.setVersions(2, 1, 3, 7);
    ModuleFlashWriter writer(module);
    writer.startTrack("010121", "000000.000", "001");
    ModuleFlashWriter::Fix fix;
    fix.year = 2021;
    fix.latitude = 3351.5;
    fix.latitudeHemisphere = 'S';
    fix.longitude = 15112.75;
    fix.longitudeHemisphere = 'E';
    fix.altitude = 3.0;
    for (int i = 0; i < 5; ++i) {
        fix.second = 2 * i;
        fix.speed = i * 1.25;
        fix.longitude += 0.001;
        writer.appendFix(fix, ModuleFlashWriter::CoordinateStyle::V5);
    }
}

// Base names (without ".csv" or ".gpx") of the tracks, in download order.
inline QStringList alphaTracks()
{
    return {"ALPHA_0A1B2C3D4E5F_150321_081500.000", "ALPHA_0A1B2C3D4E5F_150321_093000.000"};
}

inline QStringList bravoTracks()
{
    return {"BRAVO_112233445566_010121_000000.000"};
}
} // namespace clitest
