// Recovery files of the station's records: opened in binary append like the records files, with
// their header when empty, and written in one go so that a file never ends in half a row.
#include "RecordsRecovery.h"

#include "RecordsFileParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>

namespace
{
// Beacon names hold at most 8 characters, so no records file is ever called like this.
const QString recoverySuffix = QStringLiteral("_recuperation.csv");

QString recoveryName(const QString &recordsPath)
{
    const QFileInfo records(recordsPath);
    return records.completeBaseName() + recoverySuffix;
}
}

RecordsRecovery &RecordsRecovery::instance()
{
    static RecordsRecovery recovery;
    return recovery;
}

QString RecordsRecovery::recoveryPathBeside(const QString &recordsPath)
{
    return QFileInfo(recordsPath).path() + QLatin1Char('/') + recoveryName(recordsPath);
}

QString RecordsRecovery::recoveryPathInTemp(const QString &recordsPath)
{
    return QDir::tempPath() + QLatin1Char('/') + recoveryName(recordsPath);
}

bool RecordsRecovery::append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    // A file left empty by an earlier failed write still takes its header.
    const qint64 before = file.size();
    const QByteArray all = before > 0 ? bytes : RecordsFileParser::header() + bytes;
    if (file.write(all) == all.size())
        return true;
    // A short write is taken back: the rows stay owed as a whole, and the file ends where it did.
    file.resize(before);
    return false;
}

QString RecordsRecovery::save(const QString &recordsPath, const QList<QByteArray> &rows)
{
    QByteArray bytes;
    for (const QByteArray &row : rows)
        bytes += row;
    QDir().mkpath(QFileInfo(recordsPath).path());
    QString path = recoveryPathBeside(recordsPath);
    if (!append(path, bytes)) {
        path = recoveryPathInTemp(recordsPath);
        if (!append(path, bytes))
            return QString();
    }
    if (!m_announced.contains(path)) {
        m_announced.insert(path);
        if (isSignalConnected(QMetaMethod::fromSignal(&RecordsRecovery::recoveryStarted)))
            emit recoveryStarted(path);
        else
            qWarning("Records that could not be written to %s are kept in %s",
                     qUtf8Printable(QDir::toNativeSeparators(recordsPath)),
                     qUtf8Printable(QDir::toNativeSeparators(path)));
    }
    return path;
}

void RecordsRecovery::lose(const QString &recordsPath, const QList<QByteArray> &rows)
{
    if (rows.isEmpty())
        return;
    QByteArray bytes;
    for (const QByteArray &row : rows)
        bytes += row;
    qWarning("Records that could be written nowhere, for %s:\n%s",
             qUtf8Printable(QDir::toNativeSeparators(recordsPath)), bytes.constData());
    emit rowsLost(recordsPath, rows.size());
}
