// Reading records files back: file by file, then one track per beacon.
#include "RecordsHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <utility>

namespace
{
using Row = RecordsFileParser::Row;

// Each row's time for ordering: a row without one takes the time of the row before it in its
// file, so that it stays in its place.
std::vector<qint64> orderTimes(const std::vector<Row> &rows)
{
    std::vector<qint64> times;
    times.reserve(rows.size());
    qint64 last = RecordsFileParser::noTime;
    for (const Row &row : rows) {
        if (row.seconds != RecordsFileParser::noTime)
            last = row.seconds;
        times.push_back(last);
    }
    return times;
}

// Interleaves the rows of two files in time order; each file's own order is kept whatever its
// times, as that is the order its beacon reported in.
std::vector<Row> merged(const std::vector<Row> &first, const std::vector<Row> &second)
{
    const std::vector<qint64> firstTimes = orderTimes(first);
    const std::vector<qint64> secondTimes = orderTimes(second);
    std::vector<Row> rows;
    rows.reserve(first.size() + second.size());
    size_t i = 0;
    size_t j = 0;
    while (i < first.size() || j < second.size()) {
        if (j == second.size() || (i < first.size() && firstTimes[i] <= secondTimes[j]))
            rows.push_back(first[i++]);
        else
            rows.push_back(second[j++]);
    }
    return rows;
}

bool startsWithHeader(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = RecordsFileParser::header();
    // Room for the header, a byte order mark and the line end: the rows need not be read.
    return RecordsFileParser::parse(file.read(header.size() + 3)).kind
           == RecordsFileParser::Kind::Records;
}
}

RecordsHistory::Result RecordsHistory::read(const QStringList &paths)
{
    Result result;
    for (const QString &path : paths) {
        FileReport report;
        report.path = path;
        QFile file(path);
        QByteArray bytes;
        if (file.open(QIODevice::ReadOnly))
            bytes = file.readAll();
        if (!file.isOpen() || file.error() != QFileDevice::NoError) {
            report.outcome = Outcome::Unreadable;
            report.reason = file.errorString();
            result.files.append(report);
            continue;
        }
        file.close();

        RecordsFileParser::Result parsed = RecordsFileParser::parse(bytes);
        bytes.clear();
        report.rows = int(parsed.rows.size());
        report.skipped = int(parsed.badLines.size());
        report.firstSkippedLine = parsed.badLines.empty() ? 0 : parsed.badLines.front();
        if (parsed.kind == RecordsFileParser::Kind::Empty)
            report.outcome = Outcome::Empty;
        else if (parsed.kind == RecordsFileParser::Kind::NotRecords)
            report.outcome = Outcome::NotRecords;
        else if (parsed.rows.empty())
            report.outcome = report.skipped > 0 ? Outcome::NoReadableRow : Outcome::NoRow;
        result.files.append(report);
        if (parsed.rows.empty())
            continue;

        const QString beacon = beaconOf(path);
        auto track = std::find_if(result.tracks.begin(), result.tracks.end(), [&](const Track &t) {
            return t.beacon.compare(beacon, Qt::CaseInsensitive) == 0;
        });
        if (track == result.tracks.end())
            result.tracks.push_back(Track{beacon, std::move(parsed.rows)});
        else
            track->rows = merged(track->rows, parsed.rows);
    }
    return result;
}

QString RecordsHistory::beaconOf(const QString &path)
{
    static const QRegularExpression serial(QStringLiteral("^([0-9A-Fa-f]{12})_"));
    const QString name = QFileInfo(path).completeBaseName();
    const QRegularExpressionMatch match = serial.match(name);
    return match.hasMatch() ? match.captured(1) : name;
}

QStringList RecordsHistory::filesOf(const QString &folder, const QString &serial)
{
    // Name filters are compared without regard to case.
    return QDir(folder).entryList({serial + QStringLiteral("_*.csv")}, QDir::Files, QDir::Name);
}

QStringList RecordsHistory::filesWrittenOn(const QString &folder, const QDate &day)
{
    QStringList names;
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
    for (const QFileInfo &file : files) {
        if (file.lastModified().date() == day && startsWithHeader(file.filePath()))
            names << file.fileName();
    }
    return names;
}
