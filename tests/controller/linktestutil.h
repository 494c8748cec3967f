// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Shared pieces of the controller link tests: a window stand-in, a simulator with its
// request log, and readers of that log.

#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "controller/engine.h"
#include "tests/support/simprocess.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// What the wizard window would show; every field settable by the test.
class FakeView : public ControllerView {
public:
    bool ethernet = true;
    std::array<quint8, 4> address{127, 0, 2, 1};
    std::optional<int> port = 1, baud = 38400, parity = 1, dataLength = 8;
    std::optional<QString> stopBit = QStringLiteral("1");
    int device = 0;

    bool EthernetSelected() const override { return ethernet; }
    std::array<quint8, 4> ConnectAddress() const override { return address; }
    std::optional<int> PortNumber() const override { return port; }
    std::optional<int> BaudRate() const override { return baud; }
    std::optional<int> ParityPosition() const override { return parity; }
    std::optional<int> DataLength() const override { return dataLength; }
    std::optional<QString> StopBitText() const override { return stopBit; }
    int DevicePosition() const override { return device; }
};

// One simulator with its own request log in a temporary folder.
class LoggedSim {
public:
    // transport: {"--listen", "127.0.2.N"} or {"--pty", path}
    explicit LoggedSim(const QStringList& transport, const QStringList& extra = {})
    {
        m_log = m_dir.filePath(QStringLiteral("requests.log"));
        m_sim = std::make_unique<SimProcess>(transport + QStringList{QStringLiteral("--log"), m_log} + extra);
    }
    bool start()
    {
        if (m_sim->start())
            return true;
        qWarning("tolvane-sim did not start: %s", m_sim->stderrText().constData());
        return false;
    }
    SimProcess& process() { return *m_sim; }

    QStringList lines() const
    {
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QStringList out;
        for (const QByteArray& l : f.readAll().split('\n'))
            if (!l.trimmed().isEmpty())
                out << QString::fromUtf8(l.trimmed());
        return out;
    }
    // The log lines without their connection and sequence numbers:
    // "EXECUTE doSignal 0,0 -> OK".
    QStringList requests() const
    {
        QStringList out;
        for (const QString& l : lines())
            out << l.section(' ', 2);
        return out;
    }
    // The (channel,phase) pairs of every doSignal the controller answered, in order.
    QStringList signalPairs() const
    {
        QStringList out;
        for (const QString& r : requests())
            if (r.startsWith(QLatin1String("EXECUTE doSignal ")) && !r.contains(QLatin1String("(resent)")))
                out << r.section(' ', 2, 2);
        return out;
    }
    int count(const QString& prefix) const
    {
        int n = 0;
        for (const QString& r : requests())
            n += r.startsWith(prefix) ? 1 : 0;
        return n;
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    std::unique_ptr<SimProcess> m_sim;
};

// Records every engine call of a CommLink.
inline std::shared_ptr<QStringList> TraceInto(CommLink& link)
{
    auto lines = std::make_shared<QStringList>();
    link.engine()->setTraceHook([lines](const QString& l) { lines->append(l); });
    return lines;
}

// Counts of what is still held in the engine's collections.
inline int HeldItems(CommLink& link)
{
    int n = 0;
    if (auto c = link.controller())
        n += c->records().count() + c->values().count();
    return n;
}
