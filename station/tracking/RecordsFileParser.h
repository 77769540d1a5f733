// Reads the bytes of a station records file back into rows: the header line, then one row per
// dated report, "dd/MM/yyyy hh:mm:ss;latitude;longitude;rssi;snr" with line ends "\r\n" (a bare
// "\n", as an editor may leave, is taken too). A pure function of the bytes; a row that does not
// read is reported by its line number and the rest are still read.
#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <limits>
#include <vector>

class RecordsFileParser
{
public:
    struct Row
    {
        qint64 seconds;   // UTC, since the epoch; noTime when the report had no readable date
        double latitude;  // signed decimal degrees; NaN when the report had no position
        double longitude; // likewise
        qint32 rssi;      // dBm
        qint32 snr;       // dB
    };
    static constexpr qint64 noTime = std::numeric_limits<qint64>::min();

    enum class Kind {
        Records,    // a header line: the rest are rows
        Empty,      // no byte at all
        NotRecords, // the first line is not the header: some other file
    };

    struct Result
    {
        Kind kind = Kind::Empty;
        std::vector<Row> rows;
        // Lines (from 1, the header's) of the rows that do not read, in order.
        std::vector<int> badLines;
    };

    static Result parse(const QByteArray &bytes);
    // One row's text, without its line end; false when it does not read.
    static bool parseRow(const char *text, int size, Row *row);
    // The header line the station writes at the top of each records file, line end included.
    static QByteArray header();
};
