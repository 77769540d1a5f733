// Fuzz target: a module's 64-byte position record decoded and turned into its CSV line, a sector
// header page parsed, and the track file name built from module and header texts.
//
// The decoder's own reading of well-formed dates and times must give exactly what Qt's parsers give
// (by which the track files are defined); its numbers, read by Qt, are checked against the C
// library's reading of the plain decimal texts a module writes, and the CSV line against the C
// library's formatting with the files' rounding rule (ties away from zero, no "-0", "nan").
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
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

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

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A plain decimal as a module writes it: blanks, an optional '-', at least one digit, optionally a
// point and more digits, blanks.
bool plainDecimal(const char *text, int width)
{
    int i = 0;
    while (i < width && text[i] == ' ')
        ++i;
    if (i < width && text[i] == '-')
        ++i;
    const int firstDigit = i;
    while (i < width && isDigit(text[i]))
        ++i;
    if (i == firstDigit)
        return false;
    if (i < width && text[i] == '.') {
        ++i;
        while (i < width && isDigit(text[i]))
            ++i;
    }
    while (i < width && text[i] == ' ')
        ++i;
    return i == width;
}

// The C++ library's reading, which no locale affects, of a plain decimal or of plain digits.
double cNumber(const char *text, int width)
{
    const char *begin = text;
    const char *end = text + width;
    while (begin < end && *begin == ' ')
        ++begin;
    while (end > begin && end[-1] == ' ')
        --end;
    double value = 0;
    std::from_chars(begin, end, value);
    return value;
}

bool allDigits(const char *text, int width)
{
    return std::all_of(text, text + width, isDigit);
}

// A number read by the decoder: the C library's value for a plain decimal.
void checkNumber(double decoded, const char *text, int width)
{
    if (plainDecimal(text, width))
        FUZZ_CHECK(decoded == cNumber(text, width));
}

// A coordinate: V1 style as a number; V5 style, when both parts are plain digits, as the integer
// part and five digits of fraction.
void checkCoordinate(double decoded, const char *text, int width, int integerWidth)
{
    if (std::memchr(text, '.', size_t(width))) {
        checkNumber(decoded, text, width);
    } else if (allDigits(text, width)) {
        const double expected = cNumber(text, integerWidth) + cNumber(text + integerWidth, width - integerWidth) / 100000.0;
        FUZZ_CHECK(decoded == expected);
    }
}

// True when `value` × 10^decimals ends in exactly one half: its binary fraction then ends at bit
// decimals + 1. Values too large to scale are whole numbers, never a tie.
bool isExactTie(double value, int decimals)
{
    const double scaled = std::ldexp(value, decimals + 1);
    return std::isfinite(scaled) && scaled == std::floor(scaled) && std::fmod(scaled, 2.0) != 0;
}

// Fixed notation as the track files write numbers, from the C++ library's exact formatting.
QString fixed(double value, int decimals)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    if (value == 0)
        value = 0;  // no sign on a negative zero
    char text[400];  // the largest double in full, and its decimals
    if (!isExactTie(value, decimals)) {
        const char *end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
        return QString::fromLatin1(text, int(end - text));
    }
    // to_chars rounds an exact tie to even: round its one more digit (a 5) away from zero instead.
    const char *end = std::to_chars(text, text + sizeof text, std::fabs(value), std::chars_format::fixed,
                                    decimals + 1).ptr;
    std::string digits(text, size_t(end - 1 - text));
    if (decimals == 0)
        digits.pop_back();  // the point
    int i = int(digits.size()) - 1;
    for (; i >= 0; --i) {
        if (digits[size_t(i)] == '.')
            continue;
        if (digits[size_t(i)] != '9') {
            ++digits[size_t(i)];
            break;
        }
        digits[size_t(i)] = '0';
    }
    if (i < 0)
        digits.insert(digits.begin(), '1');
    return QString::fromStdString((value < 0 ? "-" : "") + digits);
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

void checkRecord(const char *record)
{
    const PositionRecord decoded = PositionRecord::decode(record);

    checkCoordinate(decoded.coords.latitude(), record + 16, 9, 4);
    checkCoordinate(decoded.coords.longitude(), record + 26, 10, 5);
    FUZZ_CHECK(decoded.coords.latHemisphere() == record[25]);
    FUZZ_CHECK(decoded.coords.lonHemisphere() == record[36]);
    checkNumber(decoded.speed, record + 37, 5);
    checkNumber(decoded.altitude, record + 42, 7);
    checkNumber(decoded.pdop, record + 49, 5);
    checkNumber(decoded.hdop, record + 54, 5);
    checkNumber(decoded.vdop, record + 59, 5);
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
    QString timeText;
    if (time.isValid()) {
        const QDate d = time.date();
        const QTime t = time.time();
        char text[32];
        std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d.%03d", d.day(), d.month(), d.year(),
                      t.hour(), t.minute(), t.second(), t.msec());
        timeText = QString::fromLatin1(text);
    }
    FUZZ_CHECK(columns[0] == timeText);
    FUZZ_CHECK(columns[1] == fixed(decoded.coords.latitudeDegrees(), 6));
    FUZZ_CHECK(columns[2] == fixed(decoded.coords.longitudeDegrees(), 6));
    FUZZ_CHECK(columns[3] == fixed(decoded.altitude, 1));
    FUZZ_CHECK(columns[4] == fixed(decoded.speed, 2));
    FUZZ_CHECK(columns[5] == fixed(decoded.pdop, 1));
    FUZZ_CHECK(columns[6] == fixed(decoded.hdop, 1));
    FUZZ_CHECK(columns[7] == fixed(decoded.vdop, 1));
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
