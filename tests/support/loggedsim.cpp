// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tests/support/loggedsim.h"

#include "protocol/protocol.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QSet>
#include <QTcpServer>

#include <algorithm>

QString FreeLoopbackAddress(const QString& net)
{
    static int next = int(QCoreApplication::applicationPid() * 97 % 240);  // neighbours far apart
    for (int tries = 0; tries < 240; ++tries) {
        const QString address = QStringLiteral("%1.%2").arg(net).arg(10 + next++ % 240);
        QTcpServer probe;
        if (probe.listen(QHostAddress(address), proto::kTcpPort))
            return address;
    }
    return net + QStringLiteral(".250");
}

LoggedSim::LoggedSim(const QStringList& transport, const QStringList& extra)
    : m_log(m_dir.filePath(QStringLiteral("requests.log"))),
      m_state(m_dir.filePath(QStringLiteral("controller.state"))),
      m_args(transport + QStringList{QStringLiteral("--log"), m_log, QStringLiteral("--state"), m_state} + extra)
{
    if (qEnvironmentVariableIsSet("XDG_CACHE_HOME"))
        m_savedCacheHome = qgetenv("XDG_CACHE_HOME");
    qputenv("XDG_CACHE_HOME", cacheHome().toUtf8());
}

LoggedSim::~LoggedSim()
{
    if (m_savedCacheHome)
        qputenv("XDG_CACHE_HOME", *m_savedCacheHome);
    else
        qunsetenv("XDG_CACHE_HOME");
}

bool LoggedSim::seed(const sim::ControllerState& state)
{
    return sim::saveStateFile(m_state, state, nullptr);
}

std::optional<sim::ControllerState> LoggedSim::state() const
{
    return readSimState(m_state);
}

sim::ControllerState LoggedSim::stopAndRead()
{
    if (m_sim)
        m_sim->stop();
    return state().value_or(sim::ControllerState{});
}

bool LoggedSim::start(const QStringList& more)
{
    m_sim = std::make_unique<SimProcess>(m_args + more);
    if (m_sim->start())
        return true;
    qWarning("tolvane-sim did not start: %s", m_sim->stderrText().constData());
    return false;
}

QStringList LoggedSim::lines() const
{
    QStringList out;
    for (const QString& l : readSimLog(m_log))
        if (!l.trimmed().isEmpty())
            out << l.trimmed();
    return out;
}

QStringList LoggedSim::requests(const QString& client) const
{
    QStringList out;
    QSet<QString> theirs;
    for (const QString& l : lines()) {
        const QString conn = l.section(QLatin1Char(' '), 0, 0);
        const QString request = l.section(QLatin1Char(' '), 2);
        if (request == QStringLiteral("OPEN %1 -> OK").arg(client))
            theirs.insert(conn);
        if (client.isEmpty() || theirs.contains(conn))
            out << request;
    }
    return out;
}

QStringList LoggedSim::signalPairs() const
{
    QStringList out;
    for (const QString& r : requests())
        if (r.startsWith(QLatin1String("EXECUTE doSignal ")) && !r.contains(QLatin1String("(resent)")))
            out << r.section(QLatin1Char(' '), 2, 2);
    return out;
}

int LoggedSim::count(const QString& prefix) const
{
    int n = 0;
    for (const QString& r : requests())
        n += r.startsWith(prefix) ? 1 : 0;
    return n;
}

int LoggedSim::writes(const QString& record) const
{
    const QString tail = record.isEmpty() ? QString() : QLatin1Char(' ') + record + QLatin1Char(' ');
    return count(QStringLiteral("WRITE_RECORD") + tail) + count(QStringLiteral("PATCH_RECORD") + tail);
}

QList<int> DifferingBytes(const QByteArray& a, const QByteArray& b)
{
    QList<int> out;
    for (int i = 0; i < int(std::max(a.size(), b.size())); ++i)
        if (i >= a.size() || i >= b.size() || a[i] != b[i])
            out << i;
    return out;
}

bool AllWithin(const QList<int>& positions, const QList<QPair<int, int>>& ranges)
{
    for (int i : positions) {
        const bool inside = std::any_of(ranges.begin(), ranges.end(),
                                        [i](const QPair<int, int>& r) { return i >= r.first && i <= r.second; });
        if (!inside) {
            qWarning("byte %d changed outside the allowed ranges", i);
            return false;
        }
    }
    return true;
}
