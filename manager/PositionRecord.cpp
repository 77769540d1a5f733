// Position record layout (fixed-width ASCII): date ddMMyy at 0 (6), time hhmmss.zzz at 6 (10),
// latitude at 16 (9) and its hemisphere at 25, longitude at 26 (10) and its hemisphere at 36,
// speed at 37 (5), altitude at 42 (7), PDOP at 49 (5), HDOP at 54 (5), VDOP at 59 (5).
//
// Numbers are read with Qt's own parsers, which are locale-free. The date and the time are read by
// hand in their usual forms (six digits; six digits, a point and one to three), and by Qt's parsers
// otherwise: those parsers look the local time zone up at every call, which would cost a download
// some 80 µs a page where the TZ variable is unset (see the README's performance section).
#include "PositionRecord.h"
#include "LogCategories.h"

#include <QLocale>
#include <QString>

#include <cstring>
#include <limits>

namespace
{
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

QString latin1(const char *field, int width)
{
    return QString::fromLatin1(field, width);
}

// A decimal number with optional blanks around it; NaN when it does not convert.
double decimalField(const char *field, int width)
{
    bool ok = false;
    const double value = latin1(field, width).toDouble(&ok);
    return ok ? value : notANumber;
}

// V1 style carries its decimal point ("4807.0380"); V5 style implies it after the degrees and
// minutes: `integerWidth` digits of ddmm or dddmm, then five digits of fraction ("480703800").
double coordinateField(const char *field, int width, int integerWidth, const char *v1Line,
                       const char *v5Line)
{
    if (std::memchr(field, '.', size_t(width))) {
        qCDebug(lcDownload, "%s", v1Line);
        return decimalField(field, width);
    }
    qCDebug(lcDownload, "%s", v5Line);
    bool integerOk = false;
    bool fractionOk = false;
    const int integerPart = latin1(field, integerWidth).toInt(&integerOk);
    const int fractionPart = latin1(field + integerWidth, width - integerWidth).toInt(&fractionOk);
    return integerOk && fractionOk ? integerPart + fractionPart / 100000.0 : notANumber;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Value of `count` decimal digits at `text`, or -1 if one of them is not a digit.
int digitsValue(const char *text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (!isDigit(text[i]))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

bool hasDigit(const char *field, int width)
{
    for (int i = 0; i < width; ++i) {
        if (isDigit(field[i]))
            return true;
    }
    return false;
}

bool isAsciiBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The field without surrounding ASCII blanks.
struct Span
{
    const char *begin;
    int length;
};

Span trimmed(const char *field, int width)
{
    int first = 0;
    int last = width;
    while (first < last && isAsciiBlank(field[first]))
        ++first;
    while (last > first && isAsciiBlank(field[last - 1]))
        --last;
    return {field + first, last - first};
}

// The date "ddMMyy", its two-digit year meaning 20yy. Qt's reading goes through 19yy, which would
// lose 29 February 2000 (1900 was no leap year), so six plain digits are read as 20yy directly.
QDate recordDate(const char *field)
{
    constexpr int width = 6;
    const int day = digitsValue(field, 2);
    const int month = digitsValue(field + 2, 2);
    const int year = digitsValue(field + 4, 2);
    if (day >= 0 && month >= 0 && year >= 0 && QDate::isValid(2000 + year, month, day))
        return QDate(2000 + year, month, day);
    if (!hasDigit(field, width))
        return QDate();
    return QDate::fromString(latin1(field, width).trimmed(), QStringLiteral("ddMMyy")).addYears(100);
}

// The time "hhmmss.z": the digits after the point are a fraction of a second (".5" is 500 ms).
QTime recordTime(const char *field)
{
    constexpr int width = 10;
    const Span text = trimmed(field, width);
    if (text.length >= 8 && text.begin[6] == '.') {
        const int hour = digitsValue(text.begin, 2);
        const int minute = digitsValue(text.begin + 2, 2);
        const int second = digitsValue(text.begin + 4, 2);
        const int fractionDigits = text.length - 7;
        const int fraction = digitsValue(text.begin + 7, fractionDigits);
        if (hour >= 0 && minute >= 0 && second >= 0 && fraction >= 0) {
            // Out-of-range values give an invalid time, as Qt's parser does.
            static constexpr int scale[] = {100, 10, 1};
            return QTime(hour, minute, second, fraction * scale[fractionDigits - 1]);
        }
    }
    if (!hasDigit(field, width))
        return QTime();
    return QTime::fromString(latin1(field, width).trimmed(), QStringLiteral("hhmmss.z"));
}
}

PositionRecord PositionRecord::decode(const char *record)
{
    PositionRecord decoded;
    const double latitude = coordinateField(record + 16, 9, 4, "LAT is V1 style\n", "LAT is V5 style\n");
    const double longitude =
        coordinateField(record + 26, 10, 5, "LON is V1 style\n", "LON is V5 style\n");
    decoded.coords = GpsCoords(latitude, record[25], longitude, record[36]);

    const QDate date = recordDate(record);
    const QTime time = recordTime(record + 6);
    const bool valid = date.isValid() && time.isValid();
    if (valid)
        decoded.time = QDateTime(date, time, Qt::UTC);
    // "hhmmss.zzz", or an empty line for an invalid time.
    qCDebug(lcDownload, "%s\n",
            qPrintable(QLocale::c().toString(valid ? time : QTime(), QStringLiteral("hhmmss.zzz"))));

    decoded.speed = decimalField(record + 37, 5);
    decoded.altitude = decimalField(record + 42, 7);
    decoded.pdop = decimalField(record + 49, 5);
    decoded.hdop = decimalField(record + 54, 5);
    decoded.vdop = decimalField(record + 59, 5);
    return decoded;
}
