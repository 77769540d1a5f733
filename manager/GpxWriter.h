// GPX 1.1 files beside a download's CSV files: one per track, with the CSV file's base name and the
// ".gpx" suffix, holding one track segment of the records written to the CSV file. Quorvel and
// quorvel-cli both write them through it.
#pragma once

#include "GpxTrackFile.h"
#include "TrackObserver.h"

#include <QStringList>

class GpxWriter : public TrackObserver
{
public:
    // `creator` goes into the creator attribute of every file.
    explicit GpxWriter(const QString &creator);
    // Completes a file still open.
    ~GpxWriter() override;

    void trackStarted(const QString &csvPath) override;
    // Becomes a track point with its time (UTC, milliseconds), elevation and dilutions of precision
    // when they are numbers. A record without a valid latitude and longitude has no point.
    void recordWritten(const PositionRecord &record) override;
    void trackEnded() override;
    // The GPX file is removed, and listed neither as written nor as failed.
    void trackDropped() override;

    // The GPX file written beside `csvPath`: its suffix replaced by "gpx".
    static QString gpxPath(const QString &csvPath);

    // Files completed and closed, in order.
    QStringList writtenFiles() const { return m_written; }
    // Files that could not be opened or written, in order; a failed file is removed.
    QStringList failedFiles() const { return m_failed; }

private:
    void finish();

    GpxTrackFile m_file;
    QStringList m_written;
    QStringList m_failed;
};
