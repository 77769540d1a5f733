// Receives the tracks of a download as they go into their CSV files, for other formats written beside
// them. Called on the thread that runs the download.
#pragma once

#include <QString>

struct PositionRecord;

class TrackObserver
{
public:
    virtual ~TrackObserver() = default;

    // The CSV file of a new track was opened at `csvPath`.
    virtual void trackStarted(const QString &csvPath) = 0;
    // A record whose line was written to the current track's CSV file.
    virtual void recordWritten(const PositionRecord &record) = 0;
    // The current track's CSV file was closed (next track, end of data, read or write failure).
    virtual void trackEnded() = 0;
    // The current track's CSV file was removed instead, holding no record (its first write
    // failed): what was made beside it goes too.
    virtual void trackDropped() = 0;
};
