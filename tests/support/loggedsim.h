// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// A simulator with its own request log, and a free loopback address for it: shared by
// the tests that judge the controller routines and tolvanectl by what reached the
// controller (the log format is described in simprocess.h).

#include "tests/support/simprocess.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// An address of net (e.g. "127.0.2") on which nothing listens at the protocol's port
// right now. Each process starts at its own place, as another build of the same tests
// may run at the same time; hosts 2 to 9 are never handed out, so that cases needing an
// address where nothing listens can use them.
QString FreeLoopbackAddress(const QString& net);

class LoggedSim {
public:
    // transport: {"--listen", ADDRESS} or {"--pty", LINK}; extra: further arguments.
    explicit LoggedSim(const QStringList& transport, const QStringList& extra = {});
    bool start();  // warns with the simulator's standard error when it did not start
    SimProcess& process() { return *m_sim; }

    // The log's lines, whole.
    QStringList lines() const;
    // The lines without their connection and sequence numbers: "EXECUTE doSignal 0,0 -> OK".
    QStringList requests() const;
    // The (channel,phase) of every doSignal the controller received, in order; resends left out.
    QStringList signalPairs() const;
    // How many requests start with prefix.
    int count(const QString& prefix) const;

private:
    QTemporaryDir m_dir;
    QString m_log;
    std::unique_ptr<SimProcess> m_sim;
};
