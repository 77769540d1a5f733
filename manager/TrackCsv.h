// The CSV file of one downloaded track: its name, its header line and one line per position record,
// fields separated by ';' and lines ended by "\r\n".
#pragma once

#include <QByteArray>
#include <QString>

struct PositionRecord;

class TrackCsv
{
public:
    // "Temps;Latitude (degrés décimaux);...;VDOP\r\n" in UTF-8, whatever the system's encoding, so
    // that a file has the same bytes on every machine.
    static QByteArray headerLine();

    // Time "dd/MM/yyyy hh:mm:ss.zzz" (empty when invalid), latitude and longitude in decimal degrees
    // with 6 decimals, altitude with 1, speed with 2, PDOP, HDOP and VDOP with 1; NaN as "nan".
    static QByteArray line(const PositionRecord &record);

    // "<name>_<serial>_<date>_<time>.csv", with the texts of the module and of the sector header
    // that opened the track. Path separators, control characters and the other characters a file
    // name cannot hold become '_', so the name always stays a single entry of the chosen folder.
    static QString fileName(const QString &moduleName, const QString &serialNumber,
                            const QByteArray &headerDate, const QByteArray &headerTime);
};
