// Programs a test runs as processes of their own (kitsim, quorvel-cli): what they print gathered as
// it comes, bounded waits on it, and every process still running stopped at the end of the test.
#pragma once

#include <QMap>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// Runs the event loop until `condition` holds; false when it still does not after a minute. The
// tests wait on events: the bound only ends a hang.
bool waitUntil(const std::function<bool()> &condition);

class ChildProcesses : public QObject
{
public:
    ~ChildProcesses() override;

    QProcess *start(const QString &program, const QStringList &arguments);
    // kitsim with `arguments`, once it says it listens on its socket; nullptr (with a warning that
    // gives what it printed) when it ended instead.
    QProcess *startKitsim(const QStringList &arguments);
    static QString kitsimProgram();

    // Standard output and error so far, as UTF-8.
    QString output(QProcess *process) const { return m_output.value(process); }
    QString errors(QProcess *process) const { return m_errors.value(process); }
    bool waitForOutput(QProcess *process, const QString &text);
    bool waitForError(QProcess *process, const QString &text);
    // Until the process has ended.
    bool waitForEnd(QProcess *process);

    // Ends every process still running (woken first, should the test have stopped it) and forgets
    // them all.
    void stopAll();

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
    QMap<QProcess *, QString> m_output;
    QMap<QProcess *, QString> m_errors;
};
