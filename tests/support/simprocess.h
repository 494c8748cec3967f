// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Starts the real controller simulator (tolvane-sim) for a test and stops it again.

#include <QProcess>
#include <QString>
#include <QStringList>

class SimProcess {
public:
    // args are tolvane-sim's arguments, e.g. {"--listen", "127.0.2.1", "--state", path}.
    explicit SimProcess(QStringList args);
    ~SimProcess();  // stop()
    // Starts the simulator and waits for its "ready" line (no fixed sleeps).
    bool start(int timeoutMs = 15000);
    // SIGTERM, then waits for the exit; returns the exit code (-1 when it crashed).
    int stop(int timeoutMs = 10000);
    bool running() const;
    QProcess& process() { return m_proc; }
    QByteArray stderrText();
    // $TOLVANE_BIN_DIR/tolvane-sim.
    static QString executable();
private:
    QStringList m_args;
    QProcess m_proc;
};
