// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tests/support/simprocess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcessEnvironment>

#include <utility>

SimProcess::SimProcess(QStringList args) : m_args(std::move(args))
{
    m_proc.setProgram(executable());
    m_proc.setArguments(m_args);
    m_proc.setProcessChannelMode(QProcess::SeparateChannels);
}

SimProcess::~SimProcess()
{
    stop();
}

QString SimProcess::executable()
{
    QString dir = qEnvironmentVariable("TOLVANE_BIN_DIR");
    if (dir.isEmpty())
        dir = QStringLiteral(".");
    return QDir(dir).filePath(QStringLiteral("tolvane-sim"));
}

bool SimProcess::start(int timeoutMs)
{
    if (running())
        return true;
    m_proc.start();
    if (!m_proc.waitForStarted(timeoutMs))
        return false;
    if (waitForReady(timeoutMs))
        return true;
    const bool hung = m_proc.state() == QProcess::Running;
    if (hung) {
        m_proc.kill();
        m_proc.waitForFinished(timeoutMs);
    }
    // Say why, or the test only learns that start() was false.
    m_startError = m_proc.readAllStandardError();
    qWarning("tolvane-sim %s did not become ready (%s, exit code %d): %s", qPrintable(m_args.join(QLatin1Char(' '))),
             hung ? "killed after the time-out" : "ended", m_proc.exitCode(), m_startError.constData());
    return false;
}

bool SimProcess::waitForReady(int timeoutMs)
{
    // The "ready" line: the simulator prints it once it answers requests.
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (m_proc.canReadLine()) {
            if (m_proc.readLine().trimmed() == "ready")
                return true;
        }
        if (m_proc.state() != QProcess::Running || deadline.hasExpired())
            return false;
        m_proc.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
}

int SimProcess::stop(int timeoutMs)
{
    if (m_proc.state() == QProcess::NotRunning) {
        if (m_proc.exitStatus() == QProcess::CrashExit)
            return -1;
        return m_proc.exitCode();
    }
    m_proc.terminate();  // SIGTERM
    if (!m_proc.waitForFinished(timeoutMs)) {
        m_proc.kill();
        m_proc.waitForFinished(timeoutMs);
        return -1;
    }
    return m_proc.exitStatus() == QProcess::CrashExit ? -1 : m_proc.exitCode();
}

bool SimProcess::running() const
{
    return m_proc.state() != QProcess::NotRunning;
}

std::optional<sim::ControllerState> readSimState(const QString& path)
{
    sim::ControllerState st;
    if (!sim::loadStateFile(path, &st, nullptr))
        return std::nullopt;
    return st;
}

QByteArray SimProcess::stderrText()
{
    return std::exchange(m_startError, QByteArray()) + m_proc.readAllStandardError();
}
