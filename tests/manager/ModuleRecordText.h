// Test helpers that lay out module flash content by hand: 64-byte position records from their
// fixed-width fields, and sector header pages.
#pragma once

#include <QByteArray>
#include <QList>

namespace moduletext
{
// Fields of one position record, each exactly its width: date 6, time 10, latitude 9, longitude 10,
// speed 5, altitude 7, PDOP 5, HDOP 5, VDOP 5, plus the two hemisphere letters.
struct Fields
{
    QByteArray date = "061220";
    QByteArray time = "093015.000";
    QByteArray latitude = "4807.0380";
    char latHemisphere = 'N';
    QByteArray longitude = "01131.0000";
    char lonHemisphere = 'E';
    QByteArray speed = "  0.0";
    QByteArray altitude = "  100.0";
    QByteArray pdop = "  1.0";
    QByteArray hdop = "  1.0";
    QByteArray vdop = "  1.0";
};

// The 64 record bytes; an empty QByteArray when a field has the wrong width.
inline QByteArray record(const Fields &f)
{
    if (f.date.size() != 6 || f.time.size() != 10 || f.latitude.size() != 9
        || f.longitude.size() != 10 || f.speed.size() != 5 || f.altitude.size() != 7
        || f.pdop.size() != 5 || f.hdop.size() != 5 || f.vdop.size() != 5)
        return QByteArray();
    return f.date + f.time + f.latitude + f.latHemisphere + f.longitude + f.lonHemisphere + f.speed
        + f.altitude + f.pdop + f.hdop + f.vdop;
}

// A 256-byte sector header page: '*' (or `mark`), date, time, frequency, track-start byte, then
// erased flash.
inline QByteArray headerPage(const QByteArray &date, const QByteArray &time,
                             const QByteArray &frequency, char trackStart, char mark = '*')
{
    QByteArray page(256, char(0xFF));
    page[0] = mark;
    page.replace(1, 6, date.leftJustified(6, '\0', true));
    page.replace(7, 10, time.leftJustified(10, '\0', true));
    page.replace(17, 3, frequency.leftJustified(3, '\0', true));
    page[20] = trackStart;
    return page;
}

// A 256-byte data page from up to four records; missing or empty slots stay erased (0xFF).
inline QByteArray dataPage(const QList<QByteArray> &slots)
{
    QByteArray page(256, char(0xFF));
    for (int i = 0; i < slots.size() && i < 4; ++i) {
        if (!slots.at(i).isEmpty())
            page.replace(64 * i, 64, slots.at(i));
    }
    return page;
}
}
