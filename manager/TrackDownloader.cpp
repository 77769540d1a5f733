// The download loop over the module's 32 MiB flash: 512 sectors of 256 pages; the first page of a
// sector is its header, the other 255 hold four 64-byte position records each (0xFF = empty slot).
#include "TrackDownloader.h"

#include "LogCategories.h"
#include "PositionRecord.h"
#include "SectorHeader.h"
#include "TrackCsv.h"
#include "TrackObserver.h"

#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#endif

namespace
{
constexpr int recordsPerPage = TrackDownloader::pageSize / PositionRecord::size;
constexpr quint32 pageCount = TrackDownloader::memorySize / TrackDownloader::pageSize;

// The system's error code of the file operation that just failed.
int lastSystemError()
{
#ifdef Q_OS_WIN
    return int(GetLastError());
#else
    return errno;
#endif
}

bool isDiskFull(int error)
{
#ifdef Q_OS_WIN
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
#else
    return error == ENOSPC || error == EDQUOT;
#endif
}

bool isReadOnlyFileSystem(int error)
{
#ifdef Q_OS_WIN
    return error == ERROR_WRITE_PROTECT;
#else
    return error == EROFS;
#endif
}

// Why a track's file could not be created in `folder`: the folder itself, its file system, or
// only that one file.
DownloadFailure::Cause openFailureCause(int error, const QString &folder)
{
    const QFileInfo info(folder);
    if (!info.isDir())
        return DownloadFailure::Cause::FolderMissing;
    if (isDiskFull(error))
        return DownloadFailure::Cause::DiskFull;
    if (isReadOnlyFileSystem(error) || !info.isWritable())
        return DownloadFailure::Cause::FolderNotWritable;
    return DownloadFailure::Cause::FileNotWritable;
}
}

TrackDownloader::TrackDownloader(const QString &moduleName, const QString &serialNumber,
                                 const QString &outDirectory)
    : m_moduleName(moduleName), m_serialNumber(serialNumber), m_outDirectory(outDirectory)
{
}

TrackDownloader::Result TrackDownloader::run(const PageReader &readPage, qint32 usedSize,
                                             const ProgressSink &progress)
{
    const qint32 usedPages = usedSize / pageSize;
    int lastPercent = 0;
    char page[pageSize];
    m_failure = DownloadFailure();
    m_usedNames.clear();

    for (quint32 pageIndex = 0; pageIndex < pageCount; ++pageIndex) {
        if (readPage(page, pageIndex, pageSize) != pageSize) {
            DownloadFailure readFailure;
            readFailure.cause = DownloadFailure::Cause::ReadError;
            if (m_file.isOpen()) {
                readFailure.trackFile = m_file.fileName();
                readFailure.trackFileKept = true;
            }
            m_failure = readFailure;
            closeFile();
            return Result::Failed;
        }
        if (pageIndex % SectorHeader::sectorPages == 0) {
            const SectorHeader header = SectorHeader::parse(page);
            if (!header.hasData)
                break;
            startTrack(header);
        } else {
            writeRecords(page);
        }
        // Nothing more could be written anywhere: reading on would be for nothing.
        if (m_failure.endsDownload()) {
            closeFile();
            return Result::Failed;
        }

        const quint32 pagesRead = pageIndex + 1;
        const int percent = usedPages > 0 ? int(pagesRead * 100.0 / usedPages) : 100;
        if (percent != lastPercent) {
            progress(percent);
            lastPercent = percent;
        }
    }
    closeFile();
    return m_failure.failed() ? Result::Failed : Result::Finished;
}

QString TrackDownloader::uniqueName(const QString &name)
{
    QString candidate = name;
    for (int n = 2; m_usedNames.contains(candidate); ++n)
        candidate = name.chopped(4) + QStringLiteral("_%1.csv").arg(n);
    m_usedNames.insert(candidate);
    return candidate;
}

void TrackDownloader::fileFailed(DownloadFailure::Cause cause, bool kept)
{
    DownloadFailure failure;
    failure.cause = cause;
    // The first failure is the one told, unless a later one ends the download.
    if (m_failure.failed() && (m_failure.endsDownload() || !failure.endsDownload()))
        return;
    m_failure.cause = cause;
    m_failure.trackFile = m_file.fileName();
    m_failure.trackFileKept = kept;
    m_failure.systemMessage = m_file.errorString();
}

void TrackDownloader::startTrack(const SectorHeader &header)
{
    const char *date = header.date.constData();
    const char *time = header.time.constData();
    const char *frequency = header.frequency.constData();
    if (!header.trackStart) {
        // The open file, if any, goes on with this sector's records.
        qCDebug(lcDownload, "Continuing record from %s at %s (freq %s)\n", date, time, frequency);
        return;
    }
    qCDebug(lcDownload, "Found record from %s at %s (freq %s)\n", date, time, frequency);
    closeFile();
    // Two tracks of one download with the same header stamp (a module without a fix writes the
    // same one) must not overwrite each other.
    const QString name =
        uniqueName(TrackCsv::fileName(m_moduleName, m_serialNumber, header.date, header.time));
    m_file.setFileName(m_outDirectory + QLatin1Char('/') + name);
    // Unbuffered: every line reaches the file as soon as it is complete.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        const int error = lastSystemError();
        qCDebug(lcDownload, "openFile failed\n");
        fileFailed(openFailureCause(error, QFileInfo(m_file.fileName()).absolutePath()), false);
        return;
    }
    m_trackHasRecords = false;
    if (!write(TrackCsv::headerLine()))
        return;
    m_trackObserved = m_observer != nullptr;
    if (m_observer)
        m_observer->trackStarted(m_file.fileName());
}

void TrackDownloader::writeRecords(const char *page)
{
    m_pageLines.clear();
    PositionRecord written[recordsPerPage];
    int writtenCount = 0;
    for (int slot = 0; slot < recordsPerPage; ++slot) {
        const char *record = page + slot * PositionRecord::size;
        if (static_cast<unsigned char>(record[0]) == 0xFF)
            continue;
        const PositionRecord decoded = PositionRecord::decode(record);
        // Records of a track whose file is not open (none started yet, or its file failed) are
        // dropped.
        if (m_file.isOpen()) {
            m_pageLines += TrackCsv::line(decoded);
            if (m_observer)
                written[writtenCount++] = decoded;
        }
    }
    // One write per page of complete lines: the file is up to date after every page read.
    if (m_pageLines.isEmpty() || !write(m_pageLines))
        return;
    m_trackHasRecords = true;
    // The observer sees the records that reached the file.
    if (m_trackObserved) {
        for (int i = 0; i < writtenCount; ++i)
            m_observer->recordWritten(written[i]);
    }
}

bool TrackDownloader::write(const QByteArray &bytes)
{
    if (m_file.write(bytes) == bytes.size())
        return true;
    const int error = lastSystemError();
    // A full disk or a lost folder: keep what was written, drop the rest of this track. A file
    // that holds no record (at most part of its header) is not left behind.
    qCDebug(lcDownload, "Failed to write %s: %s\n", qUtf8Printable(m_file.fileName()),
            qUtf8Printable(m_file.errorString()));
    const bool keep = m_trackHasRecords;
    DownloadFailure::Cause cause = DownloadFailure::Cause::FileNotWritable;
    if (isDiskFull(error))
        cause = DownloadFailure::Cause::DiskFull;
    else if (isReadOnlyFileSystem(error))
        cause = DownloadFailure::Cause::FolderNotWritable;
    fileFailed(cause, keep);
    const QString path = m_file.fileName();
    if (!keep && m_trackObserved) {
        m_observer->trackDropped();
        m_trackObserved = false;
    }
    closeFile();
    if (!keep)
        QFile::remove(path);
    return false;
}

void TrackDownloader::closeFile()
{
    if (!m_file.isOpen())
        return;
    m_file.close();
    if (m_trackObserved)
        m_observer->trackEnded();
    m_trackObserved = false;
}
