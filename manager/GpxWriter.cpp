// GPX output of downloaded tracks: each record that reached a CSV file becomes a point of the GPX
// file beside it, with the CSV columns' precision.
#include "GpxWriter.h"

#include "PositionRecord.h"

#include <QFile>
#include <QFileInfo>

GpxWriter::GpxWriter(const QString &creator) : m_file(creator)
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
    const QString path = gpxPath(csvPath);
    if (!m_file.open(path, QFileInfo(csvPath).completeBaseName()))
        m_failed << path;
}

void GpxWriter::recordWritten(const PositionRecord &record)
{
    GpxTrackFile::Point point;
    point.latitude = record.coords.latitudeDegrees();
    point.longitude = record.coords.longitudeDegrees();
    point.elevation = record.altitude;
    point.time = record.time;
    point.hdop = record.hdop;
    point.vdop = record.vdop;
    point.pdop = record.pdop;
    m_file.addPoint(point);
}

void GpxWriter::trackEnded()
{
    finish();
}

void GpxWriter::trackDropped()
{
    if (!m_file.isOpen())
        return;
    const QString path = m_file.fileName();
    m_file.close();
    QFile::remove(path);
}

void GpxWriter::finish()
{
    if (!m_file.isOpen())
        return;
    const QString path = m_file.fileName();
    if (m_file.close())
        m_written << path;
    else
        m_failed << path;
}
