// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "bench/benchsupport.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// No wait of an exchange outlasts this: a benchmark that goes wrong ends, it never hangs.
constexpr int kStepBoundMs = 180000;
// Bytes a direction of the relay holds before it stops reading its source, as a UART's
// driver buffer fills: the source then waits, as it would on a real line.
constexpr size_t kRelayQueue = 4096;

bool writeAll(int fd, const char* data, qsizetype n)
{
    while (n > 0) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kStepBoundMs) <= 0)
            return false;
        const ssize_t w = ::write(fd, data, size_t(n));
        if (w < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (w <= 0)
            return false;
        data += w;
        n -= w;
    }
    return true;
}

bool readExactly(int fd, qsizetype n)
{
    char buf[65536];
    while (n > 0) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kStepBoundMs) <= 0)
            return false;
        const ssize_t r = ::read(fd, buf, size_t(std::min<qsizetype>(n, qsizetype(sizeof buf))));
        if (r < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (r <= 0)
            return false;
        n -= r;
    }
    return true;
}

// Both sides of an exchange: the peer answers each request, the client times them all.
double exchange(int clientFd, int peerFd, const QList<Trip>& trips, Clock::time_point start)
{
    bool peerOk = true;
    std::thread peer([&] {
        for (const Trip& t : trips) {
            const QByteArray response(t.second, '\x55');
            peerOk = peerOk && readExactly(peerFd, t.first) && writeAll(peerFd, response.constData(), t.second);
        }
    });
    bool ok = true;
    for (const Trip& t : trips) {
        const QByteArray request(t.first, '\x55');
        ok = ok && writeAll(clientFd, request.constData(), t.first) && readExactly(clientFd, t.second);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    peer.join();
    return ok && peerOk ? seconds : -1;
}

int openRaw(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        termios tio{};
        ::tcgetattr(fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

}  // namespace

// --- PacedRelay ----------------------------------------------------------------------

PacedRelay::~PacedRelay()
{
    stop();
    for (End& e : m_ends) {
        if (e.slave >= 0)
            ::close(e.slave);
        if (e.master >= 0)
            ::close(e.master);
    }
}

bool PacedRelay::start(int baud, int bitsPerByte, QString* error)
{
    m_baud = baud;
    m_bitsPerByte = bitsPerByte;
    for (End& e : m_ends) {
        e.master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (e.master < 0 || ::grantpt(e.master) != 0 || ::unlockpt(e.master) != 0 || !::ptsname(e.master)) {
            *error = QStringLiteral("cannot make a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        e.slavePath = QString::fromLocal8Bit(::ptsname(e.master));
        e.slave = openRaw(e.slavePath);
        if (e.slave < 0) {
            *error = QStringLiteral("cannot open %1").arg(e.slavePath);
            return false;
        }
        ::fcntl(e.master, F_SETFL, ::fcntl(e.master, F_GETFL) | O_NONBLOCK);
    }
    m_stop = false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void PacedRelay::stop()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void PacedRelay::run()
{
    // Each byte leaves when the line is free and arrives one byte time later.
    const auto byteTime = std::chrono::nanoseconds(qint64(1e9 * m_bitsPerByte / m_baud));
    struct Direction {
        int from, to;
        std::deque<std::pair<Clock::time_point, char>> line;  // arrival time, byte
        Clock::time_point free{};
    };
    // 0: client to controller, 1: controller to client.
    Direction dirs[2] = {{m_ends[1].master, m_ends[0].master, {}, {}},
                         {m_ends[0].master, m_ends[1].master, {}, {}}};
    char buf[4096];
    while (!m_stop) {
        Clock::time_point now = Clock::now();
        Clock::time_point wake = now + std::chrono::milliseconds(20);
        for (int d = 0; d < 2; ++d) {
            Direction& dir = dirs[d];
            size_t n = 0;
            while (n < dir.line.size() && n < sizeof buf && dir.line[n].first <= now) {
                buf[n] = dir.line[n].second;
                ++n;
            }
            if (n > 0) {
                const ssize_t w = ::write(dir.to, buf, n);
                if (w > 0) {
                    dir.line.erase(dir.line.begin(), dir.line.begin() + w);
                    m_delivered[d] += quint64(w);
                }
            }
            if (!dir.line.empty())
                wake = std::min(wake, std::max(dir.line.front().first, now + std::chrono::microseconds(50)));
        }
        pollfd fds[2];
        int count = 0;
        int which[2];
        for (int d = 0; d < 2; ++d) {
            if (dirs[d].line.size() < kRelayQueue) {
                fds[count] = {dirs[d].from, POLLIN, 0};
                which[count++] = d;
            }
        }
        const auto waitNs = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
        const timespec ts{time_t(waitNs / 1000000000), long(waitNs % 1000000000)};
        if (::ppoll(fds, nfds_t(count), &ts, nullptr) <= 0)
            continue;
        now = Clock::now();
        for (int k = 0; k < count; ++k) {
            if (!(fds[k].revents & POLLIN))
                continue;
            Direction& dir = dirs[which[k]];
            const ssize_t r = ::read(dir.from, buf, std::min(sizeof buf, kRelayQueue - dir.line.size()));
            for (ssize_t i = 0; i < r; ++i) {
                dir.free = std::max(dir.free, now) + byteTime;
                dir.line.emplace_back(dir.free, buf[i]);
            }
        }
    }
}

// --- exchanges -------------------------------------------------------------------------

double PlainLineExchange(const PacedRelay& line, const QList<Trip>& trips)
{
    const int client = openRaw(line.clientEnd());
    const int peer = openRaw(line.controllerEnd());
    double seconds = -1;
    if (client >= 0 && peer >= 0)
        seconds = exchange(client, peer, trips, Clock::now());
    if (client >= 0)
        ::close(client);
    if (peer >= 0)
        ::close(peer);
    return seconds;
}

double PlainSocketExchange(const QString& loopbackAddress, const QList<Trip>& trips, bool withConnect)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (::inet_pton(AF_INET, qPrintable(loopbackAddress), &addr.sin_addr) != 1
        || (ntohl(addr.sin_addr.s_addr) >> 24) != 127)
        return -1;  // loopback only
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    socklen_t len = sizeof addr;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0
        || ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (listener >= 0)
            ::close(listener);
        return -1;
    }
    const int one = 1;
    const Clock::time_point start = Clock::now();
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    double seconds = -1;
    if (::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (peer >= 0) {
            ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            seconds = exchange(client, peer, trips, withConnect ? start : Clock::now());
            ::close(peer);
        }
    }
    ::close(client);
    ::close(listener);
    return seconds;
}

double Median(QList<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const qsizetype m = values.size() / 2;
    return values.size() % 2 ? values[m] : (values[m - 1] + values[m]) / 2;
}

// --- the protocol's frames -------------------------------------------------------------

namespace floorframes {

namespace {
// A frame is a 12-byte header, the payload and a 4-byte CRC; a str is a u16 count and
// its UTF-8 bytes.
constexpr int kFrame = 16;
int str(const QString& s) { return 2 + int(s.toUtf8().size()); }
}  // namespace

Trip open(const QString& client, const QString& controllerId, const QString& model)
{
    return {kFrame + str(client), kFrame + 2 + 4 + str(controllerId) + str(model)};
}

Trip signal()
{
    // "doSignal", then a variant: tag, u16 count and two i16; the answer an empty variant.
    return {kFrame + str(QStringLiteral("doSignal")) + 1 + 2 + 4, kFrame + 1};
}

Trip errorCode()
{
    return {kFrame + str(QStringLiteral("@ERROR_CODE")), kFrame + 1 + 4};
}

Trip recordSize(const QString& name)
{
    return {kFrame + str(name), kFrame + 4};
}

QList<Trip> readRecord(const QString& name, int size, int chunk)
{
    return readSpans(name, {{0, size}}, chunk);
}

QList<Trip> readSpans(const QString& name, const QList<rec::Span>& spans, int chunk)
{
    QList<Trip> trips;
    for (const rec::Span& s : spans)
        for (int at = s.begin; at < s.end; at += chunk)
            trips.append({kFrame + str(name) + 8, kFrame + 4 + std::min(chunk, s.end - at)});
    return trips;
}

Trip digest(const QString& name)
{
    return {kFrame + str(name), kFrame + 4 + 4 + 32};
}

Trip patch(const QString& name, const QByteArray& before, const QByteArray& after)
{
    // Each range costs 8 bytes (offset, count) besides its data: a gap of up to 8 equal
    // bytes costs no more inside a range than between two.
    int data = 0, ranges = 0, lastEnd = -1000;
    for (int i = 0; i < after.size(); ++i) {
        if (i < before.size() && before[i] == after[i])
            continue;
        if (i - lastEnd <= 8) {
            data += i - lastEnd + 1;
        } else {
            ++ranges;
            data += 1;
        }
        lastEnd = i + 1;
    }
    return {kFrame + str(name) + 4 + 4 + 32 + 2 + 8 * ranges + data, kFrame};
}

qint64 bytes(const QList<Trip>& trips)
{
    qint64 n = 0;
    for (const Trip& t : trips)
        n += t.first + t.second;
    return n;
}

}  // namespace floorframes
