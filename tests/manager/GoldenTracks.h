// The flash content behind the expected track files in data/: the layout both the download test and
// the download through real USB write into their module.
#pragma once

#include "ModuleRecordText.h"

namespace goldentracks
{
using moduletext::Fields;
using moduletext::dataPage;
using moduletext::headerPage;
using moduletext::record;

inline Fields fields(const char *date, const char *time, const char *lat, char latH, const char *lon, char lonH,
              const char *speed, const char *alt, const char *pdop, const char *hdop, const char *vdop)
{
    Fields f;
    f.date = date;
    f.time = time;
    f.latitude = lat;
    f.latHemisphere = latH;
    f.longitude = lon;
    f.lonHemisphere = lonH;
    f.speed = speed;
    f.altitude = alt;
    f.pdop = pdop;
    f.hdop = hdop;
    f.vdop = vdop;
    return f;
}

// Two tracks: a V1 track over sectors 0 and 1 (the second a continuation) and a V5 track in
// sector 2; sector 3 is erased, so the track in sector 4 is never reached. Used size 514 pages.
template <typename SetPage>
void writeTwoTracks(SetPage image)
{
    image(0, headerPage("061220", "093015.000", "001", '1'));
    image(1, dataPage({
        record(fields("061220", "093016.000", "4807.0380", 'N', "01131.0000", 'W', " 12.5", "  545.4", "  1.8", "  1.0", "  1.5")),
        record(fields("061220", "093017.000", "4807.0400", 'N', "01131.0200", 'W', "  0.0", "       ", "  1.8", "  1.0", "  1.5")),
        record(fields("061220", "093018.000", "4807.0380", 'S', "01131.0000", 'e', "  1.2", "  546.0", "  2.0", "  1.1", "  1.7")),
        record(fields("061220", "          ", "4807.0380", 'n', "01131.0000", 'W', "  1.0", "  547.0", "  2.0", "  1.1", "  ---")),
    }));
    image(2, dataPage({
        QByteArray(),
        record(fields("061220", "093020.5  ", "4807.0380", 'N', "01131.0000", 'W', "  0.5", " 1000.0", "  9.9", "  9.9", "  9.9")),
        record(fields("061220", "093021.000", "0000.0000", 'N', "00000.0000", 'W', "  0.0", "   -5.5", " 12.3", "  0.8", "  0.6")),
    }));
    image(256, headerPage("061220", "093015.000", "001", '0'));
    image(257, dataPage({
        record(fields("311299", "235959.999", "4807.0380", 'N', "01131.0000", 'W', "  2.0", "  550.0", "  1.0", "  1.0", "  1.0")),
    }));
    image(512, headerPage("311299", "235959.500", "005", '1'));
    image(513, dataPage({
        record(fields("311299", "235959.500", "480703800", 'N', "0113100000", 'W', "  3.2", "  -12.5", "  2.0", " 1.25", "  0.9")),
        record(fields("010100", "000000.000", "003000000", 'S', "1795999999", 'E', "  0.0", "    0.0", "  1.0", "  1.0", "  1.0")),
        record(fields("010100", "000001.000", "48O703800", 'N', "0113100000", 'W', "  0.0", "    0.0", "  1.0", "  1.0", "  1.0")),
        record(fields("010100", "000002.000", "480703800", 'N', "0113100000", 'W', " 99.9", " 1234.5", " 99.9", " 99.9", " 99.9")),
    }));
    image(1024, headerPage("010121", "000000.000", "001", '1'));
    image(1025, dataPage({record(Fields())}));
}
constexpr qint32 twoTracksUsedSize = 0x20000 + 2 * 256;

} // namespace goldentracks
