// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "sim/simlinks.h"

#include <QFile>
#include <QFileInfo>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr int kPaceTickMs = 4;
constexpr qint64 kReadPiece = 65536;
constexpr int kExitStatus = 70;  // a power cut: documented in --help
// Answers waiting to leave beyond which no further request is read.
constexpr qint64 kOutBound = 256 * 1024;
constexpr int kRepeatMs = 100;
bool s_verbose = false;

// The controller's clock for the access bracket's lease.
qint64 monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

Link::Link(SimController& ctl, QObject* parent) : QObject(parent), m_ctl(ctl)
{
    m_conn = m_ctl.attach();
    m_lastByte.start();
    m_idle.setSingleShot(true);
    m_idle.setInterval(proto::kIdleDropMs);
    connect(&m_idle, &QTimer::timeout, this, &Link::onIdle);
    m_repeatTimer.setInterval(kRepeatMs);
    connect(&m_repeatTimer, &QTimer::timeout, this, [this] {
        if (!backlogged()) {
            m_out.append(m_repeat);
            pump();
        }
    });
    if (m_ctl.chatters())
        QMetaObject::invokeMethod(this, [this] { startStream(Stream::Text); }, Qt::QueuedConnection);
    m_paceTimer.setInterval(kPaceTickMs);
    m_paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_paceTimer, &QTimer::timeout, this, &Link::pump);
}

Link::~Link()
{
    m_ctl.detach(m_conn);
}

void Link::setPace(int baud, int bitsPerByte)
{
    m_paceBaud = baud;
    m_paceBits = bitsPerByte;
}

void Link::setVerbose(bool on)
{
    s_verbose = on;
}

void Link::onIdle()
{
    // No byte for the idle time in the middle of a frame: drop it, so that a damaged
    // length field cannot hold the line.
    if (m_scanner.hasPartial()) {
        if (s_verbose)
            std::fprintf(stderr, "%d: line idle, dropped a partial frame of %lld bytes\n", m_conn,
                         qlonglong(m_scanner.buffered()));
        m_scanner.idle();
    }
}

void Link::received(const QByteArray& bytes)
{
    if (m_dead || bytes.isEmpty())
        return;
    m_idle.start();
    m_lastByte.start();
    m_scanner.feed(bytes);
    handleFrames();
}

bool Link::backlogged() const
{
    return qint64(m_out.size()) + unsent() > kOutBound;
}

void Link::handleFrames()
{
    const quint64 droppedBefore = m_scanner.dropped();
    // While the answers already made wait to leave, no further request is taken: a
    // client that sends without reading its answers is held back by the line or by TCP.
    while (!m_dead && !backlogged()) {
        const std::optional<proto::Frame> frame = m_scanner.next();
        if (!frame)
            break;
        if (m_stream != Stream::None)
            continue;  // a flooding line answers nothing more
        const Reply reply = m_ctl.handle(m_conn, *frame, monotonicMs());
        switch (reply.action) {
        case Reply::Send:
            m_out.append(reply.bytes);
            pump();
            break;
        case Reply::Exit:
            ::_exit(kExitStatus);
        case Reply::Drop:
            dropConnection();
            if (m_dead)
                return;
            break;
        case Reply::Flood:
            startStream(Stream::Random);
            break;
        case Reply::HeaderFlood:
            startStream(Stream::Headers);
            break;
        case Reply::Repeat:
            m_repeat = reply.bytes;
            m_out.append(m_repeat);
            m_repeatTimer.start();
            pump();
            break;
        case Reply::Ignore:
        case Reply::Stall:
            break;
        }
    }
    if (m_dead)
        return;
    if (s_verbose && m_scanner.dropped() != droppedBefore)
        std::fprintf(stderr, "%d: dropped %llu bad frame start(s)\n", m_conn,
                     qulonglong(m_scanner.dropped() - droppedBefore));
    // While paused, the bytes held wait for us, not for the line: no idle drop.
    const bool paused = backlogged();
    if (paused || !m_scanner.hasPartial())
        m_idle.stop();
    else if (m_paused)
        m_idle.start();
    if (paused != m_paused) {
        m_paused = paused;
        setReading(!paused);
    }
}

void Link::drained()
{
    if (m_stream != Stream::None)
        refill();
    if (m_paused && !m_dead && !backlogged())
        handleFrames();
}

void Link::startStream(Stream kind)
{
    m_stream = kind;
    refill();
}

void Link::refill()
{
    // Keeps the stream going as fast as the line or TCP takes it, never faster: what
    // waits to leave stays under the bound.
    if (m_refilling || m_dead)
        return;
    m_refilling = true;
    while (!m_dead && qint64(m_out.size()) + unsent() < kOutBound / 2) {
        QByteArray piece;
        piece.reserve(16 * 1024);
        switch (m_stream) {
        case Stream::Random:
            while (piece.size() < 16 * 1024)
                piece.append(char(m_random.bounded(256)));
            break;
        case Stream::Headers:
            // Response headers of the current version that claim 1,048,576 bytes.
            while (piece.size() < 16 * 1024)
                piece.append(QByteArray::fromHex("544c0102000000000000" "1000"));
            break;
        case Stream::Text:
            while (piece.size() < 1024)
                piece.append("$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
                             "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n");
            break;
        case Stream::None:
            break;
        }
        if (piece.isEmpty())
            break;
        m_out.append(piece);
        pump();
        if (m_paceBaud > 0 || (!m_out.isEmpty() && unsent() == 0))
            break;  // paced, or the device is full: more when it drains
    }
    m_refilling = false;
}

void Link::pump()
{
    if (m_dead)
        return;
    while (!m_out.isEmpty()) {
        qint64 allowed = m_out.size();
        if (m_paceBaud > 0) {
            if (!m_paceClock.isValid()) {
                m_paceClock.start();
                m_paceSent = 0;
            }
            // Bytes a real line could have carried since this burst began.
            const qint64 line = m_paceClock.nsecsElapsed() / 1000 * m_paceBaud / (qint64(m_paceBits) * 1000000);
            allowed = qMin<qint64>(allowed, line - m_paceSent);
            if (allowed <= 0) {
                if (!m_paceTimer.isActive())
                    m_paceTimer.start();
                return;
            }
        }
        const qint64 n = writeRaw(m_out.constData(), allowed);
        if (n < 0) {
            m_dead = true;
            m_out.clear();
            return;
        }
        if (n == 0) {
            waitWritable();
            return;
        }
        m_out.remove(0, n);
        m_paceSent += n;
    }
    m_paceTimer.stop();
    m_paceClock.invalidate();  // the line fell idle: the next burst starts a new clock
    drained();
}

// --- Qt devices ---------------------------------------------------------------------

DeviceLink::DeviceLink(SimController& ctl, QIODevice* device, QObject* parent)
    : Link(ctl, parent), m_device(device)
{
    connect(device, &QIODevice::readyRead, this, &DeviceLink::readSome);
    connect(device, &QIODevice::bytesWritten, this, [this] { pump(); });
}

void DeviceLink::readSome()
{
    while (!m_dead && !m_paused && m_device->bytesAvailable() > 0)
        received(m_device->read(kReadPiece));
}

void DeviceLink::setReading(bool on)
{
    // Bytes the device holds raise no new readyRead: take them now. While reading is
    // off the device's bounded buffer fills and TCP (or the line) holds the client back.
    if (on)
        QMetaObject::invokeMethod(this, &DeviceLink::readSome, Qt::QueuedConnection);
}

qint64 DeviceLink::unsent() const
{
    return m_device->bytesToWrite();
}

qint64 DeviceLink::writeRaw(const char* data, qint64 n)
{
    return m_device->write(data, n);
}

// --- TCP ----------------------------------------------------------------------------

TcpLink::TcpLink(SimController& ctl, QTcpSocket* socket, QObject* parent)
    : DeviceLink(ctl, socket, parent), m_socket(socket)
{
    socket->setParent(this);
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Bounded reads: a flooding client is held back by TCP, not by our memory.
    socket->setReadBufferSize(kReadPiece);
    connect(socket, &QTcpSocket::disconnected, this, &Link::closed);
}

void TcpLink::dropConnection()
{
    m_dead = true;
    m_socket->abort();
    emit closed();
}

TcpServer::TcpServer(SimController& ctl, int maxConnections, int pace, QObject* parent)
    : QObject(parent), m_ctl(ctl), m_server(new QTcpServer(this)), m_max(std::max(1, maxConnections)), m_pace(pace)
{
    m_resume.setSingleShot(true);
    m_resume.setInterval(100);
    connect(&m_resume, &QTimer::timeout, this, [this] { m_accept->setEnabled(true); });
}

bool TcpServer::listen(const QHostAddress& addr, quint16 port, QString* error)
{
    if (!m_server->listen(addr, port)) {
        if (error)
            *error = m_server->errorString();
        return false;
    }
    m_server->pauseAccepting();
    m_accept = new QSocketNotifier(m_server->socketDescriptor(), QSocketNotifier::Read, this);
    connect(m_accept, &QSocketNotifier::activated, this, &TcpServer::accept);
    return true;
}

int TcpServer::liveLinks() const
{
    return int(std::count_if(m_links.cbegin(), m_links.cend(), [](const TcpLink* l) { return !l->dead(); }));
}

bool TcpServer::closeLongestIdle(const char* why)
{
    TcpLink* oldest = nullptr;
    for (TcpLink* l : std::as_const(m_links)) {
        if (!l->dead() && (!oldest || l->idleMs() > oldest->idleMs()))
            oldest = l;
    }
    if (!oldest)
        return false;
    if (s_verbose)
        std::fprintf(stderr, "tolvane-sim: closed connection %d, idle %lld ms: %s\n", oldest->connectionId(),
                     qlonglong(oldest->idleMs()), why);
    oldest->drop();  // its descriptor is closed at once
    return true;
}

void TcpServer::accept()
{
    const int listening = int(m_server->socketDescriptor());
    // A few at a time: the notifier fires again for the rest, between other events.
    for (int i = 0; i < 16; ++i) {
        const int fd = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
                return;
            // Out of descriptors or memory: the waiting connection stays in the kernel's
            // queue until a descriptor is free.
            if (!closeLongestIdle("out of descriptors")) {
                m_accept->setEnabled(false);
                m_resume.start();
            }
            return;
        }
        while (liveLinks() >= m_max && closeLongestIdle("connection limit"))
            ;
        auto* socket = new QTcpSocket;
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        auto* link = new TcpLink(m_ctl, socket, this);
        if (m_pace > 0)
            link->setPace(m_pace, 10);
        m_links.append(link);
        connect(link, &QObject::destroyed, this, [this, link] { m_links.removeOne(link); });
        // Queued: the link may announce its end from inside its own handler.
        connect(link, &Link::closed, link, &QObject::deleteLater, Qt::QueuedConnection);
    }
}

// --- pseudo-terminal ----------------------------------------------------------------

PtyLink::PtyLink(SimController& ctl, QObject* parent) : Link(ctl, parent) {}

PtyLink::~PtyLink()
{
    if (!m_link.isEmpty())
        ::unlink(QFile::encodeName(m_link).constData());
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

bool PtyLink::open(const QString& linkPath, QString* error)
{
    auto fail = [error](const QString& what) {
        if (error)
            *error = what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    };
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail(QStringLiteral("posix_openpt"));
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail(QStringLiteral("grantpt/unlockpt"));
    const char* name = ::ptsname(m_master);
    if (!name)
        return fail(QStringLiteral("ptsname"));
    const QByteArray slaveName(name);
    m_slave = ::open(slaveName.constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        return fail(QStringLiteral("open %1").arg(QString::fromLocal8Bit(slaveName)));
    termios tio{};
    if (::tcgetattr(m_slave, &tio) != 0)
        return fail(QStringLiteral("tcgetattr"));
    ::cfmakeraw(&tio);
    if (::tcsetattr(m_slave, TCSANOW, &tio) != 0)
        return fail(QStringLiteral("tcsetattr"));
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);

    const QByteArray link = QFile::encodeName(linkPath);
    const QFileInfo existing(linkPath);
    if (existing.isSymLink())
        ::unlink(link.constData());  // a stale link of an earlier run
    if (::symlink(slaveName.constData(), link.constData()) != 0)
        return fail(QStringLiteral("symlink %1").arg(linkPath));
    m_link = linkPath;

    m_readNotifier = new QSocketNotifier(qintptr(m_master), QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &PtyLink::onReadable);
    m_writeNotifier = new QSocketNotifier(qintptr(m_master), QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        pump();
    });
    return true;
}

bool PtyLink::setRate(int baud)
{
    static const std::pair<int, speed_t> rates[] = {
        {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
        {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800},
        {921600, B921600},
    };
    for (const auto& [rate, speed] : rates) {
        if (rate == baud) {
            m_rate = speed;
            return true;
        }
    }
    return false;
}

bool PtyLink::wrongRate() const
{
    termios tio{};
    return m_rate != 0 && (::tcgetattr(m_slave, &tio) != 0 || ::cfgetospeed(&tio) != m_rate);
}

// Bits sampled at the wrong speed: no frame survives, and none is made up.
static QByteArray garble(const char* data, qint64 n)
{
    QByteArray out(data, n);
    for (char& c : out)
        c = char(~quint8(c) ^ 0x5A);
    return out;
}

void PtyLink::setReading(bool on)
{
    if (m_readNotifier)
        m_readNotifier->setEnabled(on);
}

void PtyLink::onReadable()
{
    char buf[kReadPiece];
    while (!m_paused && !m_dead) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            received(wrongRate() ? garble(buf, n) : QByteArray(buf, n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return;  // EAGAIN: all read
    }
}

qint64 PtyLink::writeRaw(const char* data, qint64 n)
{
    if (wrongRate()) {
        m_garbled = garble(data, n);
        data = m_garbled.constData();
    }
    for (;;) {
        const ssize_t w = ::write(m_master, data, size_t(n));
        if (w >= 0)
            return w;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        return -1;
    }
}

void PtyLink::waitWritable()
{
    m_writeNotifier->setEnabled(true);
}

// --- serial line --------------------------------------------------------------------

SerialLink::SerialLink(SimController& ctl, QObject* parent)
    : SerialLink(ctl, new QSerialPort, parent)
{
}

SerialLink::SerialLink(SimController& ctl, QSerialPort* port, QObject* parent)
    : DeviceLink(ctl, port, parent), m_port(port)
{
    port->setParent(this);
    port->setReadBufferSize(kReadPiece);
}

bool SerialLink::open(const QString& device, int baud, char parity, QString* error)
{
    m_port->setPortName(device);
    if (!m_port->open(QIODevice::ReadWrite)) {
        if (error)
            *error = m_port->errorString();
        return false;
    }
    const QSerialPort::Parity p = parity == 'E' ? QSerialPort::EvenParity
                                  : parity == 'O' ? QSerialPort::OddParity
                                                  : QSerialPort::NoParity;
    if (!m_port->setBaudRate(baud) || !m_port->setDataBits(QSerialPort::Data8)
        || !m_port->setParity(p) || !m_port->setStopBits(QSerialPort::OneStop)
        || !m_port->setFlowControl(QSerialPort::NoFlowControl)) {
        if (error)
            *error = m_port->errorString();
        return false;
    }
    return true;
}


}  // namespace sim
