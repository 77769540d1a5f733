// The tests' independent reader of GPX files: gpsbabel converts a file's track points to its
// universal CSV form ("gpsbabel -t -i gpx -f FILE -o unicsv -F -"), read here into points.
#pragma once

#include <QDateTime>
#include <QString>
#include <QVector>

class GpsbabelReader
{
public:
    struct Point
    {
        double latitude = 0;
        double longitude = 0;
        double elevation = 0; // NaN when the point has none
        QDateTime time;       // UTC; invalid when the point has none
    };

    // Whether the gpsbabel program can be run.
    static bool available();
    // The track points of a GPX file in order; empty, with *error set, when gpsbabel rejects it.
    static QVector<Point> trackPoints(const QString &gpxPath, QString *error);

    // Compares the track points gpsbabel reads from a GPX file with the rows of the CSV file it was
    // written beside (header line, then time, latitude and longitude in decimal degrees as the
    // first three fields, time written with `timeFormat` in UTC). Rows whose position GPX cannot
    // hold have no point. Empty when they match, else what differs first.
    static QString mismatch(const QString &gpxPath, const QString &csvPath,
                            const QString &timeFormat);
};
