// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tests/support/loggedsim.h"

#include "controller/protocol.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>

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
      m_sim(std::make_unique<SimProcess>(transport + QStringList{QStringLiteral("--log"), m_log} + extra))
{
}

bool LoggedSim::start()
{
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

QStringList LoggedSim::requests() const
{
    QStringList out;
    for (const QString& l : lines())
        out << l.section(QLatin1Char(' '), 2);
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
