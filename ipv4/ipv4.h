// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The one IPv4 address type of the program, with its one parser and one formatter: the
// address controls, the settings records, the connection text and tolvanectl all use
// these, so that an address means the same everywhere.

#include <QString>
#include <QStringView>
#include <array>
#include <optional>

using IPv4 = std::array<quint8, 4>;  // first octet first

// Dotted decimal "A.B.C.D": four fields of one to three ASCII digits, each at most 255,
// leading zeros allowed ("010" is ten, never octal); blanks around the whole are
// ignored. Anything else is no address.
std::optional<IPv4> ParseIPv4(QStringView text);
// As ParseIPv4, but with nothing around the address: a field of a connection text or a
// scan target, where a blank is a mistake and never ignored.
std::optional<IPv4> ParseIPv4Exact(QStringView text);

// A whole number of connection texts and scan targets (a port, a rate, a prefix length):
// ASCII digits alone, no sign and no blank, from lo to hi. Anything else is no number.
std::optional<int> ParseDecimal(QStringView text, int lo, int hi);

// "A.B.C.D" without leading zeros: what ParseIPv4 reads back as the same address.
QString FormatIPv4(const IPv4& ip);

// The address as one number, first octet highest, and back: for ranges and steps.
quint32 IPv4ToNumber(const IPv4& ip);
IPv4 IPv4FromNumber(quint32 n);
