// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Starts the real controller simulator (tolvane-sim) for a test and stops it again.
//
// The simulator's request log (tolvane-sim --log FILE) has one line per request it
// received, appended and flushed at once:
//   <conn> <seq> <OPNAME> <details> -> <STATUS>[ (resent)][ (corrupted)]
// e.g. "3 7 EXECUTE doSignal 1,0 -> OK", "3 8 WRITE_RECORD @CNF_RAW_COM 0+256/256 -> OK",
// "1 2 READ_RECORD @CNF_BACKPRM 4096+4096 -> OK", "1 5 EXECUTE ClearError 12 -> FAILED",
// "1 0 OPEN tolvane -> OK", "1 9 CLOSE -> OK", "1 1 READ_VALUE @ERROR_CODE -> OK",
// "1 3 RECORD_SIZE @CNF_RAW_COM -> OK", "1 14 RECORD_DIGEST @CNF_BACKPRM -> OK",
// "1 19 PATCH_RECORD @CNF_BACKPRM 23972+8/24576 -> OK" (NAME OFFSET+LENGTH,…/SIZE).
// <conn> counts the simulator's connections from 1 (a pty or serial line is connection 1);
// READ_RECORD details are NAME OFFSET+LENGTH, WRITE_RECORD NAME OFFSET+LENGTH/TOTAL;
// a payload that does not parse shows "(malformed)". A retry answered from the kept
// response ends in "(resent)" and was not executed again. The fault switches log
// "(dropped)", "(stalled)" or "(exit)" in place of the status ("OK (exit)" for
// exit-after-apply) and "(corrupted)" after it. tolvane-sim --help has the full list.

#include "sim/simstate.h"

#include <QProcess>
#include <QString>
#include <QStringList>

#include <optional>

// Lines of the simulator's request log, without the trailing newline; empty when the
// file is missing.
QStringList readSimLog(const QString& path);

// What a simulator stored in its state file (--state FILE): records by name and the
// error code; nullopt when the file is missing or damaged.
std::optional<sim::ControllerState> readSimState(const QString& path);

class SimProcess {
public:
    // args are tolvane-sim's arguments, e.g. {"--listen", "127.0.2.1", "--state", path}.
    explicit SimProcess(QStringList args);
    ~SimProcess();  // stop()
    // Starts the simulator and waits for its "ready" line (no fixed sleeps).
    bool start(int timeoutMs = 15000);
    // Waits for the next "ready" line, which the simulator prints again after a reboot.
    bool waitForReady(int timeoutMs = 15000);
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
    QByteArray m_startError;  // standard error of a start that failed, for stderrText()
};
