// Formatting of the track files, with Qt's locale-free conversions: numbers as QString::number (and
// QString::arg) write them in the C locale (exact decimal rounding, ties away from zero, "nan",
// "inf", no sign on a negative zero), the time in the C locale's ASCII digits.
#include "TrackCsv.h"

#include "PositionRecord.h"

#include <QLocale>

namespace
{
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
    QByteArray line;
    line.reserve(96);
    if (record.time.isValid())
        line += QLocale::c().toString(record.time, QStringLiteral("dd/MM/yyyy hh:mm:ss.zzz")).toLatin1();
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
        line += ';';
        line += QByteArray::number(column.value, 'f', column.decimals);
    }
    line += "\r\n";
    return line;
}

QString TrackCsv::fileName(const QString &moduleName, const QString &serialNumber,
                           const QByteArray &headerDate, const QByteArray &headerTime)
{
    return QStringLiteral("%1_%2_%3_%4.csv")
        .arg(safePart(moduleName), safePart(serialNumber), safePart(QString::fromLatin1(headerDate)),
             safePart(QString::fromLatin1(headerTime)));
}
