// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tests/support/noisyline.h"

#include <QFile>

#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <termios.h>
#include <unistd.h>

namespace {

bool makeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + at, size_t(bytes.size() - at));
        if (n > 0) {
            at += n;
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (n < 0 && errno != EINTR) {
            return;
        }
    }
}

}  // namespace

NoisyLine::NoisyLine(QString simLine, QString clientLink, double rate, quint32 seed)
    : m_simLine(std::move(simLine)), m_clientLink(std::move(clientLink)), m_rate(rate), m_seed(seed)
{
}

NoisyLine::~NoisyLine()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
    ::unlink(QFile::encodeName(m_clientLink).constData());
    for (int fd : {m_sim, m_master, m_slave})
        if (fd >= 0)
            ::close(fd);
}

bool NoisyLine::start()
{
    m_sim = ::open(QFile::encodeName(m_simLine).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m_sim < 0 || m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return false;
    const char* name = ::ptsname(m_master);
    if (!name)
        return false;
    // Held open, so that the relay never sees a hang-up between clients.
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0 || !makeRaw(m_slave) || !makeRaw(m_sim))
        return false;
    ::unlink(QFile::encodeName(m_clientLink).constData());
    if (::symlink(name, QFile::encodeName(m_clientLink).constData()) != 0)
        return false;
    m_thread = std::thread([this] { run(); });
    return true;
}

void NoisyLine::run()
{
    std::mt19937 rng(m_seed);
    std::uniform_real_distribution<double> chance(0.0, 1.0);
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 2), flips(1, 255);
    auto pass = [&](const char* data, ssize_t n) {
        QByteArray out;
        out.reserve(n + 16);
        for (ssize_t i = 0; i < n; ++i) {
            ++m_bytes;
            if (chance(rng) >= m_rate) {
                out.append(data[i]);
                continue;
            }
            ++m_changed;
            switch (kind(rng)) {
            case 0: out.append(char(data[i] ^ flips(rng))); break;  // damaged
            case 1: break;                                          // dropped
            default: out.append(char(byte(rng))); out.append(data[i]); break;  // inserted
            }
        }
        return out;
    };
    char buf[4096];
    while (!m_stop) {
        pollfd p[2] = {{m_sim, POLLIN, 0}, {m_master, POLLIN, 0}};
        if (::poll(p, 2, 50) <= 0)
            continue;
        if (p[0].revents & POLLIN) {
            const ssize_t n = ::read(m_sim, buf, sizeof buf);
            if (n > 0)
                writeAll(m_master, pass(buf, n));
        }
        if (p[1].revents & POLLIN) {
            const ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n > 0)
                writeAll(m_sim, pass(buf, n));
        }
    }
}
