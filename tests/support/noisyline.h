// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// A noisy serial line for tests: a relay between the simulator's pseudo-terminal and a
// new one that the client opens as its COM port. Each byte that passes, in either
// direction, is with probability `rate` damaged (one to eight bits flipped), dropped,
// or preceded by an inserted random byte, one of the three with equal chance. The
// choices come from a seeded generator, so a run sees the same noise each time.

#include <QByteArray>
#include <QString>

#include <atomic>
#include <thread>

class NoisyLine {
public:
    // simLine: the simulator's --pty link; clientLink: the link to create for the
    // client (a COM port's path in the ports folder).
    NoisyLine(QString simLine, QString clientLink, double rate, quint32 seed);
    ~NoisyLine();
    bool start();  // false when a pseudo-terminal or the link cannot be made
    quint64 bytes() const { return m_bytes; }    // bytes that passed
    quint64 changed() const { return m_changed; }  // bytes damaged, dropped or inserted
private:
    void run();
    QString m_simLine, m_clientLink;
    double m_rate;
    quint32 m_seed;
    int m_sim = -1, m_master = -1, m_slave = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<quint64> m_bytes{0}, m_changed{0};
    std::thread m_thread;
};
