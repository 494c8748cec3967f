// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// tolvanectl scan as an engineer runs it, timed as a whole process:
//   - a loopback /24 holding 20 controllers, a peer that streams text, a peer that
//     accepts and never answers, and empty addresses; goal: at most 1 s, every
//     controller found and no other. Its floor: the same TCP connects and OPEN
//     exchanges done 64 at a time by plain sockets here, with no protocol code;
//   - a line whose controller answers only at 115200, the last rate a port scan tries;
//     goal: at most 3 s. At each rate before it nothing at all comes back, so each costs
//     T and the line time of the OPEN request (a silent line's deadline), shown beside.
// Prints Markdown tables; exits 1 when a scan does not find exactly what is there (a
// missed goal is a figure, not a failure).

#include "bench/benchsupport.h"
#include "protocol/protocol.h"
#include "scan/scantarget.h"
#include "tests/support/simprocess.h"
#include "tests/support/toolrun.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kTimeoutMs = 500;  // tolvanectl scan's default deadline
const char* const kNet = "127.0.40";

struct Scan {
    double seconds = -1;
    QStringList found;
};

Scan runScan(const QStringList& args)
{
    const ToolRun t = RunTool(QStringLiteral("tolvanectl"), QStringList{"scan", "--json"} + args);
    Scan s;
    if (t.exitCode < 0)
        return s;
    s.seconds = double(t.ms) / 1000.0;
    for (const QJsonValue& row : t.json().value("found").toArray())
        s.found << row.toObject().value("conn").toString();
    return s;
}

// One plain connect to every address, 64 at a time; on the controllers' addresses the
// OPEN request's bytes go out and the answer's bytes are read. Seconds.
double plainFloor(const QList<quint32>& addresses, const QSet<quint32>& controllers, const QByteArray& request)
{
    struct Slot {
        int fd = -1;
        bool controller = false;
        bool sent = false;
        QByteArray got;  // the answer so far: done when it holds the frame its header names
    };
    QElapsedTimer clock;
    clock.start();
    qsizetype next = 0;
    std::vector<Slot> inFlight;
    auto startOne = [&] {
        Slot s;
        s.controller = controllers.contains(addresses[next]);
        s.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(s.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(proto::kTcpPort);
        a.sin_addr.s_addr = htonl(addresses[next++]);
        ::connect(s.fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        inFlight.push_back(s);
    };
    while (next < addresses.size() || !inFlight.empty()) {
        if (clock.elapsed() > 20000)
            return -1;  // a peer that never answers: no floor
        while (inFlight.size() < 64 && next < addresses.size())
            startOne();
        std::vector<pollfd> fds;
        for (const Slot& s : inFlight)
            fds.push_back({s.fd, short(s.sent ? POLLIN : POLLOUT), 0});
        ::poll(fds.data(), nfds_t(fds.size()), 1000);
        for (size_t i = 0; i < inFlight.size(); ++i) {
            Slot& s = inFlight[i];
            bool done = false;
            if (fds[i].revents == 0)
                continue;
            int error = 0;
            socklen_t len = sizeof error;
            if (!s.sent) {
                ::getsockopt(s.fd, SOL_SOCKET, SO_ERROR, &error, &len);
                done = error != 0 || !s.controller;
                if (!done)
                    s.sent = ::write(s.fd, request.constData(), size_t(request.size())) == request.size();
                done = done || !s.sent;
            } else {
                char buf[4096];
                const ssize_t n = ::read(s.fd, buf, sizeof buf);
                if (n > 0)
                    s.got.append(buf, n);
                const qint64 whole = s.got.size() >= proto::kHeaderSize
                                         ? 16
                                               + qint64(quint8(s.got[8]) | quint8(s.got[9]) << 8
                                                        | quint8(s.got[10]) << 16 | quint32(quint8(s.got[11])) << 24)
                                         : proto::kMaxFrame;
                done = n <= 0 || s.got.size() >= whole;
            }
            if (done) {
                ::close(s.fd);
                s.fd = -1;
            }
        }
        std::erase_if(inFlight, [](const Slot& s) { return s.fd < 0; });
    }
    return double(clock.nsecsElapsed()) / 1e9;
}

bool ethernetCase(int rounds)
{
    QTemporaryDir dir;
    const QString net = QString::fromLatin1(kNet);
    std::vector<std::unique_ptr<SimProcess>> peers;
    for (const QStringList& args :
         QList<QStringList>{{"--listen", net + ".1-" + net + ".20", "--state-dir", dir.path()},
                            {"--listen", net + ".30", "--fault", "chatter"},
                            {"--listen", net + ".31", "--fault", "freeze-at=1"}}) {
        peers.push_back(std::make_unique<SimProcess>(args));
        if (!peers.back()->start())
            return false;
    }
    QStringList expected;
    QSet<quint32> controllers;
    QList<quint32> all;
    for (int i = 1; i <= 254; ++i) {
        const quint32 a = (127u << 24) | (40u << 8) | quint32(i);
        all << a;
        if (i <= 20) {
            expected << scan::EthernetConn(a);
            controllers.insert(a);
        }
    }
    // The OPEN request's bytes, made once: the floor's loop runs no protocol code.
    proto::Frame f;
    f.code = proto::OPEN;
    f.payload = proto::Writer().str(QStringLiteral("tolvanectl scan")).data();
    const QByteArray openFrame = proto::encodeFrame(f);
    QList<double> scans, floors;
    for (int r = 0; r < rounds; ++r) {
        const Scan s = runScan({"eth:" + net + ".0/24"});
        if (s.found != expected) {
            std::fprintf(stderr, "bench_scan: the /24 scan found %lld, not the 20 controllers\n",
                         qlonglong(s.found.size()));
            return false;
        }
        scans << s.seconds;
        const double floor = plainFloor(all, controllers, openFrame);
        if (floor < 0) {
            std::fprintf(stderr, "bench_scan: a controller did not answer the plain OPEN\n");
            return false;
        }
        floors << floor;
    }
    const double median = Median(scans), floor = Median(floors);
    std::printf("| scan | median (s) | plain connects and OPENs, 64 at a time (s) | deadline of the silent peers (s) "
                "| found | runs | goal |\n|---|---|---|---|---|---|---|\n");
    std::printf("| eth:%s.0/24: 20 controllers, 1 streaming, 1 silent, 232 empty | %.3f | %.3f | %.3f | 20 of 20 "
                "| %d | at most 1 s: %s |\n",
                kNet, median, floor, kTimeoutMs / 1000.0, rounds, median <= 1.0 ? "met" : "MISSED");
    return true;
}

bool serialCase(int rounds)
{
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QDir().mkpath(config.filePath(QStringLiteral("Tolvane/ports")));
    SimProcess line({"--pty", config.filePath(QStringLiteral("Tolvane/ports/com9")), "--baud", "115200"});
    if (!line.start())
        return false;
    // A silent line's deadline per rate tried before 115200: T plus the line time of the
    // OPEN request, 8N1.
    const int requestBytes = proto::kHeaderSize + 2 + 15 + 4;  // OPEN "tolvanectl scan"
    double deadlines = 0;
    QStringList before;
    for (int rate : scan::ScanRates()) {
        if (rate == 115200)
            break;
        deadlines += kTimeoutMs / 1000.0 + double(requestBytes) * 10 / rate;
        before << QString::number(rate);
    }
    QList<double> scans;
    for (int r = 0; r < rounds; ++r) {
        const Scan s = runScan({QStringLiteral("com:9")});
        if (s.found != QStringList{QStringLiteral("com:9:115200:N:8:1")}) {
            std::fprintf(stderr, "bench_scan: the port scan found %s\n", qPrintable(s.found.join(' ')));
            return false;
        }
        scans << s.seconds;
    }
    const double median = Median(scans);
    std::printf("\n| scan | median (s) | silent-line deadlines of %s (s) | ratio | runs | goal |\n"
                "|---|---|---|---|---|---|\n",
                qPrintable(before.join(", ")));
    std::printf("| com:9, controller at 115200 | %.3f | %.3f | %.3f | %d | at most 3 s: %s |\n", median, deadlines,
                median / deadlines, rounds, median <= 3.0 ? "met" : "MISSED");
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 5;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--rounds")); i > 0 && i + 1 < args.size())
        rounds = std::max(1, args[i + 1].toInt());
    bool ok = ethernetCase(rounds);
    ok = serialCase(std::max(1, rounds / 2)) && ok;
    return ok ? 0 : 1;
}
