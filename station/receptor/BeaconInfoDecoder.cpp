// Decoding of the receptor's beacon information and radio-quality replies into a BeaconInfo, and
// the serial number text <-> bytes conversions used by beacon commands.
#include "BeaconInfoDecoder.h"

#include <QDate>
#include <QTime>

#include <algorithm>

namespace
{
// Layout of the beacon information block.
constexpr int serialOffset = 1;
constexpr int serialLength = 6;
constexpr int dateOffset = 7;
constexpr int timeOffset = 13;
constexpr int dateTimeLength = 6;
constexpr int latitudeOffset = 19;
constexpr int latitudeLength = 11;
constexpr int longitudeOffset = 30;
constexpr int longitudeLength = 12;
constexpr int memoryOffset = 42;
constexpr int stateOffset = 43;
constexpr int auxOffset = 44;
constexpr int nameOffset = 46;
constexpr int nameLength = 8;

constexpr int rssiOffset = 157;
constexpr quint8 noValidReport = 255;

// A reply shorter than its layout reads as 0 past its end.
uchar byteAt(const QByteArray &bytes, int index)
{
    return index < bytes.size() ? uchar(bytes.at(index)) : 0;
}

// A text field that a 0 byte may end early.
QString zeroEndedField(const QByteArray &block, int offset, int length)
{
    QString text;
    for (int i = offset; i < offset + length; ++i) {
        const uchar c = byteAt(block, i);
        if (c == 0)
            break;
        text.append(QChar(c));
    }
    return text;
}

// A text field of fixed length, every byte kept.
QString fixedField(const QByteArray &block, int offset, int length)
{
    QString text;
    for (int i = offset; i < offset + length; ++i)
        text.append(QChar(byteAt(block, i)));
    return text;
}

bool isNameCharacter(QChar c)
{
    return c.isLetterOrNumber() || c.isMark() || c == QLatin1Char('_');
}

bool allNumbers(const QString &text)
{
    for (const QChar c : text) {
        if (!c.isNumber())
            return false;
    }
    return true;
}

// A coordinate text: digits with a point at `pointIndex`, then one of two hemisphere letters. An
// all-zero position is what the beacon sends before its first fix.
bool coordinateReads(const QString &text, int pointIndex, char positive, char negative,
                     QLatin1String allZero)
{
    const int letterIndex = text.size() - 1;
    for (int i = 0; i < letterIndex; ++i) {
        const bool ok = i == pointIndex ? text.at(i) == QLatin1Char('.') : text.at(i).isNumber();
        if (!ok)
            return false;
    }
    const QChar letter = text.at(letterIndex);
    if (letter != QLatin1Char(positive) && letter != QLatin1Char(negative))
        return false;
    return text.left(letterIndex) != allZero;
}

// Value of a two-digit field of ASCII digits, or -1.
int twoDigits(const QString &text, int index)
{
    int value = 0;
    for (int i = index; i < index + 2; ++i) {
        const ushort c = text.at(i).unicode();
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

int hexDigit(QChar c)
{
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}
}

namespace BeaconInfoDecoder
{
BeaconInfo decode(const QByteArray &block, const QByteArray *quality, bool *valid)
{
    BeaconInfo info;
    if (quality) {
        info.snr = qint8(byteAt(*quality, 0)) / 4;  // quarter-decibels, truncated toward zero
        info.rssi = int(byteAt(*quality, 1)) - rssiOffset;
    }
    info.serial = serialToText(block.mid(serialOffset, serialLength));

    const QString name = zeroEndedField(block, nameOffset, nameLength);
    const QString date = zeroEndedField(block, dateOffset, dateTimeLength);
    const QString time = zeroEndedField(block, timeOffset, dateTimeLength);
    const bool wellFormed = std::all_of(name.begin(), name.end(), isNameCharacter)
                            && allNumbers(date) && allNumbers(time);
    if (valid)
        *valid = wellFormed;
    if (!wellFormed) {
        BeaconInfo reduced;
        reduced.serial = info.serial;
        reduced.state = noValidReport;
        return reduced;
    }

    info.name = name;
    info.date = date;
    info.time = time;

    const QString latitude = fixedField(block, latitudeOffset, latitudeLength);
    info.latitude = coordinateReads(latitude, 4, 'N', 'S', QLatin1String("0000.00000"))
                        ? latitude
                        : QString(latitudeLength, QLatin1Char('*'));
    const QString longitude = fixedField(block, longitudeOffset, longitudeLength);
    info.longitude = coordinateReads(longitude, 5, 'E', 'W', QLatin1String("00000.00000"))
                         ? longitude
                         : QString(longitudeLength, QLatin1Char('*'));

    info.memory = byteAt(block, memoryOffset);
    info.state = byteAt(block, stateOffset);
    info.auxValue = quint16(byteAt(block, auxOffset) | (byteAt(block, auxOffset + 1) << 8));
    return info;
}

QString serialToText(const QByteArray &bytes)
{
    return QString::asprintf("%02x%02x%02x%02x%02x%02x", byteAt(bytes, 0), byteAt(bytes, 1),
                             byteAt(bytes, 2), byteAt(bytes, 3), byteAt(bytes, 4), byteAt(bytes, 5));
}

QByteArray serialFromText(const QString &serial)
{
    QByteArray bytes(serialLength, '\0');
    for (int i = 0; i < serialLength && 2 * i + 1 < serial.size(); ++i) {
        const int high = hexDigit(serial.at(2 * i));
        const int low = hexDigit(serial.at(2 * i + 1));
        if (high < 0 || low < 0)
            break;
        bytes[i] = char(high << 4 | low);
    }
    return bytes;
}

QDateTime timestamp(const QString &date, const QString &time)
{
    // Read as 20yy directly: going through 19yy would lose 29 February 2000, 1900 not being a
    // leap year.
    if (date.size() != dateTimeLength || time.size() != dateTimeLength)
        return QDateTime();
    const int day = twoDigits(date, 0), month = twoDigits(date, 2), year = twoDigits(date, 4);
    const int hour = twoDigits(time, 0), minute = twoDigits(time, 2), second = twoDigits(time, 4);
    if (day < 0 || month < 0 || year < 0 || hour < 0 || minute < 0 || second < 0)
        return QDateTime();
    const QDate d(2000 + year, month, day);
    const QTime t(hour, minute, second);
    if (!d.isValid() || !t.isValid())
        return QDateTime();
    return QDateTime(d, t, Qt::UTC);
}
}
