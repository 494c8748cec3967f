// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/conntext.h"

#include "controller/vocabulary.h"

#include <QList>

namespace {

std::optional<ConnText> refuse(QString* why, const QString& reason)
{
    if (why)
        *why = reason;
    return std::nullopt;
}

}  // namespace

std::optional<ConnText> ParseConnText(QStringView text, QString* why)
{
    const QList<QStringView> f = text.split(QLatin1Char(':'));
    ConnText t;
    if (f.size() == 2 && f[0] == QLatin1String("eth")) {
        const std::optional<IPv4> ip = ParseIPv4Exact(f[1]);
        if (!ip)
            return refuse(why, QStringLiteral("bad address '%1'").arg(f[1]));
        t.address = *ip;
        return t;
    }
    if (f.size() != 6 || f[0] != QLatin1String("com"))
        return refuse(why, QStringLiteral("expected eth:A.B.C.D or com:N:BAUD:P:DATA:STOP"));
    t.serial = true;
    const std::optional<int> port = ParseDecimal(f[1], 1, 256);
    if (!port)
        return refuse(why, QStringLiteral("the port is 1 to 256, not '%1'").arg(f[1]));
    const std::optional<int> baud = ParseDecimal(f[2], 1, 100000000);
    if (!baud)
        return refuse(why, QStringLiteral("bad baud rate '%1'").arg(f[2]));
    if (f[3].size() != 1 || vocab::ParityPosition(char(f[3][0].unicode())) < 0)
        return refuse(why, QStringLiteral("parity is %1, not '%2'").arg(vocab::OneOf(vocab::ParityWords()), f[3]));
    const std::optional<int> data = ParseDecimal(f[4], 1, 64);
    if (!data)
        return refuse(why, QStringLiteral("bad data length '%1'").arg(f[4]));
    if (vocab::StopBitPosition(f[5].toString()) < 0)
        return refuse(
            why,
            QStringLiteral("stop bits are %1, not '%2'").arg(vocab::OneOf(vocab::Words(vocab::kStopBitTexts)), f[5]));
    t.port = *port;
    t.baud = *baud;
    t.parity = char(f[3][0].unicode());
    t.dataBits = *data;
    t.stopBits = f[5].toString();
    return t;
}

QString FormatConnText(const ConnText& t)
{
    if (!t.serial)
        return QStringLiteral("eth:") + FormatIPv4(t.address);
    return QStringLiteral("com:%1:%2:%3:%4:%5")
        .arg(t.port)
        .arg(t.baud)
        .arg(QLatin1Char(t.parity))
        .arg(t.dataBits)
        .arg(t.stopBits);
}

QString NotLinkable(const ConnText& t)
{
    if (t.serial && t.dataBits != vocab::kLinkDataBits)
        return QStringLiteral("the link is binary and needs %1 data bits, not %2")
            .arg(vocab::kLinkDataBits)
            .arg(t.dataBits);
    return QString();
}
