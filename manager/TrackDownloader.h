// Download of a module's logged tracks: reads the flash page by page from the start, follows the
// sector headers, and writes one CSV file per track into the chosen folder.
#pragma once

#include "DownloadFailure.h"

#include <QByteArray>
#include <QFile>
#include <QSet>
#include <QString>

#include <functional>

struct SectorHeader;
class TrackObserver;

class TrackDownloader
{
public:
    // Reads page `pageIndex` into `buffer` (`capacity` bytes); returns 256, or -1 on failure.
    using PageReader = std::function<int(char *buffer, quint32 pageIndex, int capacity)>;
    // Takes the integer percentage of the used memory read so far, each time it changes.
    using ProgressSink = std::function<void(int percent)>;

    // Failed: a page could not be read, or a track file could not be opened or written. Every file
    // that could be written stays on disk, closed; a file of which nothing could be written is
    // removed. A full disk or a folder that takes no file ends the download at once.
    enum class Result { Finished, Failed };

    static constexpr quint32 memorySize = 0x2000000;  // 32 MiB of flash
    static constexpr int pageSize = 256;

    // The module's name and serial number name the files; `outDirectory` receives them.
    TrackDownloader(const QString &moduleName, const QString &serialNumber,
                    const QString &outDirectory);

    // Reads until a sector header without '*' or the end of the memory. The percentage is pages
    // read × 100 / (usedSize / 256) and goes past 100 when the last sector is read beyond the used
    // size; with less than one used page it is 100 from the first page read. Within one run, a track
    // whose file name was already taken by an earlier track (same header date and time) gets "_2",
    // "_3"... before ".csv"; files of earlier runs are replaced.
    Result run(const PageReader &readPage, qint32 usedSize, const ProgressSink &progress);

    // Why the last run failed: a failed page read is ReadError here (the reader knows more), and
    // it wins over a file error seen before it; otherwise the first file error.
    const DownloadFailure &failure() const { return m_failure; }

    // Told of every track file opened and closed and of every record written into one; none by
    // default. The CSV output does not depend on it.
    void setObserver(TrackObserver *observer) { m_observer = observer; }

private:
    void startTrack(const SectorHeader &header);
    void writeRecords(const char *page);
    // False when the write failed: the file is then closed, and removed if it held no record.
    bool write(const QByteArray &bytes);
    void closeFile();
    QString uniqueName(const QString &name);
    void fileFailed(DownloadFailure::Cause cause, bool kept);

    QString m_moduleName;
    QString m_serialNumber;
    QString m_outDirectory;
    QFile m_file;             // the current track's file, when open
    bool m_trackHasRecords = false;
    bool m_trackObserved = false;  // the observer was told of the current track
    QByteArray m_pageLines;   // the lines of the page being converted
    QSet<QString> m_usedNames;  // file names given to the tracks of this run
    DownloadFailure m_failure;
    TrackObserver *m_observer = nullptr;
};
