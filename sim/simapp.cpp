// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "sim/simapp.h"

#include "ipv4/ipv4.h"
#include "sim/simcontroller.h"
#include "sim/simlinks.h"

#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace sim {

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

void drainSignalPipe()
{
    char c = 0;
    while (::read(g_signalPipe[0], &c, 1) > 0) {
    }
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
It prints the line "ready" on standard output once it answers requests, and ends
cleanly with exit code 0 on SIGTERM or SIGINT.

Transport (exactly one):
  --listen ADDR[:PORT]   TCP on ADDR (a dotted quad, or [IPv6]), port 47311 by
                         default. Each TCP connection is its own session; several
                         may be open at once.
  --pty LINK             Create a pseudo-terminal (raw) and make LINK a symbolic link
                         to its slave device; the link is removed at exit.
  --serial DEVICE        Use an existing tty; with --baud N (default 38400) and
                         --parity N|E|O (default N), 8 data bits, 1 stop bit.

Options:
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
  --pace BAUD            With --pty or --serial: bytes leave no faster than a line at
                         BAUD (10 bits per byte, 11 with parity). Timer-driven.
  --log FILE             Append one line per request, flushed at once (format below).
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
    QString listen, pty, serial, statePath, logPath;
    qint64 baud = 38400, pace = 0, maxChunk = 4096, maxConnections = 64, leaseMs = 30000;
    char parity = 'N';
    std::optional<qint32> errorCode;
    bool verbose = false;
    bool optionalRequests = true;
    QList<Fault> faults;
};

// One option with its value into o; an exit code for a bad one, nullopt when taken.
std::optional<int> takeOption(const QString& a, const QString& v, SimOptions& o)
{
    if (a == QLatin1String("--listen")) {
        o.listen = v;
    } else if (a == QLatin1String("--pty")) {
        o.pty = v;
    } else if (a == QLatin1String("--serial")) {
        o.serial = v;
    } else if (a == QLatin1String("--baud")) {
        if (!toInt(v, 1, 4000000, &o.baud))
            return usageError(QStringLiteral("bad --baud %1").arg(v));
    } else if (a == QLatin1String("--parity")) {
        if (v != QLatin1String("N") && v != QLatin1String("E") && v != QLatin1String("O"))
            return usageError(QStringLiteral("bad --parity %1").arg(v));
        o.parity = char(v.at(0).toLatin1());
    } else if (a == QLatin1String("--pace")) {
        if (!toInt(v, 1, 100000000, &o.pace))
            return usageError(QStringLiteral("bad --pace %1").arg(v));
    } else if (a == QLatin1String("--max-chunk")) {
        if (!toInt(v, 1, proto::kMaxPayload, &o.maxChunk))
            return usageError(QStringLiteral("bad --max-chunk %1").arg(v));
    } else if (a == QLatin1String("--max-connections")) {
        if (!toInt(v, 1, 100000, &o.maxConnections))
            return usageError(QStringLiteral("bad --max-connections %1").arg(v));
    } else if (a == QLatin1String("--lease")) {
        if (!toInt(v, 1, 86400000, &o.leaseMs))
            return usageError(QStringLiteral("bad --lease %1").arg(v));
    } else if (a == QLatin1String("--state")) {
        o.statePath = v;
    } else if (a == QLatin1String("--log")) {
        o.logPath = v;
    } else if (a == QLatin1String("--error-code")) {
        qint64 n = 0;
        if (!toInt(v, INT32_MIN, INT32_MAX, &n))
            return usageError(QStringLiteral("bad --error-code %1").arg(v));
        o.errorCode = qint32(n);
    } else if (a == QLatin1String("--fault")) {
        QString why;
        const auto f = parseFault(v, &why);
        if (!f)
            return usageError(why);
        o.faults << *f;
    } else {
        return usageError(QStringLiteral("unknown option %1").arg(a));
    }
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
        if (a == QLatin1String("--verbose")) {
            o.verbose = true;
            continue;
        }
        if (a == QLatin1String("--no-optional-requests")) {
            o.optionalRequests = false;
            continue;
        }
        if (i + 1 >= args.size())
            return usageError(a.startsWith(QLatin1String("--")) ? QStringLiteral("%1 needs a value").arg(a)
                                                                : QStringLiteral("unknown argument %1").arg(a));
        if (const std::optional<int> rc = takeOption(a, args[++i], o))
            return rc;
    }
    if (int(!o.listen.isEmpty()) + int(!o.pty.isEmpty()) + int(!o.serial.isEmpty()) != 1)
        return usageError(QStringLiteral("give exactly one of --listen, --pty, --serial"));
    return std::nullopt;
}

// Every request line goes to the log file (flushed at once) and, verbose, to stderr.
bool setUpLog(SimController& ctl, const SimOptions& o, std::unique_ptr<QFile>& logFile)
{
    if (!o.logPath.isEmpty()) {
        logFile = std::make_unique<QFile>(o.logPath);
        if (!logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            std::fprintf(stderr, "tolvane-sim: cannot open log %s: %s\n", qPrintable(o.logPath),
                         qPrintable(logFile->errorString()));
            return false;
        }
    }
    ctl.setLogSink([file = logFile.get(), verbose = o.verbose](const QString& line) {
        const QByteArray text = line.toUtf8() + '\n';
        if (file) {
            file->write(text);
            file->flush();
        }
        if (verbose) {
            std::fputs(text.constData(), stderr);
            std::fflush(stderr);
        }
    });
    return true;
}

// SIGTERM and SIGINT end the event loop through a pipe (the only safe way out of a
// signal handler); a peer that goes away never kills the process with SIGPIPE.
std::unique_ptr<QSocketNotifier> handleSignals(QCoreApplication& app)
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
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &app, [&app] {
        drainSignalPipe();
        app.quit();
    });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return notifier;
}

// --listen ADDR[:PORT]: a dotted quad or a bracketed IPv6 address. Short forms such as
// "127.1" are refused, so that a typo never binds an address nobody meant.
std::unique_ptr<QObject> listenTcp(SimController& ctl, const QString& listen, int maxConnections, int* rc)
{
    static const QRegularExpression form(QStringLiteral(R"(^([0-9.]+|\[[0-9A-Fa-f:.]+\])(?::(\d{1,5}))?$)"));
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
    qint64 port = proto::kTcpPort;
    if (m.hasMatch() && !m.captured(2).isEmpty() && !toInt(m.captured(2), 1, 65535, &port)) {
        *rc = usageError(QStringLiteral("bad port in --listen %1").arg(listen));
        return nullptr;
    }
    if (!m.hasMatch() || addr.isNull()) {
        *rc = usageError(QStringLiteral("bad address in --listen %1").arg(listen));
        return nullptr;
    }
    auto server = std::make_unique<TcpServer>(ctl, maxConnections);
    QString error;
    if (!server->listen(addr, quint16(port), &error)) {
        std::fprintf(stderr, "tolvane-sim: cannot listen on %s:%u: %s\n", qPrintable(host), unsigned(port),
                     qPrintable(error));
        *rc = 1;
        return nullptr;
    }
    return server;
}

// The transport the options name; nullptr with *rc set when it cannot be opened.
std::unique_ptr<QObject> openTransport(SimController& ctl, const SimOptions& o, int* rc)
{
    if (!o.listen.isEmpty())
        return listenTcp(ctl, o.listen, int(o.maxConnections), rc);
    QString error;
    *rc = 1;
    if (!o.pty.isEmpty()) {
        auto link = std::make_unique<PtyLink>(ctl);
        if (!link->open(o.pty, &error)) {
            std::fprintf(stderr, "tolvane-sim: cannot create the pseudo-terminal: %s\n", qPrintable(error));
            return nullptr;
        }
        if (o.pace > 0)
            link->setPace(int(o.pace), 10);
        return link;
    }
    auto link = std::make_unique<SerialLink>(ctl);
    if (!link->open(o.serial, int(o.baud), o.parity, &error)) {
        std::fprintf(stderr, "tolvane-sim: cannot open %s: %s\n", qPrintable(o.serial), qPrintable(error));
        return nullptr;
    }
    if (o.pace > 0)
        link->setPace(int(o.pace), o.parity == 'N' ? 10 : 11);
    return link;
}

}  // namespace

int runSimulator(QCoreApplication& app)
{
    SimOptions o;
    if (const std::optional<int> rc = parseOptions(app.arguments(), o))
        return *rc;
    SimConfig cfg;
    cfg.maxChunk = quint32(o.maxChunk);
    cfg.optionalRequests = o.optionalRequests;
    cfg.statePath = o.statePath;
    cfg.faults = o.faults;
    cfg.leaseMs = o.leaseMs;
    SimController ctl(cfg);
    std::unique_ptr<QFile> logFile;
    if (!setUpLog(ctl, o, logFile))
        return 1;
    Link::setVerbose(o.verbose);
    QString error;
    if (!ctl.start(o.errorCode, &error)) {
        std::fprintf(stderr, "tolvane-sim: %s\n", qPrintable(error));
        return 1;
    }
    const std::unique_ptr<QSocketNotifier> signalNotifier = handleSignals(app);
    if (!signalNotifier)
        return 1;
    int rc = 1;
    std::unique_ptr<QObject> transport = openTransport(ctl, o, &rc);
    if (!transport)
        return rc;
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    rc = app.exec();
    transport.reset();  // removes the pty link
    return rc;
}

}  // namespace sim
