// Runs gpsbabel in the C locale and reads its unicsv output by the names of its columns.
#include "GpsbabelReader.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>

#include <limits>

namespace
{
QString program()
{
    return QStandardPaths::findExecutable(QStringLiteral("gpsbabel"));
}
}

bool GpsbabelReader::available()
{
    return !program().isEmpty();
}

QVector<GpsbabelReader::Point> GpsbabelReader::trackPoints(const QString &gpxPath, QString *error)
{
    QProcess gpsbabel;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    gpsbabel.setProcessEnvironment(environment);
    gpsbabel.start(program(),
                   QStringList{"-t", "-i", "gpx", "-f", gpxPath, "-o", "unicsv", "-F", "-"});
    if (!gpsbabel.waitForFinished(60000) || gpsbabel.exitStatus() != QProcess::NormalExit
        || gpsbabel.exitCode() != 0) {
        *error = QStringLiteral("gpsbabel failed: %1 %2")
                     .arg(gpsbabel.errorString(),
                          QString::fromLocal8Bit(gpsbabel.readAllStandardError()));
        return {};
    }
    const QStringList lines = QString::fromUtf8(gpsbabel.readAllStandardOutput())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVector<Point> points;
    if (lines.isEmpty())
        return points;
    const QStringList columns = lines.first().trimmed().split(QLatin1Char(','));
    const int latitude = columns.indexOf(QStringLiteral("Latitude"));
    const int longitude = columns.indexOf(QStringLiteral("Longitude"));
    const int altitude = columns.indexOf(QStringLiteral("Altitude"));
    const int date = columns.indexOf(QStringLiteral("Date"));
    const int time = columns.indexOf(QStringLiteral("Time"));
    if (latitude < 0 || longitude < 0) {
        *error = QStringLiteral("gpsbabel wrote no position columns: %1").arg(lines.first());
        return {};
    }
    for (int i = 1; i < lines.size(); ++i) {
        const QStringList fields = lines.at(i).trimmed().split(QLatin1Char(','));
        if (fields.size() != columns.size()) {
            *error = QStringLiteral("unexpected gpsbabel line: %1").arg(lines.at(i));
            return {};
        }
        Point point;
        point.latitude = fields.at(latitude).toDouble();
        point.longitude = fields.at(longitude).toDouble();
        point.elevation = altitude >= 0 && !fields.at(altitude).isEmpty()
                              ? fields.at(altitude).toDouble()
                              : std::numeric_limits<double>::quiet_NaN();
        if (date >= 0 && time >= 0 && !fields.at(date).isEmpty()) {
            // Whole seconds have no fraction.
            const QString clock = fields.at(time);
            const QString clockFormat = clock.contains(QLatin1Char('.'))
                                            ? QStringLiteral("hh:mm:ss.zzz")
                                            : QStringLiteral("hh:mm:ss");
            point.time = QDateTime(QDate::fromString(fields.at(date), QStringLiteral("yyyy/MM/dd")),
                                   QTime::fromString(clock, clockFormat), Qt::UTC);
        }
        points.append(point);
    }
    return points;
}

QString GpsbabelReader::mismatch(const QString &gpxPath, const QString &csvPath,
                                 const QString &timeFormat)
{
    QString error;
    const QVector<Point> points = trackPoints(gpxPath, &error);
    if (!error.isEmpty())
        return error;
    QFile csv(csvPath);
    if (!csv.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1").arg(csvPath);
    const QList<QByteArray> lines = csv.readAll().split('\n');
    int next = 0;
    for (int i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).trimmed().split(';');
        if (fields.size() < 3)
            continue;
        const double latitude = fields.at(1).toDouble();
        const double longitude = fields.at(2).toDouble();
        if (!(latitude >= -90 && latitude <= 90 && longitude >= -180 && longitude < 180))
            continue;
        // Read as written, then taken as UTC: the local time zone plays no part.
        const QStringList dateAndTime = QString::fromLatin1(fields.at(0)).split(QLatin1Char(' '));
        const QStringList formats = timeFormat.split(QLatin1Char(' '));
        QDateTime rowTime;
        if (dateAndTime.size() == 2 && formats.size() == 2)
            rowTime = QDateTime(QDate::fromString(dateAndTime.at(0), formats.at(0)),
                                QTime::fromString(dateAndTime.at(1), formats.at(1)), Qt::UTC);
        if (next >= points.size())
            return QStringLiteral("no point for CSV line %1").arg(i + 1);
        const Point &point = points.at(next++);
        if (qAbs(point.latitude - latitude) > 0.6e-6 || qAbs(point.longitude - longitude) > 0.6e-6
            || point.time != rowTime)
            return QStringLiteral("CSV line %1 (%2) read back as %3,%4 at %5")
                .arg(i + 1)
                .arg(QString::fromLatin1(lines.at(i).trimmed()))
                .arg(point.latitude, 0, 'f', 6)
                .arg(point.longitude, 0, 'f', 6)
                .arg(point.time.toString(Qt::ISODateWithMs));
    }
    if (next != points.size())
        return QStringLiteral("%1 points for %2 CSV rows").arg(points.size()).arg(next);
    return QString();
}
