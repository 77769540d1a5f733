// Reading back the files a test made the programs write, and the expected files beside the test
// (the folder KORVANE_TEST_DATA_DIR of the test that includes this).
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace testfiles
{
// The whole file, or "<missing>" when it cannot be read.
inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

#ifdef KORVANE_TEST_DATA_DIR
inline QByteArray expected(const QString &name)
{
    return fileBytes(QStringLiteral(KORVANE_TEST_DATA_DIR "/") + name);
}
#endif

// Lines ended by '\n'; -1 when the file cannot be read.
inline int lineCount(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().count('\n') : -1;
}
} // namespace testfiles
