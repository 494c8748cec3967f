// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "scan/scantarget.h"

#include "controller/conntext.h"
#include "controller/vocabulary.h"
#include "ipv4/ipv4.h"

#include <QStringList>

namespace scan {

namespace {

std::optional<Target> fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return std::nullopt;
}

std::optional<Target> parseEthernet(const QString& text, const QString& addresses, QString* error)
{
    Target t;
    const qsizetype slash = addresses.indexOf(QLatin1Char('/'));
    const qsizetype dash = addresses.indexOf(QLatin1Char('-'));
    const std::optional<IPv4> a = ParseIPv4Exact(addresses.left(slash >= 0  ? slash
                                                                : dash >= 0 ? dash
                                                                            : addresses.size()));
    if (!a)
        return fail(error, QStringLiteral("%1: expected eth:A.B.C.D, eth:A.B.C.D/NN or eth:A.B.C.D-E.F.G.H").arg(text));
    t.first = t.last = IPv4ToNumber(*a);
    if (slash >= 0) {
        const std::optional<int> bits = ParseDecimal(addresses.mid(slash + 1), 16, 32);
        if (!bits)
            return fail(error, QStringLiteral("%1: the prefix length is 16 to 32").arg(text));
        const quint32 mask = *bits == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> *bits);
        t.first &= mask;
        t.last = t.first | ~mask;
        // A /31 or /32 has no network or broadcast address to leave out.
        if (*bits <= 30) {
            ++t.first;
            --t.last;
        }
    } else if (dash >= 0) {
        const std::optional<IPv4> b = ParseIPv4Exact(addresses.mid(dash + 1));
        if (!b || IPv4ToNumber(*b) < t.first)
            return fail(error, QStringLiteral("%1: a range runs from a lower address to a higher one").arg(text));
        t.last = IPv4ToNumber(*b);
        if (qint64(t.last) - qint64(t.first) + 1 > kMaxAddresses)
            return fail(error, QStringLiteral("%1: a range holds at most %2 addresses").arg(text).arg(kMaxAddresses));
    }
    return t;
}

std::optional<Target> parseSerial(const QString& text, const QStringList& f, QString* error)
{
    Target t;
    t.serial = true;
    if (f.size() == 2 && f[1] == QLatin1String("all")) {
        t.allPorts = true;
    } else if (const std::optional<int> port = ParseDecimal(f.value(1), 1, 256); port && f.size() == 2) {
        t.port = *port;
    } else if (f.size() != 6) {
        return fail(error, QStringLiteral("%1: expected com:N (1 to 256), com:N:BAUD:P:8:STOP or com:all").arg(text));
    }
    if (f.size() == 2) {
        for (int baud : ScanRates())
            t.settings.append(LineSetting{baud, 'N', QStringLiteral("1")});
        return t;
    }
    // One setting: a connection text the link can use.
    QString why;
    const std::optional<ConnText> conn = ParseConnText(text, &why);
    if (conn && (why = NotLinkable(*conn)).isEmpty()) {
        t.port = conn->port;
        t.settings.append(LineSetting{conn->baud, conn->parity, conn->stopBits});
        return t;
    }
    return fail(error, QStringLiteral("%1: %2").arg(text, why));
}

}  // namespace

QList<int> ScanRates()
{
    QList<int> order{vocab::kStartBaudRate};
    for (int rate : vocab::kBaudRates)
        if (rate != vocab::kStartBaudRate)
            order.append(rate);
    return order;
}

std::optional<Target> ParseTarget(const QString& text, QString* error)
{
    if (text.startsWith(QLatin1String("eth:")))
        return parseEthernet(text, text.mid(4), error);
    if (text.startsWith(QLatin1String("com:")))
        return parseSerial(text, text.split(QLatin1Char(':')), error);
    return fail(error, QStringLiteral("%1: a target is eth:... or com:...").arg(text));
}

QString EthernetConn(quint32 address)
{
    ConnText t;
    t.address = IPv4FromNumber(address);
    return FormatConnText(t);
}

ConnText SerialText(int port, const LineSetting& s)
{
    ConnText t;
    t.serial = true;
    t.port = port;
    t.baud = s.baud;
    t.parity = s.parity;
    t.stopBits = s.stopBits;
    return t;
}

QString SerialConn(int port, const LineSetting& s) { return FormatConnText(SerialText(port, s)); }

}  // namespace scan
