// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/link.h"

#include "controller/lineframing.h"
#include "controller/recordcache.h"
#include "controller/trace.h"

#include "ipv4/ipv4.h"
#include "settings/serialports.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHostAddress>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <utility>

#include <unistd.h>

namespace {

// The one call under way (CallGuard) and what ends its wait.
bool s_busy = false;
bool s_cancel = false;
QElapsedTimer s_callClock;
std::function<void()> s_wake;

constexpr int kCloseBoundMs = 1000;
constexpr int kPortRetryMs = 50;  // between attempts to open a port another program holds
// Bytes taken from the transport at a time: its own buffer holds no more either, so a
// flood is held back by the line or by TCP, never by our memory.
constexpr qint64 kReadPiece = 64 * 1024;
constexpr quint32 kSmallestChunk = 256;
constexpr int kCleanCallsToGrow = 4;
// How often a waiting call reports how long it has waited.
constexpr int kWaitReportMs = 100;
// The answer the line time of a request's wait counts on: READ_RECORD's chunk, else a
// small one (the bound of an attempt counts on the largest instead).
constexpr qint64 kSmallAnswer = 64;

// Bits on the line per byte: start, 8 data, parity, stop (1.5 counted as 2).
int bitsPerByte(const ConnectionTarget& t)
{
    return 1 + 8 + (t.parity == 'N' ? 0 : 1) + (t.stopBits == "1" ? 1 : 2);
}

// The cause of a connect to a port that is not there, with the names looked up.
QString noSuchPort(int port)
{
    const QStringList tried = ComPortNamesTried(port);
    const QString text = QStringLiteral("no such serial port COM%1").arg(port);
    return tried.isEmpty() ? text : text + QStringLiteral(" (tried %1)").arg(tried.join(QStringLiteral(", ")));
}

int parseCount(const QString& text, bool allowZero)
{
    const std::optional<int> n = ParseDecimal(text, allowZero ? 0 : 1, std::numeric_limits<int>::max());
    if (!n)
        throw EngineError(EngineError::kBadOptions, QStringLiteral("malformed number '%1'").arg(text));
    return *n;
}

bool parseSwitch(const QString& text)
{
    if (text.compare(QLatin1String("On"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("Off"), Qt::CaseInsensitive) == 0)
        return false;
    throw EngineError(EngineError::kBadOptions, QStringLiteral("expected On or Off, not '%1'").arg(text));
}

}  // namespace

EngineError::EngineError(int code, const QString& message)
    : std::runtime_error(message.toStdString()), m_code(code)
{
}

CallGuard::CallGuard()
{
    if (s_busy)
        throw EngineError(EngineError::kBusy, QStringLiteral("another engine call is waiting"));
    s_busy = true;
    s_callClock.start();
}

CallGuard::~CallGuard()
{
    qCDebug(lcEngine, "%s after %lld ms", std::uncaught_exceptions() > 0 ? "failed" : "done", elapsedMs());
    s_busy = false;
    s_cancel = false;
}

qint64 CallGuard::elapsedMs()
{
    return s_callClock.isValid() ? s_callClock.elapsed() : 0;
}

bool CallGuard::busy()
{
    return s_busy;
}

void CallGuard::cancelWait()
{
    if (!s_busy)
        return;
    s_cancel = true;
    if (s_wake)
        s_wake();
}

bool CallGuard::cancelPending()
{
    return s_cancel;
}

bool CallGuard::takeCancel()
{
    return std::exchange(s_cancel, false);
}

void CallGuard::setWake(std::function<void()> wake)
{
    s_wake = std::move(wake);
}

LinkOptions ParseLinkOptions(const QString& options)
{
    LinkOptions out;
    bool haveConn = false;
    for (const QString& pair : options.split(',')) {
        const qsizetype eq = pair.indexOf('=');
        if (eq < 0)
            continue;  // a blank pair or a bare word: nothing to set
        const QString key = pair.left(eq).trimmed();
        const QString value = pair.mid(eq + 1).trimmed();
        if (key.compare(QLatin1String("Timeout"), Qt::CaseInsensitive) == 0)
            out.timeoutMs = parseCount(value, false);
        else if (key.compare(QLatin1String("TORetry"), Qt::CaseInsensitive) == 0)
            out.retries = parseCount(value, true);
        else if (key.compare(QLatin1String("RecordCache"), Qt::CaseInsensitive) == 0)
            out.recordCache = parseSwitch(value);
        else if (key.compare(QLatin1String("Conn"), Qt::CaseInsensitive) == 0) {
            out.conn = value;
            haveConn = true;
        }
    }
    if (!haveConn || out.conn.isEmpty())
        throw EngineError(EngineError::kBadOptions, QStringLiteral("no connection in options"));
    return out;
}

ConnectionTarget ParseConnectionText(const QString& conn)
{
    QString why;
    const std::optional<ConnText> text = ParseConnText(conn, &why);
    if (text && (why = NotLinkable(*text)).isEmpty()) {
        ConnectionTarget t;
        static_cast<ConnText&>(t) = *text;
        if (!t.serial)
            return t;
        t.device = ComPortDevice(t.port);
        if (!t.device.isEmpty())
            return t;
        throw EngineError(EngineError::kBadConnection, noSuchPort(t.port));
    }
    throw EngineError(EngineError::kBadConnection, QStringLiteral("%1: %2").arg(conn, why));
}

Link::Link(const LinkOptions& options, std::shared_ptr<LinkWatch> watch)
    : m_options(options), m_watch(std::move(watch))
{
}

void Link::reportWait(qint64 waitedMs, qint64 leftMs, bool finished) const
{
    if (m_watch && m_watch->report)
        m_watch->report(WaitProgress{std::max<qint64>(0, waitedMs), std::max<qint64>(0, leftMs), finished});
}

namespace {

// Runs a waiting loop that a cancel can end.
void runWakeable(QEventLoop& loop)
{
    CallGuard::setWake([&loop] { loop.quit(); });
    loop.exec();
    CallGuard::setWake(nullptr);
}

EngineError cancelledError()
{
    return EngineError(EngineError::kCancelled, QStringLiteral("cancelled while waiting for the controller"));
}

}  // namespace

Link::~Link()
{
    // No waiting here: the transport is dropped, which ends the controller's session.
    delete m_tcp;
    delete m_serial;
}

void Link::setCache(std::unique_ptr<RecordCache> cache)
{
    m_cache = std::move(cache);
}

bool Link::isOpen() const
{
    return m_dev && m_dev->isOpen() && !m_lost;
}

quint32 Link::chunkSize() const
{
    return std::min({m_chunk, proto::kClientChunk, m_largestChunk});
}

void Link::adaptChunk(bool clean)
{
    // On a noisy line a third of all 4 KB chunks may arrive damaged: after a failed
    // attempt the chunks halve (not below 256 bytes), after a run of clean calls they
    // grow back. Any size up to the largest is a valid chunk.
    if (!clean) {
        m_chunk = std::max(kSmallestChunk, m_chunk / 2);
        m_cleanCalls = 0;
    } else if (m_chunk < proto::kClientChunk && ++m_cleanCalls >= kCleanCallsToGrow) {
        m_chunk = std::min(proto::kClientChunk, m_chunk * 2);
        m_cleanCalls = 0;
    }
}

int Link::transmitMs(qsizetype bytes) const
{
    if (!m_target.serial || m_target.baud <= 0)
        return 0;
    return int(std::min<qint64>(qint64(bytes) * bitsPerByte(m_target) * 1000 / m_target.baud + 1,
                                24 * 3600 * 1000));
}

void Link::open(const QString& clientName)
{
    m_target = ParseConnectionText(m_options.conn);
    if (m_target.serial)
        openSerial();
    else
        openTcp();

    const QByteArray resp = call(proto::OPEN, proto::Writer().str(clientName).data());
    proto::Reader r(resp);
    r.u16();  // protocol version of the controller
    m_largestChunk = r.u32();
    m_controllerId = r.str();
    m_model = r.str();
    if (!r.atEndOk())
        throw EngineError(EngineError::kProtocol, QStringLiteral("malformed OPEN response"));
    // A controller that accepts no bytes per chunk could never be written to.
    if (m_largestChunk == 0)
        throw EngineError(EngineError::kProtocol, QStringLiteral("controller accepts no chunk"));
}

void Link::openTcp()
{
    const QHostAddress address(IPv4ToNumber(m_target.address));
    m_tcp = new QTcpSocket;
    m_tcp->setReadBufferSize(kReadPiece);
    m_dev = m_tcp;
    if (CallGuard::takeCancel())
        throw cancelledError();
    QElapsedTimer clock;
    clock.start();
    const qint64 allMs = qint64(m_options.timeoutMs) * (1 + std::max(0, m_options.retries));
    const WaitEnd waitEnd{this};
    bool refused = false, silent = false;
    for (int attempt = 0; attempt <= m_options.retries; ++attempt) {
        QEventLoop loop;
        QTimer bound, tick;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(m_tcp, &QTcpSocket::connected, &loop, &QEventLoop::quit);
        QObject::connect(m_tcp, &QTcpSocket::errorOccurred, &loop, &QEventLoop::quit);
        if (m_watch && m_watch->report) {
            QObject::connect(&tick, &QTimer::timeout, &loop,
                             [&] { reportWait(clock.elapsed(), allMs - clock.elapsed(), false); });
            tick.start(kWaitReportMs);
        }
        bound.start(m_options.timeoutMs);
        qCDebug(lcLink, "connecting to %s, attempt %d of %d, +%lld ms", qPrintable(where()), attempt + 1,
                m_options.retries + 1, CallGuard::elapsedMs());
        m_tcp->connectToHost(address, proto::kTcpPort);
        // A connect that ended at once (either way) needs no waiting.
        const QAbstractSocket::SocketState state = m_tcp->state();
        if (state != QAbstractSocket::ConnectedState && state != QAbstractSocket::UnconnectedState
            && !CallGuard::cancelPending())
            runWakeable(loop);
        QObject::disconnect(m_tcp, nullptr, &loop, nullptr);
        if (m_tcp->state() == QAbstractSocket::ConnectedState) {
            qCDebug(lcLink, "connected, +%lld ms", CallGuard::elapsedMs());
            QObject::connect(m_tcp, &QTcpSocket::disconnected, m_tcp, [this] { m_lost = true; });
            return;
        }
        refused = m_tcp->error() == QAbstractSocket::ConnectionRefusedError;
        silent = m_tcp->state() != QAbstractSocket::UnconnectedState;  // the bound ended the attempt
        qCDebug(lcLink, "%s, +%lld ms", silent ? "no answer" : qPrintable(m_tcp->errorString()),
                CallGuard::elapsedMs());
        m_tcp->abort();
        if (CallGuard::takeCancel())
            throw cancelledError();
    }
    throw EngineError(EngineError::kConnectFailed,
                      refused  ? QStringLiteral("the connection was refused by %1").arg(where())
                      : silent ? QStringLiteral("no answer from %1 within %2")
                                     .arg(where(), attemptsText(m_options.timeoutMs))
                               : QStringLiteral("cannot reach %1: %2").arg(where(), m_tcp->errorString()));
}

void Link::openSerial()
{
    m_serial = new QSerialPort;
    m_serial->setReadBufferSize(kReadPiece);
    m_dev = m_serial;
    m_serial->setPortName(m_target.device);
    qCDebug(lcLink, "opening %s, +%lld ms", qPrintable(where()), CallGuard::elapsedMs());
    waitForPort();
    if (!SetLineFraming(*m_serial, m_target, m_target.device))
        throw EngineError(EngineError::kConnectFailed,
                          QStringLiteral("cannot set up %1: %2").arg(where(), m_serial->errorString()));
    m_serial->clear();
    QObject::connect(m_serial, &QSerialPort::errorOccurred, m_serial, [this](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError)
            m_lost = true;
    });
}

// A port that another program holds (its lock file, or the exclusive open of the tty) is
// waited for as long as an unreachable controller would be, T × (1 + R), and tried again
// every 50 ms; two calls on one line never interleave. A port that is missing or that
// this user may not open fails at once.
void Link::waitForPort()
{
    QElapsedTimer clock;
    clock.start();
    const qint64 allMs = qint64(m_options.timeoutMs) * (1 + std::max(0, m_options.retries));
    const WaitEnd waitEnd{this};
    const QByteArray path = QFile::encodeName(m_target.device);
    while (!m_serial->open(QIODevice::ReadWrite)) {
        const bool held = m_serial->error() == QSerialPort::PermissionError
                          && ::access(path.constData(), R_OK | W_OK) == 0;
        if (m_serial->error() == QSerialPort::DeviceNotFoundError)
            throw EngineError(EngineError::kConnectFailed, noSuchPort(m_target.port));
        if (!held)
            throw EngineError(EngineError::kConnectFailed,
                              QStringLiteral("cannot open %1: %2").arg(where(), m_serial->errorString()));
        if (clock.elapsed() >= allMs)
            throw EngineError(EngineError::kPortBusy,
                              QStringLiteral("the serial port is in use by another program (another tolvanectl, "
                                             "the wizard or a terminal): %1, waited %2 ms for it; try again when "
                                             "it is done")
                                  .arg(where())
                                  .arg(allMs));
        reportWait(clock.elapsed(), allMs - clock.elapsed(), false);
        QEventLoop loop;
        QTimer::singleShot(int(std::min<qint64>(kPortRetryMs, allMs - clock.elapsed()) + 1), &loop,
                           &QEventLoop::quit);
        if (!CallGuard::cancelPending())
            runWakeable(loop);
        if (CallGuard::takeCancel())
            throw cancelledError();
    }
}

Link::Wait Link::awaitResponse(quint16 seq, const QDeadlineTimer& deadline, qint64 later, proto::Frame& out)
{
    // A partial frame left from before the line went idle is dropped first.
    if (m_scanner.hasPartial() && (!m_lastByte.isValid() || m_lastByte.elapsed() >= proto::kIdleDropMs))
        m_scanner.idle();

    QEventLoop loop;
    QTimer bound, idle;
    bound.setSingleShot(true);
    bound.setTimerType(Qt::PreciseTimer);
    idle.setSingleShot(true);
    idle.setInterval(proto::kIdleDropMs);
    bool got = false;

    // Reads no more than the scanner takes at a time; whatever arrives, the attempt's
    // deadline stays where it is.
    auto take = [&] {
        while (!got) {
            std::optional<proto::Frame> f = m_scanner.next();
            if (!f)
                break;
            // A client ignores requests and responses to other requests.
            if (f->kind == proto::Kind::Response && f->seq == seq) {
                out = *f;
                got = true;
            }
        }
    };
    auto pump = [&] {
        take();  // bytes a former call left unscanned
        while (!got && !deadline.hasExpired()) {
            const QByteArray bytes = m_dev->read(kReadPiece);
            if (bytes.isEmpty())
                break;
            m_lastByte.start();
            idle.start();
            m_attemptReceived += bytes.size();
            m_scanner.feed(bytes);
            take();
        }
        reportMeter();
        if (got || deadline.hasExpired())
            loop.quit();
    };
    QObject::connect(m_dev, &QIODevice::readyRead, &loop, pump);
    QObject::connect(&idle, &QTimer::timeout, &loop, [this] { m_scanner.idle(); });
    QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer meterTick, waitTick;
    if (m_meter) {
        QObject::connect(&meterTick, &QTimer::timeout, &loop, [this] { reportMeter(); });
        meterTick.start(100);
    }
    if (m_watch && m_watch->report) {
        QObject::connect(&waitTick, &QTimer::timeout, &loop, [&] {
            reportWait(m_callClock.elapsed() - m_callLineMs, deadline.remainingTime() + later, false);
        });
        waitTick.start(kWaitReportMs);
    }
    if (m_tcp) {
        QObject::connect(m_tcp, &QTcpSocket::disconnected, &loop, [&] { m_lost = true; loop.quit(); });
        QObject::connect(m_tcp, &QTcpSocket::errorOccurred, &loop, [&] { m_lost = true; loop.quit(); });
    } else if (m_serial) {
        QObject::connect(m_serial, &QSerialPort::errorOccurred, &loop, [&](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError) {
                m_lost = true;
                loop.quit();
            }
        });
    }

    bound.start(int(std::max<qint64>(0, deadline.remainingTime())));
    pump();
    if (!got && !m_lost && !deadline.hasExpired() && !CallGuard::cancelPending())
        runWakeable(loop);
    // An answer that came whole counts, cancelled or not; the cancel ends the next wait.
    if (got)
        return Wait::Response;
    if (CallGuard::takeCancel())
        return Wait::Cancelled;
    return m_lost ? Wait::Lost : Wait::Silent;
}

qint64 Link::attemptMs(int timeoutMs, qsizetype requestBytes, quint8 opcode, const QByteArray& payload) const
{
    // The largest response a request can bring: a READ_RECORD's bytes, else 4,096
    // bytes of payload; header and CRC are 16 bytes.
    qint64 response = 16 + 4096;
    if (opcode == proto::READ_RECORD) {
        proto::Reader r(payload);
        r.str();
        r.u32();
        const quint32 length = r.u32();
        if (r.atEndOk())
            response = 16 + 4 + qint64(length);
    }
    return qint64(timeoutMs) + transmitMs(requestBytes) + transmitMs(response);
}

QByteArray Link::callOnce(quint8 opcode, const QByteArray& payload, int attempts, int boundMs)
{
    if (!m_dev || !m_dev->isOpen())
        throw EngineError(EngineError::kClosed, QStringLiteral("link is closed"));
    if (m_lost)
        throw EngineError(EngineError::kLinkLost, QStringLiteral("link to the controller lost"));
    if (m_unanswered)
        throw EngineError(EngineError::kTimeout, QStringLiteral("controller stopped answering"));
    if (CallGuard::takeCancel())
        throw cancelledError();
    // After a cancel the session is only wound up: one short attempt a request, so that
    // ending a bracket cannot hold the caller for the whole time-out again.
    if (m_watch && m_watch->cancelled) {
        attempts = 1;
        boundMs = std::min(boundMs, kCloseBoundMs);
    }
    proto::Frame request;
    request.kind = proto::Kind::Request;
    request.seq = m_seq++;
    request.code = opcode;
    request.payload = payload;
    const QByteArray bytes = proto::encodeFrame(request);
    const qint64 attemptBound = attemptMs(boundMs, bytes.size(), opcode, payload);
    const bool chunked = opcode == proto::READ_RECORD || opcode == proto::WRITE_RECORD;
    const qint64 answer = opcode == proto::READ_RECORD ? attemptMs(0, 0, opcode, payload) : transmitMs(kSmallAnswer);
    m_callLineMs = transmitMs(bytes.size()) + answer;
    m_callClock.start();
    const WaitEnd waitEnd{this};

    for (int attempt = 0; attempt < attempts; ++attempt) {
        // Counted from the moment the request starts to leave; nothing that arrives
        // moves it.
        const QDeadlineTimer deadline(attemptBound, Qt::PreciseTimer);
        m_attemptClock.start();
        m_attemptSent = bytes.size();
        m_attemptReceived = 0;
        ++m_traffic.attempts;
        // A retry is the same frame with the same sequence number.
        if (m_dev->write(bytes) != bytes.size()) {
            m_lost = true;
            break;
        }
        // Handed to the system now, not on the next turn of the event loop: a round trip
        // on loopback is shorter than that turn.
        if (m_tcp)
            m_tcp->flush();
        else if (m_serial)
            m_serial->flush();
        m_traffic.bytesSent += quint64(bytes.size());
        qCDebug(lcLink, "-> %s seq %u length %lld, attempt %d of %d, +%lld ms", qPrintable(proto::opcodeName(opcode)),
                unsigned(request.seq), qint64(payload.size()), attempt + 1, attempts, CallGuard::elapsedMs());
        proto::Frame response;
        const Wait w = awaitResponse(request.seq, deadline, attemptBound * (attempts - 1 - attempt), response);
        m_traffic.bytesReceived += quint64(m_attemptReceived);
        traceWait(w, response);
        if (w == Wait::Cancelled)
            throw cancelledError();
        if (w == Wait::Response) {
            if (chunked)
                adaptChunk(attempt == 0);
            if (response.code != proto::OK) {
                proto::Reader r(response.payload);
                const QString text = r.str();
                throw EngineError(response.code, proto::statusName(response.code) + QStringLiteral(": ") + text);
            }
            return response.payload;
        }
        if (w == Wait::Lost)
            break;
    }
    if (chunked)
        adaptChunk(false);
    if (m_lost)
        throw EngineError(EngineError::kLinkLost, QStringLiteral("the link to %1 was lost").arg(where()));
    // A controller that let every attempt pass is not asked again on this link: the
    // calls that would follow (releasing the bracket, CLOSE) would each wait as long
    // again, and dropping the link ends the session as well.
    m_unanswered = true;
    throw EngineError(EngineError::kTimeout,
                      QStringLiteral("no answer to %1 from %2 within %3")
                          .arg(proto::opcodeName(opcode), where(), attemptsText(attemptBound, attempts)));
}

QString Link::where() const
{
    if (!m_target.serial)
        return QStringLiteral("%1 port %2").arg(FormatIPv4(m_target.address)).arg(proto::kTcpPort);
    return QStringLiteral("COM%1 (%2) at %3 baud").arg(m_target.port).arg(m_target.device).arg(m_target.baud);
}

QString Link::attemptsText(qint64 boundMs, int attempts) const
{
    if (attempts < 0)
        attempts = 1 + std::max(0, m_options.retries);
    return QStringLiteral("%1 ms × %2 %3").arg(boundMs).arg(attempts).arg(attempts == 1 ? "attempt" : "attempts");
}

void Link::traceWait(Wait w, const proto::Frame& response) const
{
    if (!lcLink().isDebugEnabled())
        return;
    if (w == Wait::Response)
        qCDebug(lcLink, "<- %s seq %u length %lld, +%lld ms", qPrintable(proto::statusName(response.code)),
                unsigned(response.seq), qint64(response.payload.size()), CallGuard::elapsedMs());
    else
        qCDebug(lcLink, "%s, +%lld ms", w == Wait::Silent ? "no answer" : w == Wait::Lost ? "link lost" : "cancelled",
                CallGuard::elapsedMs());
}

void Link::reportMeter() const
{
    if (!m_meter)
        return;
    qint64 sent = m_attemptSent;
    if (m_serial && m_target.baud > 0) {
        const qint64 bytesSoFar = m_attemptClock.elapsed() * m_target.baud / (1000 * bitsPerByte(m_target));
        sent = std::min(sent, bytesSoFar);
    }
    m_meter(sent, m_attemptReceived);
}

QByteArray Link::call(quint8 opcode, const QByteArray& payload)
{
    return callOnce(opcode, payload, 1 + std::max(0, m_options.retries), m_options.timeoutMs);
}

void Link::close()
{
    if (isOpen() && !m_unanswered) {
        try {
            // One short attempt: closing the window must not wait for a silent controller.
            callOnce(proto::CLOSE, QByteArray(), 1, std::min(m_options.timeoutMs, kCloseBoundMs));
        } catch (const EngineError&) {
            // Best effort: dropping the transport ends the session as well.
        }
    }
    if (m_tcp) {
        m_tcp->abort();
    }
    if (m_serial && m_serial->isOpen())
        m_serial->close();
    m_cache.reset();  // writes what the session kept, now that the controller is free
}
