// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "ipv4/ipv4.h"

std::optional<IPv4> ParseIPv4(QStringView text)
{
    const QStringView trimmed = text.trimmed();
    IPv4 ip{};
    qsizetype i = 0;
    for (size_t field = 0; field < ip.size(); ++field) {
        if (field > 0) {
            if (i >= trimmed.size() || trimmed[i] != QLatin1Char('.'))
                return std::nullopt;
            ++i;
        }
        int value = 0;
        int digits = 0;
        // QChar::isDigit would take other scripts' digits too; an address has ASCII ones.
        while (i < trimmed.size() && trimmed[i] >= QLatin1Char('0') && trimmed[i] <= QLatin1Char('9')) {
            if (++digits > 3)
                return std::nullopt;
            value = value * 10 + (trimmed[i].unicode() - '0');
            ++i;
        }
        if (digits == 0 || value > 255)
            return std::nullopt;
        ip[field] = quint8(value);
    }
    if (i != trimmed.size())
        return std::nullopt;
    return ip;
}

std::optional<IPv4> ParseIPv4Exact(QStringView text)
{
    if (text.trimmed().size() != text.size())
        return std::nullopt;
    return ParseIPv4(text);
}

std::optional<int> ParseDecimal(QStringView text, int lo, int hi)
{
    if (text.isEmpty() || text.size() > 10)
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + (c.unicode() - '0');
    }
    if (value < lo || value > hi)
        return std::nullopt;
    return int(value);
}

QString FormatIPv4(const IPv4& ip)
{
    return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

quint32 IPv4ToNumber(const IPv4& ip)
{
    return quint32(ip[0]) << 24 | quint32(ip[1]) << 16 | quint32(ip[2]) << 8 | quint32(ip[3]);
}

IPv4 IPv4FromNumber(quint32 n)
{
    return {quint8(n >> 24), quint8(n >> 16), quint8(n >> 8), quint8(n)};
}
