// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "sim/simapp.h"

#include "controller/recordlayout.h"
#include "controller/vocabulary.h"
#include "ipv4/ipv4.h"
#include "sim/simcontroller.h"
#include "sim/simlinks.h"
#include "version.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <memory>
#include <unistd.h>

namespace sim {

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int signo)
{
    const char c = char(signo);
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

// True when the signals that came include one that ends the process (not only SIGHUP).
bool drainSignalPipe(bool* hangUp)
{
    bool end = false;
    char c = 0;
    while (::read(g_signalPipe[0], &c, 1) > 0) {
        if (c == SIGHUP)
            *hangUp = true;
        else
            end = true;
    }
    return end;
}

int usageError(const QString& message)
{
    std::fprintf(stderr, "tolvane-sim: %s\n(see tolvane-sim --help)\n", qPrintable(message));
    return 2;
}

bool toInt(const QString& s, qint64 lo, qint64 hi, qint64* out)
{
    bool ok = false;
    const qint64 v = s.toLongLong(&ok);
    if (!ok || v < lo || v > hi)
        return false;
    *out = v;
    return true;
}

}  // namespace

const char* const kHelpText = R"HELP(Usage: tolvane-sim TRANSPORT [OPTIONS]

A simulated robot controller that speaks the controller link protocol (version 1).
It prints the line "ready" on standard output once it answers requests, and again
after each reboot; it ends cleanly with exit code 0 on SIGTERM or SIGINT. SIGHUP
reboots every controller of the process, as a power cycle would: connections end, and
each starts again from its state file (without one, from what it held in memory).

Transport (exactly one):
  --listen ADDR[:PORT]   TCP on ADDR (a dotted quad, or [IPv6]), port 47311 by
                         default. Each TCP connection is its own session; several
                         may be open at once.
  --listen A.B.C.D-E.F.G.H
                         A cell: one controller on each address of the range (at most
                         1024), port 47311, each with its own state (--state-dir),
                         its own id ("TLVSIM-" and its address unless --id is given)
                         and its own connections. Faults apply to each of them.
  --pty LINK             Create a pseudo-terminal (raw) and make LINK a symbolic link
                         to its slave device; the link is removed at exit. With
                         --baud N the controller answers only while the client's end
                         is set to N; at any other rate what it receives and sends is
                         garbled, as on a real line at the wrong speed.
  --serial DEVICE        Use an existing tty; with --baud N (default 38400) and
                         --parity N|E|O (default N), 8 data bits, 1 stop bit.

Options:
  --id TEXT              The controller id that OPEN answers (default TLVSIM-0001).
  --model TEXT           The model that OPEN answers (default "Tolvane RC-8 simulator").
  --state-dir DIR        With --listen: each controller keeps its state in DIR, in a
                         file named after its listen address (127.0.10.3.state),
                         as --state keeps it. DIR must exist.
  --follow-address       With --listen: after a reboot (SIGHUP) a controller listens on
                         the Ethernet address its @CNF_RAW_COM holds, when that is a
                         loopback address (127.x.x.x); otherwise, or when that address
                         cannot be bound, it keeps its address and says so on standard
                         error. Its state file and id keep their names.
  --state FILE           Keep records and error code in FILE: loaded at start, created
                         with the factory defaults when missing. Every change is
                         written atomically (temporary file, fsync, rename, fsync of the
                         folder) before the OK response. A FILE that cannot be loaded
                         is an error (exit 1). Without --state the state is in memory.
  --error-code N         Set the controller's error code at start (durably with
                         --state).
  --max-chunk N          Largest chunk the controller accepts (default 4096).
  --max-connections N    With --listen: at most N connections at once (default 64); a
                         new one beyond them closes the connection idle longest. When
                         the process runs out of descriptors, the longest idle one is
                         closed and accepting pauses for 100 ms.
  --lease MS             The access bracket's lease (default 30000): a session that
                         holds the bracket and sends no request for MS milliseconds is
                         ended as if its connection had ended (bracket released, open
                         transaction and staged writes discarded); its next request
                         gets NOT_OPEN. The log shows "<conn> <seq> LEASE silent N ms
                         -> ENDED", seq being the session's last request.
  --pace BAUD            Bytes leave no faster than a line at BAUD (10 bits per byte,
                         11 with parity); with --listen on each connection, as behind
                         a slow serial gateway. Timer-driven.
  --log FILE             Append one line per request, flushed at once (format below);
                         in a cell each line starts with the controller's listen
                         address and a blank.
  --verbose              Also log every request, every dropped frame and every partial
                         frame dropped on an idle line to standard error.
  --no-optional-requests Answer RECORD_DIGEST and PATCH_RECORD with UNSUPPORTED, as a
                         controller without them does.
  --fault FAULT          Inject a fault; repeatable. FAULT is one of:
      drop-at=N          On request N: TCP closes the connection, a line ends the
                         session silently; no answer.
      stall-at=N         Request N is never answered (and not executed).
      freeze-at=N        From request N on nothing is answered or executed; the
                         connection stays open and silent, as a hung controller's.
      corrupt-at=N       Request N is executed; one byte (the CRC) of its response
                         is damaged, so the client drops it; a retry gets the kept
                         response.
      exit-at=N          The process ends with _exit(70) on request N, before executing
                         it, as a power cut would.
      exit-after-apply=N The process ends with _exit(70) after request N was executed
                         and made durable (a commit or completing write is on disk),
                         before the response is sent.
      short=NAME:SIZE    Record NAME has SIZE bytes (cut, or padded with the filler
                         pattern; with --state it is stored with the next change).
      fail-read=NAME     READ_RECORD and RECORD_DIGEST of NAME answer FAILED.
      fail-write=NAME    A completing WRITE_RECORD or a PATCH_RECORD (outside a
                         transaction) or a commit holding NAME answers FAILED; the
                         state is unchanged.
      deny-clear         ClearError answers DENIED.
      steal-after-commit Right after each commit that stores records, another client
                         takes the access bracket and keeps it until the simulator
                         restarts: every later request for it answers DENIED.
      flood-at=N         From request N on nothing is answered or executed; the
                         connection streams random bytes without end (as fast as
                         TCP or --pace allows).
      header-flood-at=N  As flood-at, but the stream is response headers that each
                         claim a payload of 1,048,576 bytes.
      wrong-seq-at=N     From request N on, requests are executed and answered with
                         the sequence number plus one; the last such answer is sent
                         again every 100 ms. No right answer ever comes.
      error-at=N:CODE    Just before request N is handled, the controller's error
                         code becomes CODE (durably with --state).
      chatter            Every connection (or the line) streams NMEA text lines from
                         its start and answers nothing, as a wrong port with a GPS
                         receiver on it would.
    N counts the frames received on one connection (a TCP connection, or the line for
    --pty and --serial) from 1: the first request, normally OPEN, is 1. Retries count.
  -h, --help             Print this help and exit.
  --version              Print the version and exit.

Request log (--log, --verbose), one line per request:
  <conn> <seq> <OPNAME> <details> -> <STATUS>[ (resent)][ (corrupted)]
  <conn> counts connections from 1 (a line is connection 1); <seq> is the request's
  sequence number; OPNAME is OPEN, CLOSE, READ_VALUE, RECORD_SIZE, READ_RECORD,
  WRITE_RECORD, RECORD_DIGEST, PATCH_RECORD, EXECUTE or OP_0xNN. Details: OPEN the
  client name; READ_VALUE, RECORD_SIZE and RECORD_DIGEST the name; READ_RECORD
  "NAME OFFSET+LENGTH"; WRITE_RECORD "NAME OFFSET+LENGTH/TOTAL"; PATCH_RECORD
  "NAME OFFSET+LENGTH,OFFSET+LENGTH/SIZE"; EXECUTE "doSignal CH,PHASE" or
  "ClearError CODE";
  "(malformed)" for a payload that does not parse. STATUS is OK, UNKNOWN_NAME,
  MALFORMED, OUT_OF_RANGE, DENIED, NOT_OPEN, FAILED, UNSUPPORTED or BAD_SIZE;
  "(resent)" marks a retry answered from the kept response without executing
  (OPEN is never resent: it always executes and starts a new session).
  Faults log "(dropped)", "(stalled)", "(frozen)", "(exit)", "(flood)" or "(header
  flood)" instead of a status ("OK (exit)" for exit-after-apply, "OK (wrong sequence)" for
  wrong-seq-at).
  Example:  3 7 EXECUTE doSignal 1,0 -> OK
            3 8 WRITE_RECORD @CNF_RAW_COM 0+256/256 -> OK

Records: @CNF_RAW_COM (256 bytes), @CNF_BACKPRM (24576), @CNF_HOST_PARM (320),
@DAT_OPTION (384), @DAT_TSRPARAM (448), @LST_PACOPTION (512); value @ERROR_CODE;
commands doSignal and ClearError. A new controller has Ethernet as permission device
at 192.168.0.1/255.255.255.0, RS232C 38400 8N1 with CR, and the token "Open".
)HELP";

namespace {

// The command line, parsed.
struct SimOptions {
    QString listen, pty, serial, statePath, stateDir, logPath, id, model;
    qint64 baud = 38400, pace = 0, maxChunk = 4096, maxConnections = 64, leaseMs = 30000;
    bool baudGiven = false;
    char parity = 'N';
    std::optional<qint32> errorCode;
    bool verbose = false;
    bool optionalRequests = true;
    bool followAddress = false;
    QList<Fault> faults;
};

// What an option that takes a value does with it: an exit code for a bad value,
// nullopt when taken.
using Taker = std::function<std::optional<int>(const QString& name, const QString& value, SimOptions& o)>;

Taker text(QString SimOptions::*field)
{
    return [field](const QString&, const QString& v, SimOptions& o) {
        o.*field = v;
        return std::optional<int>();
    };
}

Taker number(qint64 SimOptions::*field, qint64 lo, qint64 hi)
{
    return [=](const QString& name, const QString& v, SimOptions& o) {
        return toInt(v, lo, hi, &(o.*field)) ? std::nullopt
                                             : std::optional<int>(usageError(QStringLiteral("bad %1 %2").arg(name, v)));
    };
}

// Every option that takes a value: the one list of them.
const QHash<QString, Taker>& valueOptions()
{
    static const QHash<QString, Taker> options{
        {QStringLiteral("--listen"), text(&SimOptions::listen)},
        {QStringLiteral("--pty"), text(&SimOptions::pty)},
        {QStringLiteral("--serial"), text(&SimOptions::serial)},
        {QStringLiteral("--id"), text(&SimOptions::id)},
        {QStringLiteral("--model"), text(&SimOptions::model)},
        {QStringLiteral("--state"), text(&SimOptions::statePath)},
        {QStringLiteral("--state-dir"), text(&SimOptions::stateDir)},
        {QStringLiteral("--log"), text(&SimOptions::logPath)},
        {QStringLiteral("--baud"),
         [](const QString& name, const QString& v, SimOptions& o) {
             o.baudGiven = true;
             return number(&SimOptions::baud, 1, 4000000)(name, v, o);
         }},
        {QStringLiteral("--pace"), number(&SimOptions::pace, 1, 100000000)},
        {QStringLiteral("--max-chunk"), number(&SimOptions::maxChunk, 1, proto::kMaxPayload)},
        {QStringLiteral("--max-connections"), number(&SimOptions::maxConnections, 1, 100000)},
        {QStringLiteral("--lease"), number(&SimOptions::leaseMs, 1, 86400000)},
        {QStringLiteral("--parity"),
         [](const QString& name, const QString& v, SimOptions& o) {
             if (v.size() != 1 || vocab::ParityPosition(char(v.at(0).unicode())) < 0)
                 return std::optional<int>(usageError(QStringLiteral("bad %1 %2").arg(name, v)));
             o.parity = char(v.at(0).toLatin1());
             return std::optional<int>();
         }},
        {QStringLiteral("--error-code"),
         [](const QString& name, const QString& v, SimOptions& o) {
             qint64 n = 0;
             if (!toInt(v, INT32_MIN, INT32_MAX, &n))
                 return std::optional<int>(usageError(QStringLiteral("bad %1 %2").arg(name, v)));
             o.errorCode = qint32(n);
             return std::optional<int>();
         }},
        {QStringLiteral("--fault"),
         [](const QString&, const QString& v, SimOptions& o) {
             QString why;
             const auto f = parseFault(v, &why);
             if (!f)
                 return std::optional<int>(usageError(why));
             o.faults << *f;
             return std::optional<int>();
         }},
    };
    return options;
}

// Options that only make sense together; an exit code when they do not fit.
std::optional<int> checkCombinations(const SimOptions& o)
{
    if (int(!o.listen.isEmpty()) + int(!o.pty.isEmpty()) + int(!o.serial.isEmpty()) != 1)
        return usageError(QStringLiteral("give exactly one of --listen, --pty, --serial"));
    if (!o.statePath.isEmpty() && !o.stateDir.isEmpty())
        return usageError(QStringLiteral("give --state or --state-dir, not both"));
    if (o.listen.isEmpty() && (!o.stateDir.isEmpty() || o.followAddress))
        return usageError(QStringLiteral("--state-dir and --follow-address go with --listen"));
    if (o.listen.contains(QLatin1Char('-')) && !o.statePath.isEmpty())
        return usageError(QStringLiteral("a cell keeps one state file a controller: use --state-dir"));
    if (!o.stateDir.isEmpty() && !QFileInfo(o.stateDir).isDir())
        return usageError(QStringLiteral("--state-dir %1 is not a folder").arg(o.stateDir));
    return std::nullopt;
}

// An exit code when the program ends here (help, bad usage), nullopt to go on.
std::optional<int> parseOptions(const QStringList& args, SimOptions& o)
{
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kHelpText, stdout);
            return 0;
        }
        if (a == QLatin1String("--version")) {
            std::printf("tolvane-sim %s\n", kTolvaneVersion);
            return 0;
        }
        if (a == QLatin1String("--verbose")) {
            o.verbose = true;
            continue;
        }
        if (a == QLatin1String("--no-optional-requests")) {
            o.optionalRequests = false;
            continue;
        }
        if (a == QLatin1String("--follow-address")) {
            o.followAddress = true;
            continue;
        }
        const auto option = valueOptions().constFind(a);
        if (option == valueOptions().cend())
            return usageError(a.startsWith(QLatin1Char('-')) ? QStringLiteral("unknown option %1").arg(a)
                                                             : QStringLiteral("unknown argument %1").arg(a));
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("%1 needs a value").arg(a));
        if (const std::optional<int> rc = (*option)(a, args[++i], o))
            return rc;
    }
    return checkCombinations(o);
}

// SIGTERM and SIGINT end the event loop, SIGHUP calls hangUp, all through a pipe (the
// only safe way out of a signal handler); a peer that goes away never kills the process
// with SIGPIPE.
std::unique_ptr<QSocketNotifier> handleSignals(QCoreApplication& app, const std::function<void()>& hangUp)
{
    int fds[2] = {-1, -1};
    if (::pipe(fds) != 0) {
        std::perror("tolvane-sim: pipe");
        return nullptr;
    }
    for (int fd : fds) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    g_signalPipe[0] = fds[0];
    g_signalPipe[1] = fds[1];
    auto notifier = std::make_unique<QSocketNotifier>(qintptr(g_signalPipe[0]), QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [&app, hangUp] {
        bool hung = false;
        if (drainSignalPipe(&hung))
            app.quit();
        else if (hung)
            hangUp();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return notifier;
}

constexpr int kMaxCell = 1024;

// Where --listen says to listen: ADDR[:PORT] (a dotted quad or a bracketed IPv6
// address) or a range A.B.C.D-E.F.G.H of dotted quads. Short forms such as "127.1" are
// refused, so that a typo never binds an address nobody meant. Empty with *rc set when
// the text is bad.
QList<QHostAddress> parseListen(const QString& listen, quint16* port, int* rc)
{
    static const QRegularExpression form(QStringLiteral(R"(^([0-9.]+|\[[0-9A-Fa-f:.]+\])(?::(\d{1,5}))?$)"));
    static const QRegularExpression range(QStringLiteral(R"(^([0-9.]+)-([0-9.]+)$)"));
    *port = proto::kTcpPort;
    if (const QRegularExpressionMatch r = range.match(listen); r.hasMatch()) {
        const std::optional<IPv4> first = ParseIPv4(r.captured(1)), last = ParseIPv4(r.captured(2));
        if (!first || !last || IPv4ToNumber(*last) < IPv4ToNumber(*first)
            || IPv4ToNumber(*last) - IPv4ToNumber(*first) >= kMaxCell) {
            *rc = usageError(QStringLiteral("bad range in --listen %1 (from A.B.C.D to E.F.G.H, at most %2 addresses)")
                                 .arg(listen)
                                 .arg(kMaxCell));
            return {};
        }
        QList<QHostAddress> all;
        for (quint32 n = IPv4ToNumber(*first); n <= IPv4ToNumber(*last); ++n)
            all.append(QHostAddress(n));
        return all;
    }
    const QRegularExpressionMatch m = form.match(listen);
    QString host = m.captured(1);
    QHostAddress addr;
    if (host.startsWith(QLatin1Char('['))) {
        host = host.mid(1, host.size() - 2);
        if (!addr.setAddress(host))
            addr.clear();
    } else if (const std::optional<IPv4> ip = ParseIPv4(host)) {
        addr = QHostAddress(FormatIPv4(*ip));
    }
    qint64 p = proto::kTcpPort;
    if (m.hasMatch() && !m.captured(2).isEmpty() && !toInt(m.captured(2), 1, 65535, &p)) {
        *rc = usageError(QStringLiteral("bad port in --listen %1").arg(listen));
        return {};
    }
    if (!m.hasMatch() || addr.isNull()) {
        *rc = usageError(QStringLiteral("bad address in --listen %1").arg(listen));
        return {};
    }
    *port = quint16(p);
    return {addr};
}

// One simulated controller of the process with its transport.
struct Node {
    SimConfig cfg;
    QString name;          // in a cell, its listen address: names its log lines
    QHostAddress address;  // where it listens (TCP)
    std::unique_ptr<SimController> ctl;
    std::unique_ptr<QObject> transport;
};

// Every controller of the process: one, or a cell of them on a range of addresses.
class Cell {
public:
    Cell(const SimOptions& o, QFile* log) : m_o(o), m_log(log) {}

    // The controllers the options name; false with *rc set when they name none.
    bool plan(int* rc);
    // Starts every controller and opens its transport; false with *rc set on failure.
    bool boot(int* rc);
    // A power cycle of every controller: connections end, each starts again from its
    // state file, and with --follow-address moves to the address its record holds.
    void reboot();

private:
    bool startController(Node& n, std::optional<qint32> errorCode, QString* error);
    bool openTransport(Node& n, int* rc);
    void followAddress(Node& n);
    std::unique_ptr<QObject> listenOn(Node& n, const QHostAddress& addr, QString* error);

    const SimOptions& m_o;
    QFile* m_log;
    quint16 m_port = proto::kTcpPort;
    std::vector<Node> m_nodes;
};

bool Cell::plan(int* rc)
{
    SimConfig cfg;
    cfg.maxChunk = quint32(m_o.maxChunk);
    cfg.optionalRequests = m_o.optionalRequests;
    cfg.statePath = m_o.statePath;
    cfg.faults = m_o.faults;
    cfg.leaseMs = m_o.leaseMs;
    if (!m_o.id.isEmpty())
        cfg.controllerId = m_o.id;
    if (!m_o.model.isEmpty())
        cfg.model = m_o.model;
    QList<QHostAddress> addresses{QHostAddress()};
    if (!m_o.listen.isEmpty()) {
        addresses = parseListen(m_o.listen, &m_port, rc);
        if (addresses.isEmpty())
            return false;
    }
    const bool cell = addresses.size() > 1 || m_o.listen.contains(QLatin1Char('-'));
    for (const QHostAddress& a : std::as_const(addresses)) {
        Node n;
        n.cfg = cfg;
        n.address = a;
        const QString text = a.toString();
        if (cell) {
            n.name = text;
            if (m_o.id.isEmpty())
                n.cfg.controllerId = QStringLiteral("TLVSIM-") + text;
        }
        if (!m_o.stateDir.isEmpty())
            n.cfg.statePath = QDir(m_o.stateDir).filePath(text + QStringLiteral(".state"));
        m_nodes.push_back(std::move(n));
    }
    return true;
}

// Every request line goes to the log file (flushed at once) and, verbose, to stderr.
bool Cell::startController(Node& n, std::optional<qint32> errorCode, QString* error)
{
    n.ctl = std::make_unique<SimController>(n.cfg);
    const QString prefix = n.name.isEmpty() ? QString() : n.name + QLatin1Char(' ');
    n.ctl->setLogSink([file = m_log, verbose = m_o.verbose, prefix](const QString& line) {
        const QByteArray text = (prefix + line).toUtf8() + '\n';
        if (file) {
            file->write(text);
            file->flush();
        }
        if (verbose) {
            std::fputs(text.constData(), stderr);
            std::fflush(stderr);
        }
    });
    if (n.ctl->start(errorCode, error))
        return true;
    if (!n.name.isEmpty())
        *error = n.name + QStringLiteral(": ") + *error;
    return false;
}

std::unique_ptr<QObject> Cell::listenOn(Node& n, const QHostAddress& addr, QString* error)
{
    auto server = std::make_unique<TcpServer>(*n.ctl, int(m_o.maxConnections), int(m_o.pace));
    if (!server->listen(addr, m_port, error))
        return nullptr;
    return server;
}

bool Cell::openTransport(Node& n, int* rc)
{
    QString error;
    *rc = 1;
    if (!m_o.listen.isEmpty()) {
        n.transport = listenOn(n, n.address, &error);
        if (!n.transport)
            std::fprintf(stderr, "tolvane-sim: cannot listen on %s:%u: %s\n", qPrintable(n.address.toString()),
                         unsigned(m_port), qPrintable(error));
        return n.transport != nullptr;
    }
    if (!m_o.pty.isEmpty()) {
        auto link = std::make_unique<PtyLink>(*n.ctl);
        if (!link->open(m_o.pty, &error)) {
            std::fprintf(stderr, "tolvane-sim: cannot create the pseudo-terminal: %s\n", qPrintable(error));
            return false;
        }
        if (m_o.pace > 0)
            link->setPace(int(m_o.pace), 10);
        if (m_o.baudGiven && !link->setRate(int(m_o.baud))) {
            *rc = usageError(QStringLiteral("--baud %1 is no rate a terminal can be set to").arg(m_o.baud));
            return false;
        }
        n.transport = std::move(link);
        return true;
    }
    auto link = std::make_unique<SerialLink>(*n.ctl);
    if (!link->open(m_o.serial, int(m_o.baud), m_o.parity, &error)) {
        std::fprintf(stderr, "tolvane-sim: cannot open %s: %s\n", qPrintable(m_o.serial), qPrintable(error));
        return false;
    }
    if (m_o.pace > 0)
        link->setPace(int(m_o.pace), m_o.parity == 'N' ? 10 : 11);
    n.transport = std::move(link);
    return true;
}

bool Cell::boot(int* rc)
{
    // A cell holds a listening socket for each controller and their connections.
    if (m_nodes.size() > 1) {
        rlimit files{};
        if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
            files.rlim_cur = files.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &files);
        }
    }
    for (Node& n : m_nodes) {
        QString error;
        if (!startController(n, m_o.errorCode, &error)) {
            std::fprintf(stderr, "tolvane-sim: %s\n", qPrintable(error));
            *rc = 1;
            return false;
        }
        if (!openTransport(n, rc))
            return false;
    }
    return true;
}

// The Ethernet address a controller's record holds; nullopt when the record is too short
// to hold one.
std::optional<IPv4> recordAddress(const ControllerState& st)
{
    const QByteArray com = st.records.value(QString::fromLatin1(rec::kRawCom));
    if (com.size() < rec::kIpAddress + 4)
        return std::nullopt;
    return rec::ReversedAt(com, rec::kIpAddress);
}

void Cell::followAddress(Node& n)
{
    const std::optional<IPv4> stored = recordAddress(n.ctl->state());
    const QString here = n.address.toString();
    if (!stored) {
        std::fprintf(stderr, "tolvane-sim: %s keeps its address: its @CNF_RAW_COM holds none\n", qPrintable(here));
        return;
    }
    const QHostAddress wanted(FormatIPv4(*stored));
    if (wanted == n.address)
        return;
    if ((*stored)[0] != 127) {
        std::fprintf(stderr, "tolvane-sim: %s keeps its address: its record holds %s, not a loopback address\n",
                     qPrintable(here), qPrintable(wanted.toString()));
        return;
    }
    QString error;
    if (std::unique_ptr<QObject> moved = listenOn(n, wanted, &error)) {
        n.transport = std::move(moved);
        n.address = wanted;
        std::fprintf(stderr, "tolvane-sim: %s now listens on %s\n", qPrintable(here), qPrintable(wanted.toString()));
        return;
    }
    std::fprintf(stderr, "tolvane-sim: %s keeps its address: cannot listen on %s: %s\n", qPrintable(here),
                 qPrintable(wanted.toString()), qPrintable(error));
}

void Cell::reboot()
{
    // Every connection ends first, so that a controller's new address is free to take.
    for (Node& n : m_nodes)
        n.transport.reset();
    for (Node& n : m_nodes) {
        if (!n.ctl)
            continue;
        if (n.cfg.statePath.isEmpty())
            n.cfg.memoryState = n.ctl->state();
        n.ctl.reset();
        QString error;
        if (!startController(n, std::nullopt, &error)) {
            // Like a controller that does not come up again: the others go on.
            std::fprintf(stderr, "tolvane-sim: %s; that controller stays down\n", qPrintable(error));
            n.ctl.reset();
            continue;
        }
        int rc = 0;
        if (!m_o.listen.isEmpty() && m_o.followAddress)
            followAddress(n);  // listens there when it can
        if (!n.transport && !openTransport(n, &rc))
            std::fprintf(stderr, "tolvane-sim: %s stays down\n", qPrintable(n.name.isEmpty() ? n.address.toString()
                                                                                             : n.name));
    }
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
}

}  // namespace

int runSimulator(QCoreApplication& app)
{
    SimOptions o;
    if (const std::optional<int> rc = parseOptions(app.arguments(), o))
        return *rc;
    std::unique_ptr<QFile> logFile;
    if (!o.logPath.isEmpty()) {
        logFile = std::make_unique<QFile>(o.logPath);
        if (!logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "tolvane-sim: cannot open log %s: %s\n", qPrintable(o.logPath),
                         qPrintable(logFile->errorString()));
            return 1;
        }
    }
    Link::setVerbose(o.verbose);
    Cell cell(o, logFile.get());
    int rc = 1;
    if (!cell.plan(&rc))
        return rc;
    const std::unique_ptr<QSocketNotifier> signalNotifier = handleSignals(app, [&cell] { cell.reboot(); });
    if (!signalNotifier || !cell.boot(&rc))
        return rc;
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    rc = app.exec();
    return rc;  // the cell ends its transports (removing a pty link) as it goes
}

}  // namespace sim
