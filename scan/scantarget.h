// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// What a scan tries: ranges of Ethernet addresses and serial ports with the line
// settings to try on each, parsed from tolvanectl's TARGET texts.

#include "controller/conntext.h"

#include <QList>
#include <QString>
#include <optional>

namespace scan {

// One line setting: 8 data bits always (the link is binary).
struct LineSetting {
    int baud = 38400;
    char parity = 'N';                       // 'E', 'N' or 'O'
    QString stopBits = QStringLiteral("1");  // "1", "1.5" or "2"
    bool operator==(const LineSetting&) const = default;
};

struct Target {
    bool serial = false;
    // Ethernet: the addresses first to last, both included, as numbers (IPv4ToNumber).
    quint32 first = 0, last = 0;
    // Serial: port N (COM N), or every port the connection page lists when allPorts is
    // set (looked up when the scan starts), with the settings tried one after another.
    int port = 0;
    bool allPorts = false;
    QList<LineSetting> settings;
    qint64 count() const { return serial ? settings.size() : qint64(last) - qint64(first) + 1; }
};

// The most addresses one range or prefix may hold.
inline constexpr qint64 kMaxAddresses = 65536;

// The rates a bare com:N tries, in order: the factory rate 38400 first, then the rest
// of the connection page's list.
QList<int> ScanRates();

// eth:A.B.C.D, eth:A.B.C.D/NN (NN 16 to 32; for /30 and wider the network and broadcast
// addresses are left out), eth:A.B.C.D-E.F.G.H (at most kMaxAddresses), com:N,
// com:N:BAUD:P:8:STOP or com:all. nullopt with a reason for anything else.
std::optional<Target> ParseTarget(const QString& text, QString* error);

// The connection text of one Ethernet address or port setting, as read, write and the
// wizard's first page take it: eth:A.B.C.D, com:N:BAUD:P:8:STOP.
QString EthernetConn(quint32 address);
QString SerialConn(int port, const LineSetting& s);
ConnText SerialText(int port, const LineSetting& s);

}  // namespace scan
