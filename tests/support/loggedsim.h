// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The tests' one simulator fixture: a simulator with its own request log and state
// file, and a free loopback address for it, for the tests that judge the controller
// routines, the wizard and tolvanectl by what reached the controller and what it holds
// (the log format is described in simprocess.h).

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
    // The controller keeps its records in a state file of its own, so that a restart
    // goes on from what it held and a test can read what it holds. While it lives, the
    // records the engine keeps between sessions go to an empty folder of its own too
    // ($XDG_CACHE_HOME, given back afterwards): the simulators of a test start from the
    // same records, and what one left must not answer another's reads.
    explicit LoggedSim(const QStringList& transport, const QStringList& extra = {});
    ~LoggedSim();
    QString cacheHome() const { return m_dir.filePath(QStringLiteral("cache")); }
    // The controller starts from this state instead of a factory-new one.
    bool seed(const sim::ControllerState& state);
    // more: arguments for this start only (a fault switch, say). Warns with the
    // simulator's standard error when it did not start.
    bool start(const QStringList& more = {});
    SimProcess& process() { return *m_sim; }  // after start()

    // What the controller holds now; nullopt before its first start (or a seed).
    std::optional<sim::ControllerState> state() const;
    // Stops the simulator and reads what the controller holds (empty when nothing).
    sim::ControllerState stopAndRead();

    // The log's lines, whole.
    QStringList lines() const;
    // The lines without their connection and sequence numbers: "EXECUTE doSignal 0,0 -> OK";
    // with a client name, only those of the connections that client opened.
    QStringList requests(const QString& client = QString()) const;
    // The (channel,phase) of every doSignal the controller received, in order; resends left out.
    QStringList signalPairs() const;
    // How many requests start with prefix.
    int count(const QString& prefix) const;
    // How many requests wrote to a record (WRITE_RECORD or PATCH_RECORD), of any
    // outcome; with a name, to that record only.
    int writes(const QString& record = QString()) const;

private:
    QTemporaryDir m_dir;
    QString m_log;
    QString m_state;
    QStringList m_args;
    std::unique_ptr<SimProcess> m_sim;
    std::optional<QByteArray> m_savedCacheHome;
};

// Byte positions where two records differ (a position only one of them has counts).
QList<int> DifferingBytes(const QByteArray& a, const QByteArray& b);
// Whether every position lies in one of the ranges [first, last]; warns of the first
// that does not.
bool AllWithin(const QList<int>& positions, const QList<QPair<int, int>>& ranges);
