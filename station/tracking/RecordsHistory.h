// Records files read back as tracks: each chosen file is read and parsed, and the files of one
// beacon (one per name it had, and its recovery files) make one track, their rows merged in time
// order. Also finds a beacon's files and the files written on a given day in the data folder.
#pragma once

#include "RecordsFileParser.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

class RecordsHistory
{
public:
    enum class Outcome {
        Read,          // rows were read, perhaps with some skipped
        Unreadable,    // the file could not be opened or read
        Empty,         // not a byte in it
        NotRecords,    // its first line is not a records file's header
        NoReadableRow, // a header, then only rows that do not read
        NoRow,         // a header and nothing else
    };

    // What became of one file.
    struct FileReport
    {
        QString path;
        Outcome outcome = Outcome::Read;
        QString reason;           // the system's words for an unreadable file
        int rows = 0;             // rows read
        int skipped = 0;          // rows that do not read
        int firstSkippedLine = 0; // from 1, the header's; 0 when none was skipped
    };

    struct Track
    {
        QString beacon; // the serial of its files' names, or a file's base name
        std::vector<RecordsFileParser::Row> rows;
    };

    struct Result
    {
        QVector<FileReport> files; // in the order given
        std::vector<Track> tracks; // in the order their beacons first appear
    };

    static Result read(const QStringList &paths);

    // The beacon a records file belongs to: the serial its name starts with (twelve hexadecimal
    // digits before an underscore), else its base name.
    static QString beaconOf(const QString &path);
    // The records files of a beacon in `folder`, by name: every name it had, and recovery files.
    static QStringList filesOf(const QString &folder, const QString &serial);
    // The records files of `folder` last written on `day` (local time), by name.
    static QStringList filesWrittenOn(const QString &folder, const QDate &day);
};
