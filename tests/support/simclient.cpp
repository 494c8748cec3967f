// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tests/support/simclient.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTcpSocket>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <zlib.h>

using namespace proto;

SimClient::SimClient() = default;

SimClient::~SimClient()
{
    disconnect();
}

bool SimClient::connectTcp(const QString& host, quint16 port, int timeoutMs)
{
    disconnect();
    m_socket = std::make_unique<QTcpSocket>();
    m_socket->connectToHost(host, port);
    if (!m_socket->waitForConnected(timeoutMs)) {
        m_socket.reset();
        return false;
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool SimClient::openPty(const QString& path)
{
    disconnect();
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios tio{};
    if (::tcgetattr(m_fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    return true;
}

bool SimClient::openFd(int fd)
{
    disconnect();
    m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (m_fd < 0)
        return false;
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    return true;
}

void SimClient::disconnect()
{
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_scanner = FrameScanner{};
    m_lineGone = false;
}

bool SimClient::isConnected() const
{
    return (m_socket && m_socket->state() == QAbstractSocket::ConnectedState) || m_fd >= 0;
}

bool SimClient::sendRaw(const QByteArray& bytes)
{
    if (m_socket) {
        if (m_socket->write(bytes) != bytes.size())
            return false;
        while (m_socket->bytesToWrite() > 0) {
            if (!m_socket->waitForBytesWritten(5000))
                return false;
        }
        return true;
    }
    if (m_fd < 0)
        return false;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
        } else {
            return false;
        }
    }
    return true;
}

QByteArray SimClient::requestFrame(quint16 seq, quint8 opcode, const QByteArray& payload)
{
    Frame f;
    f.kind = Kind::Request;
    f.seq = seq;
    f.code = opcode;
    f.payload = payload;
    return encodeFrame(f);
}

QByteArray SimClient::craftFrame(quint8 version, quint8 kind, quint16 seq, quint8 code, quint8 reserved,
                                 quint32 length, const QByteArray& payload, bool badCrc)
{
    QByteArray b("TL");
    b.append(char(version));
    b.append(char(kind));
    b.append(char(seq & 0xFF));
    b.append(char(seq >> 8));
    b.append(char(code));
    b.append(char(reserved));
    for (int k = 0; k < 4; ++k)
        b.append(char((length >> (8 * k)) & 0xFF));
    b.append(payload);
    quint32 crc = quint32(::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(b.constData()), uInt(b.size())));
    if (badCrc)
        crc ^= 0x00010000;
    for (int k = 0; k < 4; ++k)
        b.append(char((crc >> (8 * k)) & 0xFF));
    return b;
}

bool SimClient::send(quint16 seq, quint8 opcode, const QByteArray& payload)
{
    return sendRaw(requestFrame(seq, opcode, payload));
}

bool SimClient::readSome(int timeoutMs)
{
    if (m_socket) {
        if (m_socket->bytesAvailable() == 0 && !m_socket->waitForReadyRead(timeoutMs))
            return false;
        m_scanner.feed(m_socket->readAll());
        return true;
    }
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0)
        return false;
    char buf[65536];
    const ssize_t n = ::read(m_fd, buf, sizeof buf);
    if (n <= 0) {
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            return true;
        m_lineGone = true;  // hang-up: the simulator closed its end
        return false;
    }
    m_scanner.feed(QByteArray(buf, n));
    return true;
}

std::optional<Frame> SimClient::receive(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        while (auto f = m_scanner.next()) {
            if (f->kind == Kind::Response)
                return f;
        }
        if (deadline.hasExpired())
            return std::nullopt;
        if (!readSome(int(qMax<qint64>(1, deadline.remainingTime()))) && (deadline.hasExpired() || m_lineGone))
            return std::nullopt;
        if (m_socket && m_socket->state() != QAbstractSocket::ConnectedState && m_socket->bytesAvailable() == 0) {
            while (auto f = m_scanner.next()) {
                if (f->kind == Kind::Response)
                    return f;
            }
            return std::nullopt;
        }
    }
}

bool SimClient::waitClosed(int timeoutMs)
{
    if (!m_socket)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    while (m_socket->state() == QAbstractSocket::ConnectedState) {
        if (deadline.hasExpired())
            return false;
        m_socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_socket->readAll();
    }
    return true;
}

std::optional<Frame> SimClient::call(quint8 opcode, const QByteArray& payload, int timeoutMs)
{
    const quint16 seq = m_seq++;
    if (!send(seq, opcode, payload))
        return std::nullopt;
    for (;;) {
        auto f = receive(timeoutMs);
        if (!f || f->seq == seq)
            return f;
    }
}

QByteArray SimClient::strPayload(const QString& s)
{
    return Writer().str(s).data();
}

QByteArray SimClient::readPayload(const QString& name, quint32 offset, quint32 length)
{
    return Writer().str(name).u32(offset).u32(length).data();
}

QByteArray SimClient::writePayload(const QString& name, quint32 total, quint32 offset, const QByteArray& data)
{
    return Writer().str(name).u32(total).u32(offset).bytes(data).data();
}

QByteArray SimClient::executePayload(const QString& command, const Value& param)
{
    return Writer().str(command).value(param).data();
}

int SimClient::open(const QString& clientName)
{
    const auto f = call(OPEN, strPayload(clientName));
    return f ? f->code : -1;
}

int SimClient::close()
{
    const auto f = call(CLOSE);
    return f ? f->code : -1;
}

int SimClient::doSignal(qint16 channel, qint16 phase)
{
    const auto f = call(EXECUTE, executePayload(QStringLiteral("doSignal"), QVector<qint16>{channel, phase}));
    return f ? f->code : -1;
}

int SimClient::clearError(qint32 code)
{
    const auto f = call(EXECUTE, executePayload(QStringLiteral("ClearError"), code));
    return f ? f->code : -1;
}

std::optional<QByteArray> SimClient::readRecord(const QString& name, quint32 chunk)
{
    const auto sizeFrame = call(RECORD_SIZE, strPayload(name));
    if (!sizeFrame || sizeFrame->code != OK)
        return std::nullopt;
    Reader r(sizeFrame->payload);
    const quint32 size = r.u32();
    QByteArray out;
    while (quint32(out.size()) < size) {
        const quint32 n = qMin<quint32>(chunk, size - quint32(out.size()));
        const auto f = call(READ_RECORD, readPayload(name, quint32(out.size()), n), 30000);
        if (!f || f->code != OK)
            return std::nullopt;
        Reader rr(f->payload);
        const QByteArray part = rr.bytes();
        if (!rr.atEndOk() || quint32(part.size()) != n)
            return std::nullopt;
        out.append(part);
    }
    return out;
}

int SimClient::writeRecord(const QString& name, const QByteArray& data, quint32 chunk)
{
    quint32 offset = 0;
    int status = -1;
    do {
        const quint32 n = qMin<quint32>(chunk, quint32(data.size()) - offset);
        const auto f = call(WRITE_RECORD, writePayload(name, quint32(data.size()), offset, data.mid(offset, n)), 30000);
        if (!f)
            return -1;
        status = f->code;
        if (status != OK)
            return status;
        offset += n;
    } while (offset < quint32(data.size()));
    return status;
}

std::optional<qint32> SimClient::errorCode()
{
    const auto f = call(READ_VALUE, strPayload(QStringLiteral("@ERROR_CODE")));
    if (!f || f->code != OK)
        return std::nullopt;
    Reader r(f->payload);
    const Value v = r.value();
    if (!r.atEndOk() || !std::holds_alternative<qint32>(v))
        return std::nullopt;
    return std::get<qint32>(v);
}

QStringList readSimLog(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

PtyPair::PtyPair()
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0)
        return;
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || !::ptsname(fd)) {
        ::close(fd);
        return;
    }
    m_slavePath = QString::fromLocal8Bit(::ptsname(fd));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    m_master = fd;
}

PtyPair::~PtyPair()
{
    if (m_master >= 0)
        ::close(m_master);
}
