// GPX 1.1 output of one track. Texts are stripped of the characters XML cannot hold.
#include "GpxTrackFile.h"

#include <cmath>

namespace
{
const QString gpxNamespace = QStringLiteral("http://www.topografix.com/GPX/1/1");
const QString schemaInstance = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");

// Characters outside XML 1.0's Char production (controls, lone surrogates, U+FFFE and U+FFFF)
// become U+FFFD; the writer escapes the rest.
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

// QString::number writes the C locale's digits whatever the user's locale.
QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}
}

GpxTrackFile::GpxTrackFile(const QString &creator) : m_creator(creator)
{
}

GpxTrackFile::~GpxTrackFile()
{
    close();
}

bool GpxTrackFile::open(const QString &path, const QString &trackName)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        m_error = m_file.errorString();
        return false;
    }
    // A writer of its own for each file: a writer keeps a failed write as its state for good.
    m_xml.emplace(&m_file);
    m_xml->setAutoFormatting(true);
    m_xml->setAutoFormattingIndent(2);
    m_xml->writeStartDocument();
    m_xml->writeDefaultNamespace(gpxNamespace);
    m_xml->writeNamespace(schemaInstance, QStringLiteral("xsi"));
    m_xml->writeStartElement(gpxNamespace, QStringLiteral("gpx"));
    m_xml->writeAttribute(QStringLiteral("version"), QStringLiteral("1.1"));
    m_xml->writeAttribute(QStringLiteral("creator"), xmlText(m_creator));
    m_xml->writeAttribute(
        schemaInstance, QStringLiteral("schemaLocation"),
        gpxNamespace + QStringLiteral(" http://www.topografix.com/GPX/1/1/gpx.xsd"));
    m_xml->writeStartElement(gpxNamespace, QStringLiteral("trk"));
    m_xml->writeTextElement(gpxNamespace, QStringLiteral("name"), xmlText(trackName));
    m_xml->writeStartElement(gpxNamespace, QStringLiteral("trkseg"));
    return true;
}

bool GpxTrackFile::addPoint(const Point &point)
{
    if (!m_file.isOpen())
        return false;
    // Also false for NaN.
    if (!(point.latitude >= -90 && point.latitude <= 90 && point.longitude >= -180
          && point.longitude < 180))
        return false;

    m_xml->writeStartElement(gpxNamespace, QStringLiteral("trkpt"));
    m_xml->writeAttribute(QStringLiteral("lat"), fixed(point.latitude, 6));
    m_xml->writeAttribute(QStringLiteral("lon"), fixed(point.longitude, 6));
    // The schema's order: ele, time, then (after elements not written here) hdop, vdop, pdop.
    if (std::isfinite(point.elevation))
        m_xml->writeTextElement(gpxNamespace, QStringLiteral("ele"), fixed(point.elevation, 1));
    if (point.time.isValid())
        m_xml->writeTextElement(gpxNamespace, QStringLiteral("time"),
                                point.time.toUTC().toString(Qt::ISODateWithMs));
    const struct
    {
        const char *name;
        double value;
    } dops[] = {{"hdop", point.hdop}, {"vdop", point.vdop}, {"pdop", point.pdop}};
    for (const auto &dop : dops) {
        if (std::isfinite(dop.value))
            m_xml->writeTextElement(gpxNamespace, QLatin1String(dop.name), fixed(dop.value, 1));
    }
    m_xml->writeEndElement();
    return true;
}

bool GpxTrackFile::close()
{
    if (!m_file.isOpen())
        return false;
    m_xml->writeEndDocument(); // closes trkseg, trk and gpx
    const bool ok = !m_xml->hasError() && m_file.flush();
    m_xml.reset();
    m_file.close();
    if (ok && m_file.error() == QFileDevice::NoError)
        return true;
    m_error = m_file.errorString();
    m_file.remove();
    return false;
}
