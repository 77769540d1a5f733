// Qt's debug output of the code under test, dropped during fuzzing: the lines are still formatted
// (qDebug formats before it hands over), but millions of them would drown libFuzzer's own report.
#pragma once

#include <QtGlobal>

inline void quietQtMessages()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}
