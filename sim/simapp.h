// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The simulator program: command line, transports, signals, the "ready" line.

class QCoreApplication;

namespace sim {

// Runs tolvane-sim with the application's arguments; returns the exit code.
int runSimulator(QCoreApplication& app);

}  // namespace sim
