// A GPX 1.1 file holding one track of one segment, written point by point: the module manager
// writes one beside each downloaded track, the station one per exported beacon. Coordinates with 6
// decimals, elevation and dilutions of precision with 1, times in ISO 8601 UTC with milliseconds;
// the bytes do not depend on the user's locale.
#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QXmlStreamWriter>

#include <limits>
#include <optional>

class GpxTrackFile
{
public:
    struct Point
    {
        double latitude = std::numeric_limits<double>::quiet_NaN();  // signed decimal degrees
        double longitude = std::numeric_limits<double>::quiet_NaN(); // likewise
        // Each of these is left out of the point when it is not a number, or not valid.
        double elevation = std::numeric_limits<double>::quiet_NaN(); // metres
        QDateTime time;
        double hdop = std::numeric_limits<double>::quiet_NaN();
        double vdop = std::numeric_limits<double>::quiet_NaN();
        double pdop = std::numeric_limits<double>::quiet_NaN();
    };

    // `creator` goes into the creator attribute of every file.
    explicit GpxTrackFile(const QString &creator);
    // Completes a file still open.
    ~GpxTrackFile();

    GpxTrackFile(const GpxTrackFile &) = delete;
    GpxTrackFile &operator=(const GpxTrackFile &) = delete;

    // Creates (or replaces) the file at `path` and writes its start, up to the track's segment;
    // a file still open is completed first. False when the file cannot be created.
    bool open(const QString &path, const QString &trackName);
    // A track point, when the file is open and the position lies within GPX's bounds (latitude -90
    // to 90, longitude -180 up to, not including, 180); true when it was written.
    bool addPoint(const Point &point);
    // Completes and closes the file. False when it could not be written whole: a GPX file cut
    // short is not well-formed, so it is removed.
    bool close();

    bool isOpen() const { return m_file.isOpen(); }
    QString fileName() const { return m_file.fileName(); }
    // The system's words for the last failure to create or write the file.
    QString errorString() const { return m_error; }

private:
    QString m_creator;
    QFile m_file;
    std::optional<QXmlStreamWriter> m_xml; // while the file is open
    QString m_error;
};
