// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "wizard/finder.h"

#include "locale/modLocale.h"
#include "settings/serialports.h"
#include "wizard/wizardmodel.h"

#include <QLocale>
#include <QNetworkInterface>

#include <algorithm>

namespace wizard {

FindRows::FindRows(const QList<RecentConnection>& recent)
{
    for (const RecentConnection& c : recent)
        m_rows.append(FindRow{c.conn, c.id, c.model, std::nullopt, c.when, false});
}

int FindRows::take(const scan::Found& found)
{
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        FindRow& row = m_rows[i];
        if (row.conn == found.conn) {
            row.id = found.id;
            row.model = found.model;
            row.settings = found.settings;
            row.answered = true;
            return int(i);
        }
    }
    m_rows.append(FindRow{found.conn, found.id, found.model, found.settings, std::nullopt, true});
    return int(m_rows.size() - 1);
}

void FindRows::restart()
{
    m_rows.removeIf([](const FindRow& r) { return !r.used; });
    for (FindRow& r : m_rows) {
        r.answered = false;
        r.settings.reset();
    }
}

QString StartRange(const IPv4& address)
{
    IPv4 network = address;
    network[3] = 0;
    return FormatIPv4(network) + QStringLiteral("/24");
}

QList<OwnNetwork> OwnNetworks()
{
    QList<OwnNetwork> out, loopback;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        if (!i.flags().testFlag(QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& e : i.addressEntries()) {
            if (e.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            const int prefix = std::clamp(e.prefixLength(), 24, 32);
            const quint32 mask = prefix == 0 ? 0 : ~quint32(0) << (32 - prefix);
            const quint32 network = e.ip().toIPv4Address() & mask;
            const IPv4 n{quint8(network >> 24), quint8(network >> 16), quint8(network >> 8), quint8(network)};
            OwnNetwork own{FormatIPv4(n) + QLatin1Char('/') + QString::number(prefix), i.humanReadableName()};
            QList<OwnNetwork>& list = e.ip().isLoopback() ? loopback : out;
            if (std::none_of(list.begin(), list.end(), [&](const OwnNetwork& o) { return o.range == own.range; }))
                list.append(own);
        }
    }
    return out + loopback;
}

std::optional<QList<scan::Target>> SearchTargets(const QString& range, bool serial)
{
    QString why;
    const std::optional<scan::Target> ethernet = scan::ParseTarget(QStringLiteral("eth:") + range.trimmed(), &why);
    if (!ethernet || ethernet->serial)
        return std::nullopt;
    QList<scan::Target> targets{*ethernet};
    if (serial)
        targets.append(*scan::ParseTarget(QStringLiteral("com:all"), &why));
    return targets;
}

bool PageShows(const ConnText& t, const QList<int>& ports)
{
    if (!t.serial)
        return true;
    return ports.contains(t.port) && BaudRates().data.contains(t.baud)
           && std::find(vocab::kParityLetters.begin(), vocab::kParityLetters.end(), t.parity)
                  != vocab::kParityLetters.end()
           && DataLengths().data.contains(t.dataBits) && StopBits().texts.contains(t.stopBits);
}

QString StatusText(const FindRow& row)
{
    if (!row.used)
        return LStr(9038);
    const QString when = QLocale().toString(row.used->toLocalTime(), QStringLiteral("yyyy-MM-dd HH:mm"));
    return LFormat(row.answered ? 9037 : 9036, when);
}

QString SearchProgressText(const scan::ScanProgress& p, SearchState state)
{
    const int id = state == SearchState::kRunning ? 9039 : state == SearchState::kDone ? 9040 : 9041;
    return LFormat(id, p.tried, p.total, p.found);
}

}  // namespace wizard
