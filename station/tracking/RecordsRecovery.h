// Where the rows of a records file go when the file stays blocked: a recovery file beside it
// ("<serial>_<name>_recuperation.csv", same header and rows), or in the user's temporary folder when
// the data folder itself cannot be written. Says once per recovery file where the rows went.
// Window thread only.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class RecordsRecovery : public QObject
{
    Q_OBJECT

public:
    static RecordsRecovery &instance();

    // The recovery file of a records file, in the same folder.
    static QString recoveryPathBeside(const QString &recordsPath);
    // The recovery file of a records file, in the user's temporary folder.
    static QString recoveryPathInTemp(const QString &recordsPath);

    // Appends whole rows owed to `recordsPath` to its recovery file, beside it or else in the
    // temporary folder. Returns the file that took them, or an empty text when neither could; then
    // nothing was written and the rows are still the caller's.
    QString save(const QString &recordsPath, const QList<QByteArray> &rows);
    // Rows that could be saved nowhere and are given up: said to the user, and written to the
    // error output so that they can still be copied from there.
    void lose(const QString &recordsPath, const QList<QByteArray> &rows);

signals:
    // The first time during this run that rows went to this recovery file.
    void recoveryStarted(const QString &recoveryPath);
    void rowsLost(const QString &recordsPath, int rows);

private:
    RecordsRecovery() = default;
    static bool append(const QString &path, const QByteArray &bytes);

    QSet<QString> m_announced;
};
