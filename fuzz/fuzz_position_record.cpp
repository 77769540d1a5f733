// Fuzz target: a module's 64-byte position record decoded and turned into its CSV line, a sector
// header page parsed, and the track file name built from module and header texts.
//
// The record's fast paths for well-formed fields must give exactly what Qt's parsers and Qt's
// C-locale formatting give (the conversions the track files are defined by), so every result is
// checked against those.
//
// Input: 64 bytes of record (blank-padded when short), 21 bytes of sector header (0xFF-padded),
// then up to 8 bytes of module name and 12 of serial number (UTF-8, as the module sends them).
#include "FuzzCheck.h"
#include "PositionRecord.h"
#include "QuietQt.h"
#include "SectorHeader.h"
#include "TrackCsv.h"

#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

// An exact-size copy of part of the input, padded with `fill`, so that reading past the field
// meets the sanitizer's red zone.
std::unique_ptr<char[]> field(const uint8_t *data, size_t size, size_t offset, size_t length, char fill)
{
    std::unique_ptr<char[]> bytes(new char[length]);
    std::memset(bytes.get(), fill, length);
    if (offset < size)
        std::memcpy(bytes.get(), data + offset, std::min(length, size - offset));
    return bytes;
}

double qtNumber(const char *text, int width)
{
    bool ok = false;
    const double value = QString::fromLatin1(text, width).toDouble(&ok);
    return ok ? value : notANumber;
}

double qtCoordinate(const char *text, int width, int integerWidth)
{
    if (std::memchr(text, '.', size_t(width)))
        return qtNumber(text, width);
    bool integerOk = false;
    bool fractionOk = false;
    const int integer = QString::fromLatin1(text, integerWidth).toInt(&integerOk);
    const int fraction = QString::fromLatin1(text + integerWidth, width - integerWidth).toInt(&fractionOk);
    return integerOk && fractionOk ? integer + fraction / 100000.0 : notANumber;
}

QDateTime qtTime(const char *record)
{
    const QString dateText = QString::fromLatin1(record, 6).trimmed();
    // Qt reads the year as 19yy: only 29 February 2000 is lost that way and read as 20yy instead.
    const QDate date = dateText == QLatin1String("290200")
                           ? QDate(2000, 2, 29)
                           : QDate::fromString(dateText, QStringLiteral("ddMMyy")).addYears(100);
    const QTime time = QTime::fromString(QString::fromLatin1(record + 6, 10).trimmed(), QStringLiteral("hhmmss.z"));
    return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
}

bool same(double a, double b)
{
    return (std::isnan(a) && std::isnan(b)) || (a == b && std::signbit(a) == std::signbit(b));
}

QString qtFixed(double value, int decimals)
{
    return QStringLiteral("%1").arg(value, 0, 'f', decimals);
}

void checkRecord(const char *record)
{
    const PositionRecord decoded = PositionRecord::decode(record);

    FUZZ_CHECK(same(decoded.coords.latitude(), qtCoordinate(record + 16, 9, 4)));
    FUZZ_CHECK(same(decoded.coords.longitude(), qtCoordinate(record + 26, 10, 5)));
    FUZZ_CHECK(decoded.coords.latHemisphere() == record[25]);
    FUZZ_CHECK(decoded.coords.lonHemisphere() == record[36]);
    FUZZ_CHECK(same(decoded.speed, qtNumber(record + 37, 5)));
    FUZZ_CHECK(same(decoded.altitude, qtNumber(record + 42, 7)));
    FUZZ_CHECK(same(decoded.pdop, qtNumber(record + 49, 5)));
    FUZZ_CHECK(same(decoded.hdop, qtNumber(record + 54, 5)));
    FUZZ_CHECK(same(decoded.vdop, qtNumber(record + 59, 5)));
    const QDateTime time = qtTime(record);
    FUZZ_CHECK(decoded.time.isValid() == time.isValid());
    if (time.isValid()) {
        FUZZ_CHECK(decoded.time == time);
        FUZZ_CHECK(decoded.time.timeSpec() == Qt::UTC);
    }

    const QByteArray line = TrackCsv::line(decoded);
    FUZZ_CHECK(line.endsWith("\r\n"));
    const QStringList columns = QString::fromLatin1(line.chopped(2)).split(QLatin1Char(';'));
    FUZZ_CHECK(columns.size() == 8);
    FUZZ_CHECK(columns[0]
               == (time.isValid() ? time.toString(QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz")) : QString()));
    FUZZ_CHECK(columns[1] == qtFixed(decoded.coords.latitudeDegrees(), 6));
    FUZZ_CHECK(columns[2] == qtFixed(decoded.coords.longitudeDegrees(), 6));
    FUZZ_CHECK(columns[3] == qtFixed(decoded.altitude, 1));
    FUZZ_CHECK(columns[4] == qtFixed(decoded.speed, 2));
    FUZZ_CHECK(columns[5] == qtFixed(decoded.pdop, 1));
    FUZZ_CHECK(columns[6] == qtFixed(decoded.hdop, 1));
    FUZZ_CHECK(columns[7] == qtFixed(decoded.vdop, 1));
}

QByteArray zeroEnded(const char *bytes, int width)
{
    const void *zero = std::memchr(bytes, 0, size_t(width));
    return QByteArray(bytes, zero ? int(static_cast<const char *>(zero) - bytes) : width);
}

// The header is read from its 21 meaningful bytes only; its texts name the track file, which must
// stay a single entry of the chosen folder whatever the module and the header hold.
void checkHeaderAndFileName(const char *page, const QString &moduleName, const QString &serialNumber)
{
    const SectorHeader header = SectorHeader::parse(page);
    FUZZ_CHECK(header.hasData == (page[0] == '*'));
    FUZZ_CHECK(header.trackStart == (page[20] == '1'));
    FUZZ_CHECK(header.date == zeroEnded(page + 1, 6));
    FUZZ_CHECK(header.time == zeroEnded(page + 7, 10));
    FUZZ_CHECK(header.frequency == zeroEnded(page + 17, 3));

    const QString name = TrackCsv::fileName(moduleName, serialNumber, header.date, header.time);
    FUZZ_CHECK(name.endsWith(QLatin1String(".csv")));
    for (const QChar c : name)
        FUZZ_CHECK(c.unicode() >= 0x20 && c != QLatin1Char('/') && c != QLatin1Char('\\'));
    const QString folder = QStringLiteral("/fuzz/out");
    const QFileInfo path(QDir::cleanPath(folder + QLatin1Char('/') + name));
    FUZZ_CHECK(path.path() == folder);
    FUZZ_CHECK(path.fileName() == name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    quietQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const auto record = field(data, size, 0, PositionRecord::size, ' ');
    const auto header = field(data, size, PositionRecord::size, SectorHeader::usedBytes, '\xFF');
    const size_t textsAt = PositionRecord::size + SectorHeader::usedBytes;
    const size_t rest = size > textsAt ? size - textsAt : 0;
    const char *texts = reinterpret_cast<const char *>(data) + textsAt;
    const int nameLength = int(std::min<size_t>(rest, 8));
    const int serialLength = int(std::min<size_t>(rest - size_t(nameLength), 12));

    checkRecord(record.get());
    checkHeaderAndFileName(header.get(), QString::fromUtf8(texts, nameLength),
                           QString::fromUtf8(texts + nameLength, serialLength));
    return 0;
}
