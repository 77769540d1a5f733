// Station records to GPX, through the GPX file writer both programs share.
#include "RecordsGpx.h"

#include "GpxTrackFile.h"

#include <QDateTime>

bool RecordsGpx::write(const QString &path, const QString &trackName,
                       const std::vector<RecordsFileParser::Row> &rows, QString *error)
{
    GpxTrackFile file(QStringLiteral("Korvane"));
    if (!file.open(path, trackName)) {
        *error = file.errorString();
        return false;
    }
    for (const RecordsFileParser::Row &row : rows) {
        GpxTrackFile::Point point;
        point.latitude = row.latitude;
        point.longitude = row.longitude;
        if (row.seconds != RecordsFileParser::noTime)
            point.time = QDateTime::fromSecsSinceEpoch(row.seconds, Qt::UTC);
        file.addPoint(point);
    }
    if (!file.close()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
