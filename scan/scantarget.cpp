// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "scan/scantarget.h"

#include "ipv4/ipv4.h"
#include "wizard/wizardmodel.h"

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
    } else if (const std::optional<int> port = ParseDecimal(f.value(1), 1, 256);
               port && (f.size() == 2 || f.size() == 6)) {
        t.port = *port;
    } else {
        return fail(error, QStringLiteral("%1: expected com:N (1 to 256), com:N:BAUD:P:8:STOP or com:all").arg(text));
    }
    if (f.size() == 2) {
        for (int baud : ScanRates())
            t.settings.append(LineSetting{baud, 'N', QStringLiteral("1")});
        return t;
    }
    LineSetting s;
    const std::optional<int> baud = ParseDecimal(f[2], 1, 100000000);
    if (!baud)
        return fail(error, QStringLiteral("%1: bad baud rate '%2'").arg(text, f[2]));
    s.baud = *baud;
    if (f[3] != QLatin1String("E") && f[3] != QLatin1String("N") && f[3] != QLatin1String("O"))
        return fail(error, QStringLiteral("%1: parity is E, N or O").arg(text));
    s.parity = char(f[3].at(0).toLatin1());
    if (f[4] != QLatin1String("8"))
        return fail(error, QStringLiteral("%1: the link needs 8 data bits, not %2").arg(text, f[4]));
    if (f[5] != QLatin1String("1") && f[5] != QLatin1String("1.5") && f[5] != QLatin1String("2"))
        return fail(error, QStringLiteral("%1: stop bits are 1, 1.5 or 2").arg(text));
    s.stopBits = f[5];
    t.settings.append(s);
    return t;
}

}  // namespace

QList<int> ScanRates()
{
    const wizard::ListItems& rates = wizard::BaudRates();
    QList<int> order{rates.startValue()};
    for (qint32 rate : rates.data)
        if (rate != rates.startValue())
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

QString EthernetConn(quint32 address) { return QStringLiteral("eth:") + FormatIPv4(IPv4FromNumber(address)); }

QString SerialConn(int port, const LineSetting& s)
{
    return QStringLiteral("com:%1:%2:%3:8:%4").arg(port).arg(s.baud).arg(QLatin1Char(s.parity)).arg(s.stopBits);
}

}  // namespace scan
