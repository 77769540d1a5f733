// The download loop over the module's 32 MiB flash: 512 sectors of 256 pages; the first page of a
// sector is its header, the other 255 hold four 64-byte position records each (0xFF = empty slot).
#include "TrackDownloader.h"

#include "PositionRecord.h"
#include "SectorHeader.h"
#include "TrackCsv.h"
#include "TrackObserver.h"
#include "LogCategories.h"

namespace
{
constexpr int recordsPerPage = TrackDownloader::pageSize / PositionRecord::size;
constexpr quint32 pageCount = TrackDownloader::memorySize / TrackDownloader::pageSize;
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

    for (quint32 pageIndex = 0; pageIndex < pageCount; ++pageIndex) {
        if (readPage(page, pageIndex, pageSize) != pageSize) {
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

        const quint32 pagesRead = pageIndex + 1;
        const int percent = usedPages > 0 ? int(pagesRead * 100.0 / usedPages) : 100;
        if (percent != lastPercent) {
            progress(percent);
            lastPercent = percent;
        }
    }
    closeFile();
    return m_failed ? Result::Failed : Result::Finished;
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
    m_file.setFileName(m_outDirectory + QLatin1Char('/')
                       + TrackCsv::fileName(m_moduleName, m_serialNumber, header.date, header.time));
    // Unbuffered: every line reaches the file as soon as it is complete.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        qCDebug(lcDownload, "openFile failed\n");
        m_failed = true;
        return;
    }
    if (m_observer)
        m_observer->trackStarted(m_file.fileName());
    write(TrackCsv::headerLine());
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
    if (m_pageLines.isEmpty())
        return;
    write(m_pageLines);
    // The observer sees the records that reached the file (a failed write closed it).
    if (m_observer && m_file.isOpen()) {
        for (int i = 0; i < writtenCount; ++i)
            m_observer->recordWritten(written[i]);
    }
}

void TrackDownloader::write(const QByteArray &bytes)
{
    if (m_file.write(bytes) == bytes.size())
        return;
    // A full disk or a lost folder: keep what was written, drop the rest of this track.
    qCDebug(lcDownload, "Failed to write %s: %s\n", qUtf8Printable(m_file.fileName()),
           qUtf8Printable(m_file.errorString()));
    m_failed = true;
    closeFile();
}

void TrackDownloader::closeFile()
{
    if (!m_file.isOpen())
        return;
    m_file.close();
    if (m_observer)
        m_observer->trackEnded();
}
