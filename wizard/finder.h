// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The Find dialog's rules without a window: its rows (the connections used recently,
// and the controllers a search finds, merged by connection), the range it starts with,
// the PC's own networks to pick from, what a search tries, whether the first page can
// show a row, and the texts of its status column and progress line.

#include "controller/commlink.h"
#include "controller/conntext.h"
#include "scan/scanner.h"
#include "wizard/recent.h"

#include <QList>
#include <QString>
#include <optional>

namespace wizard {

struct FindRow {
    QString conn;
    QString id, model;
    std::optional<CommSettings> settings;  // what the search read of the settings
    std::optional<QDateTime> used;         // a recent connection: when it was used
    bool answered = false;                 // it answered the search under way or last
};

class FindRows {
public:
    explicit FindRows(const QList<RecentConnection>& recent);
    const QList<FindRow>& rows() const { return m_rows; }
    // A controller that answered: the row of its connection is marked and takes its id,
    // model and settings; else it is added last. The row's index.
    int take(const scan::Found& found);
    // Before a new search: rows that were only found go, recent ones are unmarked.
    void restart();

private:
    QList<FindRow> m_rows;
};

// The range a search starts with: the /24 of the first page's address.
QString StartRange(const IPv4& address);

// The PC's own IPv4 networks as ranges, each at most the /24 around the PC's address
// in it (a wider network is there to type), with the interface's name; loopback last.
struct OwnNetwork {
    QString range;
    QString interfaceName;
};
QList<OwnNetwork> OwnNetworks();

// What a search tries: the range in the forms tolvanectl's eth: targets take (A.B.C.D,
// A.B.C.D/NN, A.B.C.D-E.F.G.H) and, with serial, every port the first page lists at
// every rate. nullopt when the range is no range (blanks around it do not count).
std::optional<QList<scan::Target>> SearchTargets(const QString& range, bool serial);

// Whether the first page can show a connection: Ethernet, or a port it lists at a rate,
// parity, data length and stop bits its lists hold.
bool PageShows(const ConnText& t, const QList<int>& ports);

// The status column: when a recent connection was used, whether it answers now, or
// that a search found it.
QString StatusText(const FindRow& row);
// The progress line: tried of total and found, while searching, when done or stopped.
enum class SearchState { kRunning, kDone, kStopped };
QString SearchProgressText(const scan::ScanProgress& p, SearchState state);

}  // namespace wizard
