// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tools/ctl.h"

#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "controller/engine.h"
#include "controller/trace.h"
#include "tools/backupfile.h"
#include "tools/ctlscan.h"
#include "locale/modLocale.h"
#include "wizard/wizardmodel.h"

#include "version.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QSet>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <optional>

namespace ctl {

namespace {

// --conn: a connection text, into the connection page's controls. The link is binary:
// a text with other data bits is bad usage, and nothing is sent.
void parseConn(const QString& conn, ControllerSelections& view)
{
    QString why;
    const std::optional<ConnText> t = ParseConnText(conn, &why);
    if (!t || !(why = NotLinkable(*t)).isEmpty())
        throw UsageError{QStringLiteral("--conn: %1").arg(why)};
    view.ethernet = !t->serial;
    view.address = t->address;
    if (t->serial) {
        view.port = t->port;
        view.baud = t->baud;
        view.parity = vocab::ParityPosition(t->parity);
        view.dataLength = t->dataBits;
        view.stopBit = t->stopBits;
    }
}

}  // namespace

int ParseNumber(const QString& option, const QString& text, int min, int max)
{
    const std::optional<int> v = ParseDecimal(text, min, max);
    if (!v)
        throw UsageError{QStringLiteral("%1: bad number '%2'").arg(option, text)};
    return *v;
}

QString PermissionText(const CommSettings& s)
{
    if (const std::optional<int> device = wizard::PreselectedDevice(s))
        return QLatin1String(vocab::kDeviceNames.at(size_t(*device)));
    return s.ethernetUsage != 0 ? QStringLiteral("both") : QStringLiteral("none");
}

namespace {

// A token record too short to hold the token (it ends at offset 23979) keeps none.
bool holdsToken(const CommLink& link)
{
    return link.keptValue(QString::fromLatin1(rec::kBackPrm)).size() > rec::kTokenIp + 3;
}

// The decoded fields of the two settings records, four bytes each, as restore names them.
struct Field {
    const char* record;
    const char* name;
    int offset;
    enum Kind { kNumber, kAddress, kReversedAddress } kind;
};
const Field kFields[] = {
    {rec::kRawCom, "rs232c.usage", rec::kRs232cUsage, Field::kNumber},
    {rec::kRawCom, "rs232c.baud", rec::kBaud, Field::kNumber},
    {rec::kRawCom, "rs232c.parity", rec::kParity, Field::kNumber},
    {rec::kRawCom, "rs232c.data_length", rec::kDataLength, Field::kNumber},
    {rec::kRawCom, "rs232c.stop_bits", rec::kStopBits, Field::kNumber},
    {rec::kRawCom, "rs232c.delimiter", rec::kDelimiter, Field::kNumber},
    {rec::kRawCom, "ethernet.usage", rec::kEthernetUsage, Field::kNumber},
    {rec::kRawCom, "ethernet.ip", rec::kIpAddress, Field::kReversedAddress},
    {rec::kRawCom, "ethernet.mask", rec::kSubnetMask, Field::kReversedAddress},
    {rec::kBackPrm, "token.code", rec::kTokenCode, Field::kNumber},
    {rec::kBackPrm, "token.ip", rec::kTokenIp, Field::kAddress},
};

// The decoded settings as read prints them; the token is null when the controller's
// token record cannot hold one.
QJsonObject settingsJson(const CommSettings& s, bool withToken)
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
    return {{QStringLiteral("permission"), PermissionText(s)},
            {QStringLiteral("ethernet"), ethernet},
            {QStringLiteral("rs232c"), rs232c},
            {QStringLiteral("token"), withToken ? QJsonValue(token) : QJsonValue(QJsonValue::Null)}};
}

// The controller's id and model, as it answered OPEN.
void addIdentity(QJsonObject& o, const CommLink& link)
{
    o.insert(QStringLiteral("id"), link.controller()->controllerId());
    o.insert(QStringLiteral("model"), link.controller()->model());
}

QByteArray compact(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// The fields that differ between two settings objects, in the records' order and named
// as restore names them ("ethernet.ip"); the permission word follows from the usage
// words and is no field of its own.
QJsonArray changedFields(const QJsonObject& before, const QJsonObject& after)
{
    QJsonArray names;
    for (const Field& f : kFields) {
        const QString name = QLatin1String(f.name);
        const QString section = name.section('.', 0, 0), key = name.section('.', 1);
        if (before.value(section).toObject().value(key) != after.value(section).toObject().value(key))
            names.append(name);
    }
    return names;
}

struct Args {
    QString command;
    QHash<QString, QString> values;
    QSet<QString> flags;  // options without a value
    QString file;         // backup and restore: the backup file
};

const QHash<QString, QStringList>& commandOptions()
{
    static const QStringList link{QStringLiteral("conn"), QStringLiteral("timeout"), QStringLiteral("retries")};
    static const QHash<QString, QStringList> options{
        {QStringLiteral("read"), link},
        {QStringLiteral("write"), link + QStringList{QStringLiteral("device"), QStringLiteral("ip"),
                                                     QStringLiteral("mask"), QStringLiteral("baud"),
                                                     QStringLiteral("token"), QStringLiteral("token-ip"),
                                                     QStringLiteral("backup")}},
        {QStringLiteral("backup"), link},
        {QStringLiteral("restore"), link}};
    return options;
}

bool takesFile(const QString& command)
{
    return command == QLatin1String("backup") || command == QLatin1String("restore");
}

// The options of each command that take no value.
QStringList commandFlags(const QString& command)
{
    QStringList link{QStringLiteral("no-cache"), QStringLiteral("verbose")};
    if (command == QLatin1String("restore"))
        return link + QStringList{QStringLiteral("dry-run"), QStringLiteral("with-identity"), QStringLiteral("force")};
    if (command == QLatin1String("write"))
        return link + QStringList{QStringLiteral("dry-run")};
    return link;
}

// Options may come before the command, as with many tools ("tolvanectl --no-cache read
// --conn ..."): the command is moved to the front, and its own rules then decide
// whether it takes them.
QStringList commandFirst(const QStringList& args)
{
    // The options of any command that take no value (scan's are --details and --json).
    static const QStringList flags = [] {
        QStringList all{QStringLiteral("--details"), QStringLiteral("--json")};
        for (const QString& command : commandOptions().keys())
            for (const QString& flag : commandFlags(command))
                if (!all.contains("--" + flag))
                    all << "--" + flag;
        return all;
    }();
    qsizetype i = 0;
    while (i < args.size() && args[i].startsWith(QLatin1String("--")))
        i += flags.contains(args[i]) || args[i].contains(QLatin1Char('=')) ? 1 : 2;
    if (i == 0)
        return args;
    if (i >= args.size())
        throw UsageError{flags.contains(args[0]) ? QStringLiteral("%1 needs a command after it").arg(args[0])
                                                 : QStringLiteral("unknown option %1").arg(args[0])};
    return QStringList{args[i]} + args.mid(0, i) + args.mid(i + 1);
}

Args parseArgs(const QStringList& args)
{
    Args out;
    if (args.isEmpty())
        throw UsageError{QStringLiteral("no command")};
    out.command = args[0];
    if (!commandOptions().contains(out.command))
        throw UsageError{QStringLiteral("unknown command '%1'").arg(out.command)};
    const QStringList allowed = commandOptions().value(out.command);
    const QStringList flags = commandFlags(out.command);
    for (int i = 1; i < args.size(); ++i) {
        QString a = args[i];
        if (!a.startsWith(QLatin1String("--"))) {
            if (!takesFile(out.command) || !out.file.isEmpty())
                throw UsageError{QStringLiteral("unexpected argument '%1'").arg(a)};
            if (a.isEmpty())
                throw UsageError{QStringLiteral("FILE is empty: name a file")};
            out.file = a;
            continue;
        }
        a = a.mid(2);
        if (flags.contains(a)) {
            out.flags.insert(a);
            continue;
        }
        const qsizetype eq = a.indexOf('=');
        const QString name = eq >= 0 ? a.left(eq) : a;
        if (!allowed.contains(name))
            throw UsageError{QStringLiteral("unknown option --%1 for %2").arg(name, out.command)};
        if (eq < 0 && i + 1 >= args.size())
            throw UsageError{QStringLiteral("--%1 needs a value").arg(name)};
        const QString value = eq >= 0 ? a.mid(eq + 1) : args[++i];
        // An empty value is never meant: "--backup ''" must not write without a backup.
        if (value.isEmpty())
            throw UsageError{QStringLiteral("--%1 is empty: it needs a value").arg(name)};
        out.values.insert(name, value);
    }
    if (!out.values.contains(QStringLiteral("conn")))
        throw UsageError{QStringLiteral("--conn is required")};
    if (takesFile(out.command) && out.file.isEmpty())
        throw UsageError{QStringLiteral("%1 needs a FILE").arg(out.command)};
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
    Outcome outcome;
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

// A word of the settings' vocabulary: named(word) is nullopt for any other word.
template <size_t N>
std::optional<int> choiceOption(const Args& args, const QString& key, const std::array<const char*, N>& words,
                                std::optional<int> (*named)(const QString&))
{
    if (!args.values.contains(key))
        return std::nullopt;
    const std::optional<int> choice = named(args.values.value(key));
    if (!choice)
        throw UsageError{QStringLiteral("--%1 is %2").arg(key, vocab::OneOf(vocab::Words(words)))};
    return choice;
}

WriteOptions parseWriteOptions(const Args& args)
{
    WriteOptions w;
    w.device = choiceOption(args, QStringLiteral("device"), vocab::kDeviceNames, vocab::DeviceNamed);
    w.ip = ipOption(args, QStringLiteral("ip"));
    w.mask = ipOption(args, QStringLiteral("mask"));
    w.tokenIp = ipOption(args, QStringLiteral("token-ip"));
    if (args.values.contains(QStringLiteral("baud"))) {
        w.baud = ParseNumber(QStringLiteral("--baud"), args.values.value(QStringLiteral("baud")), 1, 100000000);
        if (std::find(vocab::kBaudRates.begin(), vocab::kBaudRates.end(), *w.baud) == vocab::kBaudRates.end())
            throw UsageError{QStringLiteral("--baud is %1").arg(vocab::BaudWords().join(QStringLiteral(", ")))};
    }
    w.token = choiceOption(args, QStringLiteral("token"), vocab::kTokenNames, vocab::TokenNamed);
    return w;
}

Options parseOptions(const QStringList& rawArgs)
{
    Options o;
    o.args = parseArgs(rawArgs);
    const QHash<QString, QString>& values = o.args.values;
    parseConn(values.value(QStringLiteral("conn")), o.view);
    if (values.contains(QStringLiteral("timeout")))
        o.timeout = ParseNumber(QStringLiteral("--timeout"), values.value(QStringLiteral("timeout")),
                                vocab::kTimeoutMin, vocab::kTimeoutMax);
    if (values.contains(QStringLiteral("retries")))
        o.retries = ParseNumber(QStringLiteral("--retries"), values.value(QStringLiteral("retries")),
                                vocab::kRetriesMin, vocab::kRetriesMax);
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
        err << "tolvanectl: the controller's permission is " << PermissionText(s) << "; --device is required\n";
        return std::nullopt;
    }
    if ((*device == wizard::kEthernetDevice && w.baud) || (*device == wizard::kSerialDevice && (w.ip || w.mask))) {
        err << "tolvanectl: --baud belongs to rs232c, --ip and --mask to ethernet\n";
        return std::nullopt;
    }
    return device;
}

// What the engine told of the last failure, where that says more than the wizard's text:
// where and why it failed, or what the controller answered.
void failureCause(const CommLink& link, QTextStream& err)
{
    const int code = link.lastFailure();
    if (code == EngineError::kDenied)
        err << "tolvanectl: the controller is in use by another client, which holds its access bracket; try "
               "again when it is done (a client that stops answering loses the bracket after 30 s)\n";
    else if (code == EngineError::kChanged)
        err << "tolvanectl: the controller's settings changed since they were read (another client wrote them); "
               "nothing was written, run the command again\n";
    else if (code >= EngineError::kUnknownName && code <= EngineError::kBadSize)
        err << "tolvanectl: the controller answered " << link.lastFailureText() << "\n";
    else if (code != 0)
        err << "tolvanectl: " << link.lastFailureText() << "\n";
}

// The wizard's text of a failed connect, then why.
int connectFailed(const CommLink& link, QTextStream& err)
{
    err << LStr(505) << "\n";
    failureCause(link, err);
    return kConnectFailed;
}

// The wizard's text of a failed read (503) or write (504), then its cause; returns exitCode.
int failed(const CommLink& link, int textId, int exitCode, QTextStream& err)
{
    err << LStr(textId) << "\n";
    failureCause(link, err);
    return exitCode;
}

// A write the controller committed is never reported as failed, even when reading it
// back did not work (another client took the controller right after the commit).
int notReadBack(const CommLink& link, const QString& written, QTextStream& err)
{
    err << "tolvanectl: " << written << ", but could not be read back to check them (tolvanectl read shows "
        << "what the controller holds); reboot the controller to use them\n";
    failureCause(link, err);
    return kNotReadBack;
}

// A token asked of a controller whose token record cannot hold one is no success.
int tokenNotHeld(const CommLink& link, const char* what, QTextStream& err)
{
    err << "tolvanectl: the controller's token record (" << rec::kBackPrm << ", "
        << link.keptValue(QString::fromLatin1(rec::kBackPrm)).size()
        << " bytes) is too short to hold the executable token; the token " << what << "\n";
    return kReadBackDiffers;
}

// Reads the settings back after a write into after and compares them with those written;
// kReadFailed, with nothing said, when they could not be read.
int verify(CommLink& link, const CommSettings& expected, const WriteOptions& w, QJsonObject& after,
           QTextStream& err)
{
    CommSettings& s = link.settings();
    s = CommSettings{};
    if (!link.ReadCommSettings(true))
        return kReadFailed;
    // A token record too short to hold the token goes back unchanged.
    const bool held = holdsToken(link);
    after = settingsJson(s, held);
    if (!held && (w.token || w.tokenIp))
        return tokenNotHeld(link, "was not written", err);
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

int saveBackup(CommLink& link, const QString& path, backup::Backup& b, QTextStream& err);

// Prints {"changed","before","after","read_back","changes","backup","id","model"}:
// what the controller held, what it holds now (read_back true) or, in a dry run or when
// the read-back failed, what it would hold after the write, and the fields between them.
int write(CommLink& link, Options& o, QTextStream& out, QTextStream& err)
{
    const WriteOptions& w = o.write;
    CommSettings& s = link.settings();
    const std::optional<int> device = chooseDevice(s, w, err);
    if (!device)
        return kUsage;
    o.view.device = *device;
    const bool held = holdsToken(link);
    const QJsonObject before = settingsJson(s, held);
    const bool changed = mergePages(s, w, *device);
    CommSettings expected = s;
    if (changed) {
        const vocab::UsageWords words = *vocab::UsageWordsFor(*device);
        expected.ethernetUsage = words.ethernet;
        expected.rs232cUsage = words.rs232c;
    }
    const bool dryRun = o.args.flags.contains(QStringLiteral("dry-run"));
    // Only a write that happens is backed up.
    const QString backupPath = changed && !dryRun ? o.args.values.value(QStringLiteral("backup")) : QString();
    QJsonObject after = settingsJson(expected, held);
    int result = kDone;
    bool readBack = false;
    if (dryRun) {
        if (!held && (w.token || w.tokenIp))
            result = tokenNotHeld(link, "would not be written", err);
    } else {
        // The backup holds the records as the write finds them; without it nothing is written.
        if (!backupPath.isEmpty()) {
            backup::Backup b;
            if (const int saved = saveBackup(link, backupPath, b, err); saved != kDone)
                return saved;
        }
        if (changed) {
            if (!wizard::WriteBack(link))
                return failed(link, 504, kWriteFailed, err);
            o.outcome.done =
                QStringLiteral("the settings were written to the controller; reboot the controller to use them");
        }
        result = verify(link, expected, w, after, err);
        readBack = result != kReadFailed;
        if (!readBack && !changed)
            return failed(link, 503, kReadFailed, err);
        if (!readBack)
            result = notReadBack(link, QStringLiteral("the settings were written to the controller"), err);
    }
    QJsonObject report{{QStringLiteral("changed"), changed},
                       {QStringLiteral("before"), before},
                       {QStringLiteral("after"), after},
                       {QStringLiteral("read_back"), readBack},
                       {QStringLiteral("changes"), changedFields(before, after)},
                       {QStringLiteral("backup"), backupPath.isEmpty() ? QJsonValue() : QJsonValue(backupPath)}};
    addIdentity(report, link);
    out << compact(report) << "\n";
    return result;
}

// --- backup and restore --------------------------------------------------------------


// The field of @CNF_RAW_COM at offset.
const Field& fieldAt(int offset)
{
    return *std::find_if(std::begin(kFields), std::end(kFields), [offset](const Field& f) {
        return qstrcmp(f.record, rec::kRawCom) == 0 && f.offset == offset;
    });
}

QString fieldText(const QByteArray& v, const Field& f)
{
    switch (f.kind) {
    case Field::kNumber:
        return QString::number(rec::U32At(v, f.offset));
    case Field::kAddress:
        return FormatIPv4(rec::AddressAt(v, f.offset));
    case Field::kReversedAddress:
        return FormatIPv4(rec::ReversedAt(v, f.offset));
    }
    return {};
}

QString rangesText(const QList<std::pair<int, int>>& ranges)
{
    QStringList parts;
    int count = 0;
    for (const auto& [first, last] : ranges) {
        parts << (first == last ? QString::number(first) : QStringLiteral("%1-%2").arg(first).arg(last));
        count += last - first + 1;
    }
    return QStringLiteral("bytes %1 (%2 bytes)").arg(parts.join(QStringLiteral(", "))).arg(count);
}

// One line per decoded field that changes, then the other bytes that change as ranges.
void printChanges(const QString& name, const QByteArray& current, const QByteArray& wanted, QTextStream& out)
{
    if (current == wanted) {
        out << name << ": unchanged\n";
        return;
    }
    QByteArray rest = wanted;
    for (const Field& f : kFields) {
        if (name != QLatin1String(f.record) || current.size() < f.offset + 4)
            continue;
        if (current.mid(f.offset, 4) != wanted.mid(f.offset, 4))
            out << name << ": " << f.name << " " << fieldText(current, f) << " -> " << fieldText(wanted, f) << "\n";
        rest.replace(f.offset, 4, current.mid(f.offset, 4));
    }
    const QList<std::pair<int, int>> ranges = backup::DifferingRanges(current, rest);
    if (!ranges.isEmpty())
        out << name << ": " << rangesText(ranges) << "\n";
}

// Reads all six records now and saves them in path with the controller's id and model;
// kDone, or the failure's exit code after its message.
int saveBackup(CommLink& link, const QString& path, backup::Backup& b, QTextStream& err)
{
    if (!link.ReadAllRecords())
        return failed(link, 503, kReadFailed, err);
    b.controllerId = link.controller()->controllerId();
    b.model = link.controller()->model();
    b.taken = QDateTime::fromSecsSinceEpoch(QDateTime::currentSecsSinceEpoch(), Qt::UTC);
    for (const char* name : rec::kAllRecords)
        b.records.append({QString::fromLatin1(name), link.keptValue(QString::fromLatin1(name))});
    QString error;
    if (!backup::Save(path, b, &error)) {
        err << "tolvanectl: cannot write " << path << ": " << error << "\n";
        return kFileNotWritten;
    }
    return kDone;
}

int backupTo(CommLink& link, const QString& path, Outcome& outcome, QTextStream& out, QTextStream& err)
{
    backup::Backup b;
    if (const int saved = saveBackup(link, path, b, err); saved != kDone)
        return saved;
    qint64 bytes = 0;
    for (const auto& record : b.records)
        bytes += record.second.size();
    outcome.done = QStringLiteral("the backup was saved to %1").arg(path);
    out << "saved " << b.records.size() << " records (" << bytes << " bytes) of controller "
        << Printable(b.controllerId) << " (model " << Printable(b.model) << ") to " << path << "\n";
    return kDone;
}

// The controller's records as the backup would leave them; nullopt after a message when
// the backup does not fit this controller.
std::optional<QList<std::pair<QString, QByteArray>>> restoredRecords(const CommLink& link, const backup::Backup& b,
                                                                    bool withIdentity, QTextStream& out,
                                                                    QTextStream& err)
{
    QList<std::pair<QString, QByteArray>> wanted;
    for (const auto& [name, bytes] : b.records) {
        const QByteArray current = link.keptValue(name);
        if (current.size() != bytes.size()) {
            err << "tolvanectl: " << name << " has " << current.size() << " bytes on the controller and "
                << bytes.size() << " in the backup\n";
            return std::nullopt;
        }
        QByteArray w = bytes;
        // The target keeps its own address and mask unless they are asked for.
        if (name == QLatin1String(rec::kRawCom) && !withIdentity && w.size() >= rec::kSubnetMask + 4) {
            const QByteArray identity = current.mid(rec::kIpAddress, 8);
            if (w.mid(rec::kIpAddress, 8) != identity)
                out << name << ": keeps its own ethernet.ip and ethernet.mask (--with-identity restores "
                    << fieldText(w, fieldAt(rec::kIpAddress)) << " / " << fieldText(w, fieldAt(rec::kSubnetMask))
                    << ")\n";
            w.replace(rec::kIpAddress, 8, identity);
        }
        wanted.append({name, w});
    }
    return wanted;
}

int restoreFrom(CommLink& link, const backup::Backup& b, const Args& args, Outcome& outcome, QTextStream& out,
                QTextStream& err)
{
    const QString model = link.controller()->model();
    out << "backup of controller " << Printable(b.controllerId) << " (model " << Printable(b.model) << "), taken "
        << b.taken.toString(Qt::ISODate) << "\n";
    if (b.model != model && !args.flags.contains(QStringLiteral("force"))) {
        err << "tolvanectl: the backup is of model " << Printable(b.model) << ", this controller is model "
            << Printable(model) << "; --force restores it anyway\n";
        return kDoesNotFit;
    }
    if (!link.ReadAllRecords())
        return failed(link, 503, kReadFailed, err);
    const auto wanted = restoredRecords(link, b, args.flags.contains(QStringLiteral("with-identity")), out, err);
    if (!wanted)
        return kDoesNotFit;
    QList<std::pair<QString, QByteArray>> changed;
    for (const auto& [name, bytes] : *wanted) {
        printChanges(name, link.keptValue(name), bytes, out);
        if (link.keptValue(name) != bytes)
            changed.append({name, bytes});
    }
    if (args.flags.contains(QStringLiteral("dry-run")) || changed.isEmpty()) {
        out << (changed.isEmpty() ? "nothing to restore\n" : "dry run: nothing written\n");
        return kDone;
    }
    if (!link.WriteRecords(changed))
        return failed(link, 504, kWriteFailed, err);
    outcome.done = QStringLiteral("%1 records were restored to the controller; reboot the controller to use them")
                       .arg(changed.size());
    if (!link.ReadAllRecords())
        return notReadBack(link, QStringLiteral("%1 records were restored to the controller").arg(changed.size()),
                           err);
    for (const auto& [name, bytes] : *wanted) {
        if (link.keptValue(name) != bytes) {
            err << "tolvanectl: " << name << " read back differs from what was written\n";
            return kReadBackDiffers;
        }
    }
    out << "restored " << changed.size() << " of " << wanted->size()
        << " records (the others already held the backup's bytes); reboot the controller to use them\n";
    return kDone;
}

// Progress on a terminal: one line, redrawn at most five times a second, cleared when
// the record has moved and the wait has ended.
class TerminalProgress {
public:
    explicit TerminalProgress(QTextStream& err) : m_err(err) {}
    void operator()(const TransferProgress& p)
    {
        m_record = p.record;
        draw(m_line.take(p));
    }
    void operator()(const WaitProgress& w) { draw(m_line.take(w)); }
private:
    void draw(const std::optional<QString>& text)
    {
        if (!text) {
            if (m_drawn)
                m_err << "\r\x1b[K";
            m_err.flush();
            m_drawn = false;
            return;
        }
        if (m_drawn && m_lastDraw.elapsed() < 200)
            return;
        m_err << "\r" << (m_line.moving() ? m_record + QStringLiteral(": ") : QString()) << *text << "\x1b[K";
        m_err.flush();
        m_drawn = true;
        m_lastDraw.start();
    }
    QTextStream& m_err;
    wizard::ProgressLine m_line;
    QString m_record;
    QElapsedTimer m_lastDraw;
    bool m_drawn = false;
};

// --verbose: the wire trace's categories on, each message a line of err, while a
// command runs.
class Trace {
public:
    explicit Trace(QTextStream* err)
    {
        if (!err)
            return;
        s_err = err;
        m_previous = qInstallMessageHandler(&Trace::write);
        QLoggingCategory::setFilterRules(QLatin1String(kTraceRules));
    }
    ~Trace()
    {
        if (!s_err)
            return;
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(m_previous);
        s_err = nullptr;
    }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;
private:
    static void write(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        *s_err << context.category << ": " << message << "\n";
        s_err->flush();
    }
    static inline QTextStream* s_err = nullptr;
    QtMessageHandler m_previous = nullptr;
};

// read and write: the settings as the wizard reads them.
int runSettings(CommLink& link, Options& o, QTextStream& out, QTextStream& err)
{
    const wizard::Opened opened = wizard::ConnectAndRead(link);
    if (opened == wizard::Opened::kConnectFailed)
        return connectFailed(link, err);
    if (opened == wizard::Opened::kReadFailed)
        return failed(link, 503, kReadFailed, err);
    if (o.args.command == QLatin1String("read")) {
        QJsonObject settings = settingsJson(link.settings(), holdsToken(link));
        addIdentity(settings, link);
        out << compact(settings) << "\n";
        return kDone;
    }
    return write(link, o, out, err);
}

}  // namespace

namespace {

// What each command's help says besides its usage lines.
QString linkOptions()
{
    return QStringLiteral(
               "  --conn CONN      eth:A.B.C.D (TCP port %1) or com:N:BAUD:P:8:STOP (serial port\n"
               "                   COM N; parity %2; 8 data bits; stop bits %3)\n"
               "  --timeout MS     inactivity bound of one attempt, %4 to %5 (default 4000)\n"
               "  --retries N      further attempts after the first, %6 to %7 (default 3)\n"
               "  --no-cache       use none of the records kept from earlier sessions, and keep\n"
               "                   none\n"
               "  --verbose        trace each frame and engine call on standard error\n")
        .arg(proto::kTcpPort)
        .arg(vocab::OneOf(vocab::ParityWords()),
             vocab::OneOf(vocab::Words(vocab::kStopBitTexts)))
        .arg(vocab::kTimeoutMin)
        .arg(vocab::kTimeoutMax)
        .arg(vocab::kRetriesMin)
        .arg(vocab::kRetriesMax);
}

struct CommandHelp {
    QString usage;
    QString what;
    QString options;   // besides the link's
    bool link = true;  // takes --conn and the link's options
};

CommandHelp writeHelp()
{
    const QString devices = vocab::Words(vocab::kDeviceNames).join(QLatin1Char('|'));
    const QString tokens = vocab::Words(vocab::kTokenNames).join(QLatin1Char('|'));
    return {QStringLiteral("tolvanectl write --conn CONN [--device %1] [--ip A.B.C.D] [--mask A.B.C.D]\n"
                           "                 [--baud N] [--token %2] [--token-ip A.B.C.D]\n"
                           "                 [--dry-run] [--backup FILE] [--timeout MS] [--retries N] [--no-cache]\n")
                .arg(devices, tokens),
            QStringLiteral("Changes the settings the way the wizard's pages do, writes them when anything\n"
                           "changed and reads them back. Prints one JSON object: changed, the settings\n"
                           "before and after, the fields that changed, the backup, the controller's id and model.\n"),
            QStringLiteral("  --device D       the permission device: %1 (default: the\n"
                           "                   controller's, required when it has both or none)\n"
                           "  --ip, --mask     the controller's Ethernet address and mask (ethernet)\n"
                           "  --baud N         %2 (rs232c)\n"
                           "  --token T        the executable token: %3\n"
                           "  --token-ip A     the token's address\n"
                           "  --dry-run        print what would change and write nothing\n"
                           "  --backup FILE    before a write that changes anything, save all six records in\n"
                           "                   FILE as backup does (no file, no write)\n")
                .arg(vocab::OneOf(vocab::Words(vocab::kDeviceNames)), vocab::OneOf(vocab::BaudWords()),
                     vocab::Words(vocab::kTokenNames).join(QStringLiteral(", ")))};
}

const QHash<QString, CommandHelp>& commandHelp()
{
    static const QHash<QString, CommandHelp> help{
        {QStringLiteral("read"),
         {QStringLiteral("tolvanectl read --conn CONN [--timeout MS] [--retries N] [--no-cache]\n"),
          QStringLiteral("Prints the controller's communication settings as one JSON object.\n"), QString()}},
        {QStringLiteral("write"), writeHelp()},
        {QStringLiteral("backup"),
         {QStringLiteral("tolvanectl backup --conn CONN [--timeout MS] [--retries N] [--no-cache] FILE\n"),
          QStringLiteral("Saves all six records of the controller in FILE; writes nothing to the controller.\n"),
          QString()}},
        {QStringLiteral("restore"),
         {QStringLiteral("tolvanectl restore --conn CONN [--dry-run] [--with-identity] [--force]\n"
                         "                   [--timeout MS] [--retries N] [--no-cache] FILE\n"),
          QStringLiteral("Checks FILE, prints what would change, writes the records that differ in one write\n"
                         "transaction (all of them or none) and reads them back.\n"),
          QStringLiteral("  --dry-run        print what would change and write nothing\n"
                         "  --with-identity  restore the Ethernet address and mask too (by default the\n"
                         "                   controller keeps its own)\n"
                         "  --force          accept a file saved from another controller model\n")}},
        {QStringLiteral("scan"), {QString::fromUtf8(kScanUsage), QString::fromUtf8(kScanHelp),
                                  QString::fromUtf8(kScanOptions), false}},
    };
    return help;
}

// A command's usage lines, indented as a usage text lists them.
QString usageLines(const QString& command)
{
    QString text;
    for (const QString& line : commandHelp().value(command).usage.split('\n'))
        if (!line.isEmpty())
            text += QStringLiteral("  ") + line + QLatin1Char('\n');
    return text;
}

}  // namespace

QString UsageText()
{
    QString text = QStringLiteral("Usage:\n");
    for (const char* command : {"read", "write", "backup", "restore", "scan"})
        text += usageLines(QLatin1String(command));
    return text + QStringLiteral(
        "  tolvanectl help [COMMAND]\n"
        "CONN is eth:A.B.C.D or com:N:BAUD:P:8:STOP; TARGET is eth:A.B.C.D[/NN|-E.F.G.H],\n"
        "com:N, com:N:BAUD:P:8:STOP or com:all.\n"
        "Exit codes: 0 done, 2 bad usage, 3 connect failed (scan: no controller answered),\n"
        "4 read failed, 5 write failed, 6 read-back differs, 7 backup file not written,\n"
        "8 backup file unreadable or damaged, 9 backup does not fit this controller,\n"
        "10 standard output could not be written (this outranks every other code),\n"
        "11 written, but the controller could not be read back.\n");
}

namespace {

// The help of one command (read, write, backup, restore), or of all for an empty name.
QString helpText(const QString& command)
{
    if (command.isEmpty())
        return QStringLiteral("tolvanectl finds robot controllers, and reads, writes, backs up and restores "
                              "a controller's\ncommunication settings with the wizard's controller routines, "
                              "without a window.\n\n")
               + UsageText()
               + QStringLiteral("\"tolvanectl help COMMAND\" or \"tolvanectl COMMAND --help\" tells more "
                                "of one command.\n");
    const CommandHelp& h = commandHelp().value(command);
    return QStringLiteral("Usage:\n") + usageLines(command) + QLatin1Char('\n') + h.what
           + QStringLiteral("\nOptions:\n") + (h.link ? linkOptions() : QString()) + h.options;
}

bool isHelp(const QString& arg)
{
    return arg == QLatin1String("--help") || arg == QLatin1String("-h");
}

// The help an argument list asks for: "--help", "-h" or "help" alone for all commands,
// "help COMMAND" or an option --help (-h) after a command for that one; nullopt when
// no help is asked for. Throws UsageError for help on a command that does not exist.
std::optional<QString> helpRequest(const QStringList& args)
{
    if (args.isEmpty())
        return std::nullopt;
    QString command;
    if (isHelp(args[0]) || args[0] == QLatin1String("help")) {
        if (args.size() == 1)
            return helpText(QString());
        command = args[1];
        if (args[0] != QLatin1String("help") || args.size() > 2 || !commandHelp().contains(command))
            throw UsageError{QStringLiteral("no help for '%1'").arg(args.mid(1).join(' '))};
    } else if (commandHelp().contains(args[0]) && std::any_of(args.begin() + 1, args.end(), isHelp)) {
        command = args[0];
    } else {
        return std::nullopt;
    }
    return helpText(command);
}

}  // namespace

int Run(const QStringList& rawArgs, QTextStream& out, QTextStream& err, bool showProgress, Outcome* outcome)
{
    InitLocale(0);
    Options o;
    try {
        if (const std::optional<QString> help = helpRequest(rawArgs)) {
            out << *help;
            return kDone;
        }
        if (rawArgs.size() == 1 && rawArgs[0] == QLatin1String("--version")) {
            out << "tolvanectl " << kTolvaneVersion << "\n";
            return kDone;
        }
        const QStringList args = commandFirst(rawArgs);
        if (args.value(0) == QLatin1String("scan"))
            return RunScan(args.mid(1), out, err, showProgress);
        o = parseOptions(args);
    } catch (const UsageError& e) {
        err << "tolvanectl: " << e.message << "\n" << UsageText();
        err.flush();
        return kUsage;
    }
    // A damaged backup is refused before the controller is even asked.
    std::optional<backup::Backup> file;
    if (o.args.command == QLatin1String("restore")) {
        QString error;
        file = backup::Load(o.args.file, &error);
        if (!file) {
            err << "tolvanectl: " << o.args.file << ": " << error << "\n";
            return kBadFile;
        }
    }
    const Trace trace(o.args.flags.contains(QStringLiteral("verbose")) ? &err : nullptr);
    TerminalProgress progress(err);
    CommLink link(o.view);
    link.setLinkOptions(o.timeout, o.retries);
    link.setRecordCache(!o.args.flags.contains(QStringLiteral("no-cache")));
    if (showProgress) {
        link.setProgressHook([&progress](const TransferProgress& p) { progress(p); });
        link.setWaitHook([&progress](const WaitProgress& w) { progress(w); });
    }
    int result = kConnectFailed;
    if (!takesFile(o.args.command)) {
        result = runSettings(link, o, out, err);
    } else if (!link.ok() || !link.ConnectController()) {
        result = connectFailed(link, err);
    } else if (file) {
        result = restoreFrom(link, *file, o.args, o.outcome, out, err);
    } else {
        result = backupTo(link, o.args.file, o.outcome, out, err);
    }
    disconnectQuietly(link);
    if (outcome)
        *outcome = o.outcome;
    return result;
}

int CheckOutput(int code, int lostErrno, const Outcome& outcome, QTextStream& err)
{
    if (lostErrno == 0)
        return code;
    err << "tolvanectl: standard output could not be written: "
        << (lostErrno == EBADF ? QStringLiteral("it is closed") : QString::fromLocal8Bit(std::strerror(lostErrno)))
        << "\n";
    if (!outcome.done.isEmpty())
        err << "tolvanectl: " << outcome.done << "\n";
    // Lost output outranks every other outcome: a script that reads nothing must not
    // take the exit code for what it did not get (an empty scan's table is an answer too).
    return kOutputLost;
}

}  // namespace ctl
