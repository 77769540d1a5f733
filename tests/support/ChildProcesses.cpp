// Starting, watching and stopping the test's child processes.
#include "ChildProcesses.h"

#include <QtTest>

#include <csignal>

namespace
{
constexpr int patienceMs = 60000;
}

bool waitUntil(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, patienceMs);
}

ChildProcesses::~ChildProcesses()
{
    stopAll();
}

QProcess *ChildProcesses::start(const QString &program, const QStringList &arguments)
{
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess *process = m_processes.back().get();
    connect(process, &QProcess::readyReadStandardOutput, this,
            [this, process] { m_output[process] += QString::fromUtf8(process->readAllStandardOutput()); });
    connect(process, &QProcess::readyReadStandardError, this,
            [this, process] { m_errors[process] += QString::fromUtf8(process->readAllStandardError()); });
    process->start(program, arguments);
    // Until the start is confirmed, a busy machine can leave the process in the Starting state
    // for a while after it has already written its first lines.
    process->waitForStarted(-1);
    return process;
}

QString ChildProcesses::kitsimProgram()
{
    return QStringLiteral(KORVANE_KITSIM_PROGRAM);
}

QProcess *ChildProcesses::startKitsim(const QStringList &arguments)
{
    QProcess *kitsim = start(kitsimProgram(), arguments);
    const bool listening = waitUntil([&] {
        return kitsim->state() == QProcess::NotRunning || output(kitsim).contains("kitsim: listening on ");
    });
    if (!listening || kitsim->state() == QProcess::NotRunning) {
        qWarning("kitsim did not start: %s", qPrintable(errors(kitsim)));
        return nullptr;
    }
    return kitsim;
}

bool ChildProcesses::waitForOutput(QProcess *process, const QString &text)
{
    return waitUntil([&] { return output(process).contains(text); });
}

bool ChildProcesses::waitForError(QProcess *process, const QString &text)
{
    return waitUntil([&] { return errors(process).contains(text); });
}

bool ChildProcesses::waitForEnd(QProcess *process)
{
    return waitUntil([process] { return process->state() == QProcess::NotRunning; });
}

void ChildProcesses::stopAll()
{
    for (const std::unique_ptr<QProcess> &process : m_processes) {
        if (process->state() == QProcess::NotRunning)
            continue;
        ::kill(static_cast<pid_t>(process->processId()), SIGCONT);
        process->terminate();
        if (!process->waitForFinished(5000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    m_processes.clear();
    m_output.clear();
    m_errors.clear();
}
