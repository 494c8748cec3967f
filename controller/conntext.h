// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The connection text, eth:A.B.C.D or com:N:BAUD:P:DATA:STOP: one parser and one
// formatter for the engine's option string, the wizard's first page, tolvanectl's
// --conn and the scanner's targets and results.

#include "ipv4/ipv4.h"

#include <QString>
#include <QStringView>
#include <optional>

struct ConnText {
    bool serial = false;
    IPv4 address{};  // eth:
    int port = 0;    // com: COM N, 1 to 256
    int baud = 0;
    char parity = 'N';  // 'E', 'N' or 'O'
    int dataBits = 8;
    QString stopBits = QStringLiteral("1");  // "1", "1.5" or "2"
    bool operator==(const ConnText&) const = default;
};

// The syntax, exactly as the formatter writes it: "eth" and "com" in lower case, the
// parity letter in upper case, numbers of ASCII digits alone (leading zeros are
// decimal), no blank anywhere; the port 1 to 256, the rate 1 to 100000000, DATA 1 to
// 64. Whether COM N has a device, and whether the link can carry DATA bits
// (NotLinkable), are the caller's to ask. nullopt with the reason in why otherwise.
std::optional<ConnText> ParseConnText(QStringView text, QString* why = nullptr);

// "eth:" and the address without leading zeros, or "com:" and the five fields.
QString FormatConnText(const ConnText& t);

// Why the link cannot use a well-formed text (it is binary and needs 8 data bits);
// empty when it can.
QString NotLinkable(const ConnText& t);
