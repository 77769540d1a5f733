// Records file reading: the header, then each line on its own. Dates are read field by field (a
// fixed form of ASCII digits); numbers with Qt's locale-free conversions.
#include "RecordsFileParser.h"

#include <QDate>
#include <QTime>

#include <cmath>
#include <cstring>

namespace
{
const char headerText[] =
    "Temps;Latitude (degrés décimaux);Longitude (degrés décimaux);RSSI (dBm);SNR (dB)\r\n";
// Julian day of 1 January 1970.
constexpr qint64 epochDay = 2440588;
constexpr int fieldCount = 5;

// `count` ASCII digits at `text` as a number; -1 when one is not a digit.
int digits(const char *text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "dd/MM/yyyy hh:mm:ss", UTC; an empty field is a report without a date.
bool readTime(const char *text, int size, qint64 *seconds)
{
    if (size == 0) {
        *seconds = RecordsFileParser::noTime;
        return true;
    }
    if (size != 19 || text[2] != '/' || text[5] != '/' || text[10] != ' ' || text[13] != ':'
        || text[16] != ':')
        return false;
    const int day = digits(text, 2);
    const int month = digits(text + 3, 2);
    const int year = digits(text + 6, 4);
    const int hour = digits(text + 11, 2);
    const int minute = digits(text + 14, 2);
    const int second = digits(text + 17, 2);
    if (!QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, second))
        return false;
    *seconds = (QDate(year, month, day).toJulianDay() - epochDay) * 86400 + hour * 3600
               + minute * 60 + second;
    return true;
}

// A position in decimal degrees as the station writes it, or "nan" for none.
bool readDegrees(const char *text, int size, double *degrees)
{
    bool ok = false;
    const double value = QByteArray::fromRawData(text, size).toDouble(&ok);
    if (!ok || std::isinf(value))
        return false;
    *degrees = value;
    return true;
}

bool readInteger(const char *text, int size, qint32 *number)
{
    bool ok = false;
    *number = QByteArray::fromRawData(text, size).toInt(&ok);
    return ok;
}
}

QByteArray RecordsFileParser::header()
{
    return QByteArray(headerText);
}

bool RecordsFileParser::parseRow(const char *text, int size, Row *row)
{
    const char *fields[fieldCount];
    int sizes[fieldCount];
    int field = 0;
    int start = 0;
    for (int i = 0; i <= size; ++i) {
        if (i < size && text[i] != ';')
            continue;
        if (field == fieldCount)
            return false;
        fields[field] = text + start;
        sizes[field] = i - start;
        ++field;
        start = i + 1;
    }
    return field == fieldCount && readTime(fields[0], sizes[0], &row->seconds)
           && readDegrees(fields[1], sizes[1], &row->latitude)
           && readDegrees(fields[2], sizes[2], &row->longitude)
           && readInteger(fields[3], sizes[3], &row->rssi)
           && readInteger(fields[4], sizes[4], &row->snr);
}

RecordsFileParser::Result RecordsFileParser::parse(const QByteArray &bytes)
{
    Result result;
    const char *data = bytes.constData();
    const int size = bytes.size();
    if (size == 0)
        return result;

    // The header, in the station's bytes; a byte order mark or a bare "\n" ending are an
    // editor's, and are taken, and so is a header cut short of its line end.
    int at = 0;
    if (size >= 3 && std::memcmp(data, "\xEF\xBB\xBF", 3) == 0)
        at = 3;
    const int headerSize = int(sizeof(headerText)) - 1 - 2;
    if (size - at < headerSize || std::memcmp(data + at, headerText, size_t(headerSize)) != 0) {
        result.kind = Kind::NotRecords;
        return result;
    }
    at += headerSize;
    if (at < size && data[at] == '\r')
        ++at;
    if (at < size && data[at] != '\n') {
        result.kind = Kind::NotRecords;
        return result;
    }
    ++at;
    result.kind = Kind::Records;

    // About 40 bytes a row.
    result.rows.reserve(size_t(qMax(0, size - at) / 40 + 1));
    int line = 1;
    while (at < size) {
        ++line;
        const void *found = std::memchr(data + at, '\n', size_t(size - at));
        const int end = found ? int(static_cast<const char *>(found) - data) : size;
        int length = end - at;
        if (length > 0 && data[at + length - 1] == '\r')
            --length;
        Row row;
        if (parseRow(data + at, length, &row))
            result.rows.push_back(row);
        else
            result.badLines.push_back(line);
        at = end + 1;
    }
    return result;
}
