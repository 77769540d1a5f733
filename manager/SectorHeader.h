// The header page that opens every 64 KiB sector of a module's flash: whether the sector holds logged
// data, whether a new track starts there, and the track's start date, start time and frequency texts.
#pragma once

#include <QByteArray>

struct SectorHeader
{
    static constexpr int sectorPages = 256;     // pages of 256 bytes per 64 KiB sector
    static constexpr int usedBytes = 21;        // only the start of the page is meaningful

    bool hasData = false;      // byte 0 is '*'; anything else ends the logged data
    bool trackStart = false;   // byte 20 is '1'; otherwise the sector continues the previous track
    QByteArray date;           // bytes 1-6 as stored, up to a zero byte
    QByteArray time;           // bytes 7-16 as stored, up to a zero byte
    QByteArray frequency;      // bytes 17-19 as stored, up to a zero byte

    // Reads the first `usedBytes` bytes of `page`.
    static SectorHeader parse(const char *page);
};
