// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tools/ctl.h"

#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "locale/modLocale.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <optional>

namespace ctl {

namespace {

struct UsageError {
    QString message;
};

std::optional<IPv4> parseIp(const QString& text)
{
    static const QRegularExpression re(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch m = re.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    IPv4 ip{};
    for (int i = 0; i < 4; ++i) {
        const int v = m.captured(i + 1).toInt();
        if (v > 255)
            return std::nullopt;
        ip[size_t(i)] = quint8(v);
    }
    return ip;
}

QString ipText(const IPv4& ip)
{
    return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

int parseNumber(const QString& option, const QString& text, int min, int max)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (!ok || v < min || v > max)
        throw UsageError{QStringLiteral("%1: bad number '%2'").arg(option, text)};
    return v;
}

// --conn: eth:A.B.C.D or com:N:BAUD:P:DATA:STOP, into the connection page's controls.
void parseConn(const QString& conn, ControllerSelections& view)
{
    const QStringList f = conn.split(':');
    if (f.value(0) == QLatin1String("eth") && f.size() == 2) {
        const std::optional<IPv4> ip = parseIp(f[1]);
        if (!ip)
            throw UsageError{QStringLiteral("--conn: bad address '%1'").arg(f[1])};
        view.ethernet = true;
        view.address = *ip;
        return;
    }
    if (f.value(0) == QLatin1String("com") && f.size() == 6) {
        view.ethernet = false;
        view.port = parseNumber(QStringLiteral("--conn port"), f[1], 1, 256);
        view.baud = parseNumber(QStringLiteral("--conn baud rate"), f[2], 1, 100000000);
        static const QStringList parities{QStringLiteral("E"), QStringLiteral("N"), QStringLiteral("O")};
        const int parity = int(parities.indexOf(f[3]));
        if (parity < 0)
            throw UsageError{QStringLiteral("--conn: parity is E, N or O")};
        view.parity = parity;
        // Any data length is taken; the link itself refuses all but 8.
        view.dataLength = parseNumber(QStringLiteral("--conn data length"), f[4], 1, 64);
        if (f[5] != QLatin1String("1") && f[5] != QLatin1String("1.5") && f[5] != QLatin1String("2"))
            throw UsageError{QStringLiteral("--conn: stop bits are 1, 1.5 or 2")};
        view.stopBit = f[5];
        return;
    }
    throw UsageError{QStringLiteral("--conn: expected eth:A.B.C.D or com:N:BAUD:P:DATA:STOP")};
}

QString permissionOf(const CommSettings& s)
{
    if (s.ethernetUsage != 0 && s.rs232cUsage == 0)
        return QStringLiteral("ethernet");
    if (s.ethernetUsage == 0 && s.rs232cUsage != 0)
        return QStringLiteral("rs232c");
    if (s.ethernetUsage != 0 && s.rs232cUsage != 0)
        return QStringLiteral("both");
    return QStringLiteral("none");
}

// A token record too short to hold the token (it ends at offset 23979) keeps none.
bool holdsToken(const CommLink& link)
{
    return link.keptValue(QString::fromLatin1(rec::kBackPrm)).size() > rec::kTokenIp + 3;
}

// The token is null when the controller's token record cannot hold one.
QByteArray toJson(const CommSettings& s, bool withToken)
{
    QJsonObject ethernet{{QStringLiteral("usage"), s.ethernetUsage},
                         {QStringLiteral("ip"), ipText(s.ipAddress)},
                         {QStringLiteral("mask"), ipText(s.subnetMask)}};
    QJsonObject rs232c{{QStringLiteral("usage"), s.rs232cUsage},
                       {QStringLiteral("baud"), s.baudRate},
                       {QStringLiteral("parity"), s.parity},
                       {QStringLiteral("data_length"), s.dataLength},
                       {QStringLiteral("stop_bits"), s.stopBits},
                       {QStringLiteral("delimiter"), s.delimiter}};
    QJsonObject token{{QStringLiteral("code"), s.tokenCode}, {QStringLiteral("ip"), ipText(s.tokenIp)}};
    QJsonObject all{{QStringLiteral("permission"), permissionOf(s)},
                    {QStringLiteral("ethernet"), ethernet},
                    {QStringLiteral("rs232c"), rs232c},
                    {QStringLiteral("token"), withToken ? QJsonValue(token) : QJsonValue(QJsonValue::Null)}};
    return QJsonDocument(all).toJson(QJsonDocument::Compact);
}

bool sameSettings(const CommSettings& a, const CommSettings& b)
{
    return a.rs232cUsage == b.rs232cUsage && a.baudRate == b.baudRate && a.parity == b.parity
           && a.dataLength == b.dataLength && a.stopBits == b.stopBits && a.delimiter == b.delimiter
           && a.ethernetUsage == b.ethernetUsage && a.ipAddress == b.ipAddress && a.subnetMask == b.subnetMask
           && a.tokenCode == b.tokenCode && a.tokenIp == b.tokenIp;
}

// A list of the RS232C page shows the stored code when it has an item for it, and
// otherwise keeps its start-up selection.
int listShows(int stored, const QList<int>& items, int startUp)
{
    return items.contains(stored) ? stored : startUp;
}

const QList<int> kBaudRates{9600, 19200, 38400, 57600, 115200};

struct Args {
    QString command;
    QHash<QString, QString> values;
};

Args parseArgs(const QStringList& args)
{
    static const QStringList readOptions{QStringLiteral("conn"), QStringLiteral("timeout"), QStringLiteral("retries")};
    static const QStringList writeOptions = readOptions + QStringList{
        QStringLiteral("device"), QStringLiteral("ip"), QStringLiteral("mask"), QStringLiteral("baud"),
        QStringLiteral("token"), QStringLiteral("token-ip")};
    Args out;
    if (args.isEmpty())
        throw UsageError{QStringLiteral("no command")};
    out.command = args[0];
    if (out.command != QLatin1String("read") && out.command != QLatin1String("write"))
        throw UsageError{QStringLiteral("unknown command '%1'").arg(out.command)};
    const QStringList& allowed = out.command == QLatin1String("read") ? readOptions : writeOptions;
    for (int i = 1; i < args.size(); ++i) {
        QString a = args[i];
        if (!a.startsWith(QLatin1String("--")))
            throw UsageError{QStringLiteral("unexpected argument '%1'").arg(a)};
        a = a.mid(2);
        QString value;
        const qsizetype eq = a.indexOf('=');
        if (eq >= 0) {
            value = a.mid(eq + 1);
            a = a.left(eq);
        } else {
            if (i + 1 >= args.size())
                throw UsageError{QStringLiteral("--%1 needs a value").arg(a)};
            value = args[++i];
        }
        if (!allowed.contains(a))
            throw UsageError{QStringLiteral("unknown option --%1 for %2").arg(a, out.command)};
        out.values.insert(a, value);
    }
    if (!out.values.contains(QStringLiteral("conn")))
        throw UsageError{QStringLiteral("--conn is required")};
    return out;
}

void disconnectQuietly(CommLink& link)
{
    try {
        link.DisconnectController();
    } catch (...) {
        // The process ends anyway; the controller ends the session with the link.
    }
}

}  // namespace

QString UsageText()
{
    return QStringLiteral(
        "Usage:\n"
        "  tolvanectl read --conn CONN [--timeout MS] [--retries N]\n"
        "  tolvanectl write --conn CONN [--device ethernet|rs232c] [--ip A.B.C.D] [--mask A.B.C.D]\n"
        "                   [--baud N] [--token open|io|ethernet|com2|com3|com4] [--token-ip A.B.C.D]\n"
        "                   [--timeout MS] [--retries N]\n"
        "CONN is eth:A.B.C.D or com:N:BAUD:P:DATA:STOP.\n"
        "Exit codes: 0 done, 2 bad usage, 3 connect failed, 4 read failed, 5 write failed,\n"
        "6 read-back differs.\n");
}

int Run(const QStringList& rawArgs, QTextStream& out, QTextStream& err)
{
    InitLocale(0);
    Args args;
    // The connection page as tolvanectl fills it from --conn, and the permission page.
    ControllerSelections view;
    int timeout = 4000, retries = 3;
    std::optional<int> device, baud, token;
    std::optional<IPv4> ip, mask, tokenIp;
    try {
        args = parseArgs(rawArgs);
        parseConn(args.values.value(QStringLiteral("conn")), view);
        if (args.values.contains(QStringLiteral("timeout")))
            timeout = parseNumber(QStringLiteral("--timeout"), args.values.value(QStringLiteral("timeout")), 1, 3600000);
        if (args.values.contains(QStringLiteral("retries")))
            retries = parseNumber(QStringLiteral("--retries"), args.values.value(QStringLiteral("retries")), 0, 100);
        if (args.values.contains(QStringLiteral("device"))) {
            const QString d = args.values.value(QStringLiteral("device"));
            if (d == QLatin1String("ethernet"))
                device = 0;
            else if (d == QLatin1String("rs232c"))
                device = 1;
            else
                throw UsageError{QStringLiteral("--device is ethernet or rs232c")};
        }
        auto ipOption = [&](const char* name, std::optional<IPv4>& into) {
            const QString key = QLatin1String(name);
            if (!args.values.contains(key))
                return;
            into = parseIp(args.values.value(key));
            if (!into)
                throw UsageError{QStringLiteral("--%1: expected A.B.C.D").arg(key)};
        };
        ipOption("ip", ip);
        ipOption("mask", mask);
        ipOption("token-ip", tokenIp);
        if (args.values.contains(QStringLiteral("baud"))) {
            baud = parseNumber(QStringLiteral("--baud"), args.values.value(QStringLiteral("baud")), 1, 100000000);
            if (!kBaudRates.contains(*baud))
                throw UsageError{QStringLiteral("--baud is 9600, 19200, 38400, 57600 or 115200")};
        }
        if (args.values.contains(QStringLiteral("token"))) {
            static const QHash<QString, int> codes{
                {QStringLiteral("open"), 65535}, {QStringLiteral("io"), 0}, {QStringLiteral("ethernet"), 1},
                {QStringLiteral("com2"), 2}, {QStringLiteral("com3"), 3}, {QStringLiteral("com4"), 4}};
            const QString t = args.values.value(QStringLiteral("token"));
            if (!codes.contains(t))
                throw UsageError{QStringLiteral("--token is open, io, ethernet, com2, com3 or com4")};
            token = codes.value(t);
        }
    } catch (const UsageError& e) {
        err << "tolvanectl: " << e.message << "\n" << UsageText();
        err.flush();
        return kUsage;
    }

    CommLink link(view);
    link.setLinkOptions(timeout, retries);
    if (!link.ok() || !link.ConnectController()) {
        err << LStr(505) << "\n";
        return kConnectFailed;
    }
    if (!link.ReadCommSettings(true)) {
        err << LStr(503) << "\n";
        disconnectQuietly(link);
        return kReadFailed;
    }
    CommSettings& s = link.settings();
    if (args.command == QLatin1String("read")) {
        out << toJson(s, holdsToken(link)) << "\n";
        disconnectQuietly(link);
        return kDone;
    }

    // The permission page: preselected from the usage words, or chosen by --device.
    const QString permission = permissionOf(s);
    if (!device) {
        if (permission == QLatin1String("ethernet"))
            device = 0;
        else if (permission == QLatin1String("rs232c"))
            device = 1;
        else {
            err << "tolvanectl: the controller's permission is " << permission << "; --device is required\n";
            disconnectQuietly(link);
            return kUsage;
        }
    }
    view.device = *device;
    if ((*device == 0 && baud) || (*device == 1 && (ip || mask))) {
        err << "tolvanectl: --baud belongs to rs232c, --ip and --mask to ethernet\n";
        disconnectQuietly(link);
        return kUsage;
    }

    bool changed = false;
    auto take = [&changed](auto& field, const auto& value) {
        if (field != value) {
            field = value;
            changed = true;
        }
    };
    if (*device == 0) {
        // The Ethernet page shows the stored address and mask; the options edit them.
        if (ip)
            take(s.ipAddress, *ip);
        if (mask)
            take(s.subnetMask, *mask);
    } else {
        take(s.baudRate, baud ? *baud : listShows(s.baudRate, kBaudRates, 38400));
        take(s.parity, listShows(s.parity, {0, 1, 2}, 1));
        take(s.dataLength, listShows(s.dataLength, {5, 6, 7, 8}, 8));
        take(s.stopBits, listShows(s.stopBits, {0, 1, 2}, 0));
        take(s.delimiter, listShows(s.delimiter, {0, 1}, 0));
    }
    if (token)
        take(s.tokenCode, *token);
    if (tokenIp)
        take(s.tokenIp, *tokenIp);
    // As in the wizard, a change of the permission device alone is a change to write.
    if (PermissionChanges(s, *device))
        changed = true;

    CommSettings expected = s;
    if (changed) {
        const bool reread = link.ReadCommSettings(false);
        const bool written = link.WriteCommSettings();
        if (!reread || !written) {
            err << LStr(504) << "\n";
            disconnectQuietly(link);
            return kWriteFailed;
        }
        expected.ethernetUsage = *device == 0 ? 2 : 0;
        expected.rs232cUsage = *device == 1 ? 2 : 0;
    }

    s = CommSettings{};
    if (!link.ReadCommSettings(true)) {
        err << LStr(503) << "\n";
        disconnectQuietly(link);
        return kReadFailed;
    }
    // A token record too short to hold the token goes back unchanged: a token that was
    // asked for is then not on the controller, and that is no success.
    const bool held = holdsToken(link);
    out << toJson(s, held) << "\n";
    disconnectQuietly(link);
    if (!held && (token || tokenIp)) {
        err << "tolvanectl: the controller's token record (" << rec::kBackPrm << ", "
            << link.keptValue(QString::fromLatin1(rec::kBackPrm)).size()
            << " bytes) is too short to hold the executable token; the token was not written\n";
        return kReadBackDiffers;
    }
    if (!held) {
        s.tokenCode = expected.tokenCode;  // nothing to compare
        s.tokenIp = expected.tokenIp;
    }
    if (!sameSettings(s, expected)) {
        err << "tolvanectl: the settings read back differ from those written\n";
        return kReadBackDiffers;
    }
    return kDone;
}

}  // namespace ctl
