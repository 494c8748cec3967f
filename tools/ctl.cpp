// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tools/ctl.h"

#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "locale/modLocale.h"
#include "app/wizardmodel.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <optional>

namespace ctl {

namespace {

struct UsageError {
    QString message;
};

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
        const std::optional<IPv4> ip = ParseIPv4(f[1]);
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
    if (const std::optional<int> device = wizard::PreselectedDevice(s))
        return *device == wizard::kEthernetDevice ? QStringLiteral("ethernet") : QStringLiteral("rs232c");
    return s.ethernetUsage != 0 ? QStringLiteral("both") : QStringLiteral("none");
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
                         {QStringLiteral("ip"), FormatIPv4(s.ipAddress)},
                         {QStringLiteral("mask"), FormatIPv4(s.subnetMask)}};
    QJsonObject rs232c{{QStringLiteral("usage"), s.rs232cUsage},
                       {QStringLiteral("baud"), s.baudRate},
                       {QStringLiteral("parity"), s.parity},
                       {QStringLiteral("data_length"), s.dataLength},
                       {QStringLiteral("stop_bits"), s.stopBits},
                       {QStringLiteral("delimiter"), s.delimiter}};
    QJsonObject token{{QStringLiteral("code"), s.tokenCode}, {QStringLiteral("ip"), FormatIPv4(s.tokenIp)}};
    QJsonObject all{{QStringLiteral("permission"), permissionOf(s)},
                    {QStringLiteral("ethernet"), ethernet},
                    {QStringLiteral("rs232c"), rs232c},
                    {QStringLiteral("token"), withToken ? QJsonValue(token) : QJsonValue(QJsonValue::Null)}};
    return QJsonDocument(all).toJson(QJsonDocument::Compact);
}

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

// What a write asks for, from the options; nullopt where the option is not given.
struct WriteOptions {
    std::optional<int> device, baud;
    std::optional<int> token;  // the token page's option element
    std::optional<IPv4> ip, mask, tokenIp;
};

struct Options {
    Args args;
    // The connection page as tolvanectl fills it from --conn, and the permission page.
    ControllerSelections view;
    int timeout = 4000, retries = 3;
    WriteOptions write;
};

std::optional<IPv4> ipOption(const Args& args, const QString& key)
{
    if (!args.values.contains(key))
        return std::nullopt;
    const std::optional<IPv4> ip = ParseIPv4(args.values.value(key));
    if (!ip)
        throw UsageError{QStringLiteral("--%1: expected A.B.C.D").arg(key)};
    return ip;
}

std::optional<int> choiceOption(const Args& args, const QString& key, const QHash<QString, int>& choices,
                                const QString& expected)
{
    if (!args.values.contains(key))
        return std::nullopt;
    const QString value = args.values.value(key);
    if (!choices.contains(value))
        throw UsageError{QStringLiteral("--%1 is %2").arg(key, expected)};
    return choices.value(value);
}

WriteOptions parseWriteOptions(const Args& args)
{
    WriteOptions w;
    w.device = choiceOption(args, QStringLiteral("device"),
                            {{QStringLiteral("ethernet"), wizard::kEthernetDevice},
                             {QStringLiteral("rs232c"), wizard::kSerialDevice}},
                            QStringLiteral("ethernet or rs232c"));
    w.ip = ipOption(args, QStringLiteral("ip"));
    w.mask = ipOption(args, QStringLiteral("mask"));
    w.tokenIp = ipOption(args, QStringLiteral("token-ip"));
    if (args.values.contains(QStringLiteral("baud"))) {
        w.baud = parseNumber(QStringLiteral("--baud"), args.values.value(QStringLiteral("baud")), 1, 100000000);
        if (!wizard::BaudRates().data.contains(*w.baud))
            throw UsageError{QStringLiteral("--baud is 9600, 19200, 38400, 57600 or 115200")};
    }
    // The token page's options by name, in their order on the page.
    static const QStringList tokens{QStringLiteral("open"), QStringLiteral("io"),   QStringLiteral("ethernet"),
                                    QStringLiteral("com2"), QStringLiteral("com3"), QStringLiteral("com4")};
    QHash<QString, int> elements;
    for (int i = 0; i < tokens.size(); ++i)
        elements.insert(tokens[i], i);
    w.token = choiceOption(args, QStringLiteral("token"), elements,
                           QStringLiteral("open, io, ethernet, com2, com3 or com4"));
    return w;
}

Options parseOptions(const QStringList& rawArgs)
{
    Options o;
    o.args = parseArgs(rawArgs);
    const QHash<QString, QString>& values = o.args.values;
    parseConn(values.value(QStringLiteral("conn")), o.view);
    if (values.contains(QStringLiteral("timeout")))
        o.timeout = parseNumber(QStringLiteral("--timeout"), values.value(QStringLiteral("timeout")), 1, 3600000);
    if (values.contains(QStringLiteral("retries")))
        o.retries = parseNumber(QStringLiteral("--retries"), values.value(QStringLiteral("retries")), 0, 100);
    o.write = parseWriteOptions(o.args);
    return o;
}

// The device pages and the token page as the wizard shows them after the read, with
// the options' values put in; answers whether anything changed.
bool mergePages(CommSettings& s, const WriteOptions& w, int device)
{
    bool changed = false;
    if (device == wizard::kEthernetDevice) {
        wizard::EthernetPage page = wizard::ShowEthernet(s);
        page.ip = w.ip.value_or(page.ip);
        page.mask = w.mask.value_or(page.mask);
        changed = wizard::MergeEthernet(s, page);
    } else {
        wizard::SerialPage page = wizard::ShowSerial(s, wizard::StartSerialPage());
        if (w.baud)
            page.baudRate = *w.baud;
        changed = wizard::MergeSerial(s, page);
    }
    // Without --token no option is chosen, so the stored code stays as it is even where
    // the page would show it as another option's.
    const wizard::TokenPage token{w.token.value_or(-1), w.tokenIp.value_or(s.tokenIp)};
    // As in the wizard, a change of the permission device alone is a change to write.
    return wizard::MergeToken(s, token, device) || changed;
}

// The permission page: preselected from the usage words, or chosen by --device; a
// device page's options must belong to that device. nullopt after a usage message.
std::optional<int> chooseDevice(const CommSettings& s, const WriteOptions& w, QTextStream& err)
{
    const std::optional<int> device = w.device ? w.device : wizard::PreselectedDevice(s);
    if (!device) {
        err << "tolvanectl: the controller's permission is " << permissionOf(s) << "; --device is required\n";
        return std::nullopt;
    }
    if ((*device == wizard::kEthernetDevice && w.baud) || (*device == wizard::kSerialDevice && (w.ip || w.mask))) {
        err << "tolvanectl: --baud belongs to rs232c, --ip and --mask to ethernet\n";
        return std::nullopt;
    }
    return device;
}

// Reads the settings back after a write and compares them with those written.
int verify(CommLink& link, const CommSettings& expected, const WriteOptions& w, QTextStream& out,
           QTextStream& err)
{
    CommSettings& s = link.settings();
    s = CommSettings{};
    if (!link.ReadCommSettings(true)) {
        err << LStr(503) << "\n";
        return kReadFailed;
    }
    // A token record too short to hold the token goes back unchanged: a token that was
    // asked for is then not on the controller, and that is no success.
    const bool held = holdsToken(link);
    out << toJson(s, held) << "\n";
    if (!held && (w.token || w.tokenIp)) {
        err << "tolvanectl: the controller's token record (" << rec::kBackPrm << ", "
            << link.keptValue(QString::fromLatin1(rec::kBackPrm)).size()
            << " bytes) is too short to hold the executable token; the token was not written\n";
        return kReadBackDiffers;
    }
    CommSettings compared = s;
    if (!held) {
        compared.tokenCode = expected.tokenCode;  // nothing to compare
        compared.tokenIp = expected.tokenIp;
    }
    if (compared != expected) {
        err << "tolvanectl: the settings read back differ from those written\n";
        return kReadBackDiffers;
    }
    return kDone;
}

int write(CommLink& link, ControllerSelections& view, const WriteOptions& w, QTextStream& out, QTextStream& err)
{
    CommSettings& s = link.settings();
    const std::optional<int> device = chooseDevice(s, w, err);
    if (!device)
        return kUsage;
    view.device = *device;
    const bool changed = mergePages(s, w, *device);
    CommSettings expected = s;
    if (changed) {
        if (!wizard::WriteBack(link)) {
            err << LStr(504) << "\n";
            return kWriteFailed;
        }
        expected.ethernetUsage = *device == wizard::kEthernetDevice ? 2 : 0;
        expected.rs232cUsage = *device == wizard::kSerialDevice ? 2 : 0;
    }
    return verify(link, expected, w, out, err);
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
    Options o;
    try {
        o = parseOptions(rawArgs);
    } catch (const UsageError& e) {
        err << "tolvanectl: " << e.message << "\n" << UsageText();
        err.flush();
        return kUsage;
    }
    CommLink link(o.view);
    link.setLinkOptions(o.timeout, o.retries);
    const wizard::Opened opened = wizard::ConnectAndRead(link);
    if (opened == wizard::Opened::kConnectFailed) {
        err << LStr(505) << "\n";
        return kConnectFailed;
    }
    int result = kReadFailed;
    if (opened == wizard::Opened::kReadFailed) {
        err << LStr(503) << "\n";
    } else if (o.args.command == QLatin1String("read")) {
        out << toJson(link.settings(), holdsToken(link)) << "\n";
        result = kDone;
    } else {
        result = write(link, o.view, o.write, out, err);
    }
    disconnectQuietly(link);
    return result;
}

}  // namespace ctl
