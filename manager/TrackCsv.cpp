// Formatting of the track files. Numbers are written as Qt's C-locale fixed notation writes them
// (QString::arg(double, 0, 'f', n)): exact decimal rounding, ties away from zero, "nan", "inf", no
// sign on a negative zero. Ordinary values go through integer digits; values close to a half-way
// point or very large take std::to_chars, which gives the same digits except on exact ties (it
// rounds those to even), and exact ties take Qt's own formatting.
#include "TrackCsv.h"

#include "PositionRecord.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace
{
// Seven numbers of at most 317 characters each (a value near the largest double, in fixed notation
// with 6 decimals) and the time column.
constexpr int maxLineLength = 4096;

char *appendText(char *out, const char *text, int length)
{
    std::memcpy(out, text, static_cast<size_t>(length));
    return out + length;
}

// True when `value` × 10^decimals ends in exactly one half: its binary fraction then ends at bit
// decimals + 1.
bool isExactTie(double value, int decimals)
{
    const double scaled = std::ldexp(value, decimals + 1);
    return scaled == std::floor(scaled) && std::fmod(scaled, 2.0) != 0;
}

// Fixed notation from the integer nearest to |value| × 10^decimals. Below 2^40 the product is
// within 2^-13 of the exact one, so away from the half-way points that integer is the exact decimal
// rounding. False (nothing written) for the other values.
bool appendFixedQuick(char *&out, double value, int decimals)
{
    static constexpr double powersOfTen[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
    const double scaled = std::fabs(value) * powersOfTen[decimals];
    if (!(scaled < 1e12))
        return false;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    if (std::fabs(fraction - 0.5) < 1e-3)
        return false;
    quint64 rounded = quint64(whole) + (fraction > 0.5 ? 1 : 0);
    char digits[24];  // least significant first
    int count = 0;
    do {
        digits[count++] = char('0' + rounded % 10);
        rounded /= 10;
    } while (rounded != 0);
    while (count <= decimals)
        digits[count++] = '0';
    // Qt keeps the sign of a negative value that rounds to zero ("-0.00").
    if (value < 0)
        *out++ = '-';
    for (int i = count - 1; i >= 0; --i) {
        *out++ = digits[i];
        if (i == decimals && decimals > 0)
            *out++ = '.';
    }
    return true;
}

char *appendFixed(char *out, char *end, double value, int decimals)
{
    if (std::isnan(value))
        return appendText(out, "nan", 3);
    if (value == 0)
        value = 0;  // drops the sign of a negative zero
    if (appendFixedQuick(out, value, decimals))
        return out;
    // Infinities count as ties and come out as "inf" and "-inf".
    if (isExactTie(value, decimals)) {
        const QByteArray text = QString::number(value, 'f', decimals).toLatin1();
        return appendText(out, text.constData(), text.size());
    }
    return std::to_chars(out, end, value, std::chars_format::fixed, decimals).ptr;
}

char *appendTwoDigits(char *out, int value)
{
    *out++ = char('0' + value / 10);
    *out++ = char('0' + value % 10);
    return out;
}

// "dd/MM/yyyy hh:mm:ss.zzz"; record dates always fall in 2000-2099, four digits.
char *appendTime(char *out, const QDateTime &time)
{
    if (!time.isValid())
        return out;
    const QDate d = time.date();
    const QTime t = time.time();
    out = appendTwoDigits(out, d.day());
    *out++ = '/';
    out = appendTwoDigits(out, d.month());
    *out++ = '/';
    out = appendTwoDigits(out, d.year() / 100);
    out = appendTwoDigits(out, d.year() % 100);
    *out++ = ' ';
    out = appendTwoDigits(out, t.hour());
    *out++ = ':';
    out = appendTwoDigits(out, t.minute());
    *out++ = ':';
    out = appendTwoDigits(out, t.second());
    *out++ = '.';
    *out++ = char('0' + t.msec() / 100);
    return appendTwoDigits(out, t.msec() % 100);
}

// Characters that would leave the folder (separators), hide data (':' names an NTFS stream) or that
// no file system takes in a name.
bool isUnsafeInFileName(QChar c)
{
    const ushort u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
        return true;
    switch (u) {
    case '/': case '\\': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
        return true;
    default:
        return false;
    }
}

QString safePart(QString text)
{
    for (QChar &c : text) {
        if (isUnsafeInFileName(c))
            c = QLatin1Char('_');
    }
    return text;
}
}

QByteArray TrackCsv::headerLine()
{
    return QStringLiteral("Temps;Latitude (degr\u00e9s d\u00e9cimaux);Longitude (degr\u00e9s d\u00e9cimaux);"
                          "Altitude (m);Vitesse;PDOP;HDOP;VDOP\r\n")
        .toUtf8();
}

QByteArray TrackCsv::line(const PositionRecord &record)
{
    char buffer[maxLineLength];
    char *const end = buffer + sizeof buffer;
    char *out = appendTime(buffer, record.time);
    const struct
    {
        double value;
        int decimals;
    } columns[] = {
        {record.coords.latitudeDegrees(), 6},
        {record.coords.longitudeDegrees(), 6},
        {record.altitude, 1},
        {record.speed, 2},
        {record.pdop, 1},
        {record.hdop, 1},
        {record.vdop, 1},
    };
    for (const auto &column : columns) {
        *out++ = ';';
        out = appendFixed(out, end, column.value, column.decimals);
    }
    *out++ = '\r';
    *out++ = '\n';
    return QByteArray(buffer, static_cast<int>(out - buffer));
}

QString TrackCsv::fileName(const QString &moduleName, const QString &serialNumber,
                           const QByteArray &headerDate, const QByteArray &headerTime)
{
    return QStringLiteral("%1_%2_%3_%4.csv")
        .arg(safePart(moduleName), safePart(serialNumber), safePart(QString::fromLatin1(headerDate)),
             safePart(QString::fromLatin1(headerTime)));
}
