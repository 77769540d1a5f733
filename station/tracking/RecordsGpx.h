// A beacon's records written out as a GPX 1.1 file for maps and GPS tools: one track of one
// segment, a point with its time for each row that has a position.
#pragma once

#include "RecordsFileParser.h"

#include <QString>

#include <vector>

class RecordsGpx
{
public:
    // Writes (or replaces) the file at `path`; false, with the system's words in *error, when it
    // cannot be written whole (then no file is left).
    static bool write(const QString &path, const QString &trackName,
                      const std::vector<RecordsFileParser::Row> &rows, QString *error);
};
