// GPX 1.1 output of downloaded tracks. Coordinates and numbers take the precision of the CSV columns;
// times are ISO 8601 in UTC with milliseconds. Texts are stripped of the characters XML cannot hold.
#include "GpxWriter.h"

#include "PositionRecord.h"

#include <QFileInfo>

#include <cmath>

namespace
{
const QString gpxNamespace = QStringLiteral("http://www.topografix.com/GPX/1/1");
const QString schemaInstance = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");

// Characters outside XML 1.0's Char production (controls, lone surrogates, U+FFFE and U+FFFF) become
// U+FFFD; the writer escapes the rest.
QString xmlText(const QString &text)
{
    QString clean;
    clean.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const ushort u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            clean += c;
            clean += text.at(++i);
            continue;
        }
        const bool allowed = u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u < 0xD800)
            || (u >= 0xE000 && u <= 0xFFFD);
        clean += allowed ? c : QChar(QChar::ReplacementCharacter);
    }
    return clean;
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}
}

GpxWriter::GpxWriter(const QString &creator) : m_creator(creator)
{
}

GpxWriter::~GpxWriter()
{
    finish();
}

QString GpxWriter::gpxPath(const QString &csvPath)
{
    const QFileInfo info(csvPath);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".gpx");
}

void GpxWriter::trackStarted(const QString &csvPath)
{
    finish();
    m_file.setFileName(gpxPath(csvPath));
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_failed << m_file.fileName();
        return;
    }
    m_xml.setDevice(&m_file);
    m_xml.setAutoFormatting(true);
    m_xml.setAutoFormattingIndent(2);
    m_xml.writeStartDocument();
    m_xml.writeDefaultNamespace(gpxNamespace);
    m_xml.writeNamespace(schemaInstance, QStringLiteral("xsi"));
    m_xml.writeStartElement(gpxNamespace, QStringLiteral("gpx"));
    m_xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    m_xml.writeAttribute(QStringLiteral("creator"), xmlText(m_creator));
    m_xml.writeAttribute(schemaInstance, QStringLiteral("schemaLocation"),
                         gpxNamespace + QStringLiteral(" http://www.topografix.com/GPX/1/1/gpx.xsd"));
    m_xml.writeStartElement(gpxNamespace, QStringLiteral("trk"));
    m_xml.writeTextElement(gpxNamespace, QStringLiteral("name"),
                           xmlText(QFileInfo(csvPath).completeBaseName()));
    m_xml.writeStartElement(gpxNamespace, QStringLiteral("trkseg"));
}

void GpxWriter::recordWritten(const PositionRecord &record)
{
    if (!m_file.isOpen())
        return;
    const double latitude = record.coords.latitudeDegrees();
    const double longitude = record.coords.longitudeDegrees();
    // GPX bounds: latitude -90 to 90, longitude -180 up to (not including) 180.
    if (!(latitude >= -90 && latitude <= 90 && longitude >= -180 && longitude < 180))
        return;

    m_xml.writeStartElement(gpxNamespace, QStringLiteral("trkpt"));
    m_xml.writeAttribute(QStringLiteral("lat"), fixed(latitude, 6));
    m_xml.writeAttribute(QStringLiteral("lon"), fixed(longitude, 6));
    // The schema's order: ele, time, then (after elements not written here) hdop, vdop, pdop.
    if (std::isfinite(record.altitude))
        m_xml.writeTextElement(gpxNamespace, QStringLiteral("ele"), fixed(record.altitude, 1));
    if (record.time.isValid())
        m_xml.writeTextElement(gpxNamespace, QStringLiteral("time"),
                               record.time.toUTC().toString(Qt::ISODateWithMs));
    const struct
    {
        const char *name;
        double value;
    } dops[] = {{"hdop", record.hdop}, {"vdop", record.vdop}, {"pdop", record.pdop}};
    for (const auto &dop : dops) {
        if (std::isfinite(dop.value))
            m_xml.writeTextElement(gpxNamespace, QLatin1String(dop.name), fixed(dop.value, 1));
    }
    m_xml.writeEndElement();
}

void GpxWriter::trackEnded()
{
    finish();
}

void GpxWriter::finish()
{
    if (!m_file.isOpen())
        return;
    m_xml.writeEndDocument();  // closes trkseg, trk and gpx
    const bool ok = !m_xml.hasError() && m_file.flush();
    m_xml.setDevice(nullptr);
    m_file.close();
    if (ok && m_file.error() == QFileDevice::NoError) {
        m_written << m_file.fileName();
        return;
    }
    // A GPX file cut short is not well-formed: better none than a broken one.
    m_failed << m_file.fileName();
    m_file.remove();
}
