// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "scan/scanner.h"

#include "controller/lineframing.h"
#include "protocol/protocol.h"
#include "settings/serialports.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QSerialPort>
#include <QSet>
#include <QTcpSocket>

#include <algorithm>
#include <cmath>

namespace scan {

namespace {

constexpr qint64 kReadPiece = 65536;
constexpr int kTickMs = 5;
// The largest response the protocol lets a client expect to any request but
// READ_RECORD: its line time is part of an attempt's deadline.
constexpr qint64 kExpectedResponse = 16 + 4096;
// A record a scan reads is the controller's settings record: a claim beyond the
// largest payload is no record anybody reads.
constexpr quint32 kLargestRecord = proto::kMaxPayload;
// A bound of what the details put on a line: RECORD_SIZE and a READ_RECORD for each
// span shown, with their answers, take under 200 bytes.
constexpr qint64 kDetailsLineBytes = 384;

}  // namespace

// One address or one serial port: connect, OPEN with its deadline, with details the
// settings record, then CLOSE. Every wait is one attempt timer that nothing the peer
// sends can move; bytes are read in bounded pieces through the protocol's scanner.
class Probe : public QObject {
public:
    Probe(Scanner& scanner, bool serial, quint32 address, int port, QList<LineSetting> settings, qint64 order)
        : m_scanner(scanner),
          m_serial(serial),
          m_address(address),
          m_port(port),
          m_settings(std::move(settings)),
          m_order(order)
    {
        m_attempt.setSingleShot(true);
        m_attempt.setTimerType(Qt::PreciseTimer);
        connect(&m_attempt, &QTimer::timeout, this, &Probe::attemptOver);
        m_silent.setSingleShot(true);
        m_silent.setTimerType(Qt::PreciseTimer);
        connect(&m_silent, &QTimer::timeout, this, [this] {
            m_attempt.stop();
            attemptOver();
        });
        m_idle.setSingleShot(true);
        m_idle.setInterval(proto::kIdleDropMs);
        connect(&m_idle, &QTimer::timeout, this, [this] { m_frames.idle(); });
        m_whole.setSingleShot(true);
        m_whole.setTimerType(Qt::PreciseTimer);
        connect(&m_whole, &QTimer::timeout, this, &Probe::wholeOver);
        m_retryStart.setSingleShot(true);
        m_retryStart.setInterval(kTickMs);
        connect(&m_retryStart, &QTimer::timeout, this, &Probe::connectTcp);
    }

    // The scan is cancelled: the try ends now, without a result. A line's unsent bytes
    // are dropped, so that closing it does not wait for them to drain.
    void abandon()
    {
        if (m_line && m_line->isOpen())
            m_line->clear(QSerialPort::Output);
        m_abandoned = true;
        finish(std::nullopt);
    }

    void start()
    {
        if (m_serial)
            openSerial();
        else
            connectTcp();
    }

private:
    enum class Step { Connect, Open, Size, Read, Close };

    const ScanOptions& opts() const { return m_scanner.options(); }

    // --- the transports ------------------------------------------------------------
    void connectTcp()
    {
        if (!m_tcp) {
            m_tcp = new QTcpSocket(this);
            m_tcp->setReadBufferSize(kReadPiece);
            m_dev = m_tcp;
            connect(m_tcp, &QTcpSocket::connected, this, [this] {
                m_attempt.stop();
                m_tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                sendOpen();
            });
            connect(m_tcp, &QTcpSocket::errorOccurred, this, [this] {
                if (m_done)
                    return;
                if (m_step == Step::Connect)
                    connectFailed();
                else
                    requestFailed();  // the peer went away
            });
            connect(m_tcp, &QTcpSocket::readyRead, this, &Probe::readSome);
        }
        m_step = Step::Connect;
        m_attempt.start(opts().timeoutMs);
        m_tcp->connectToHost(QHostAddress(m_address), proto::kTcpPort);
    }

    void connectFailed()
    {
        m_attempt.stop();
        m_tcp->abort();
        if (++m_attempts > opts().retries) {
            finish(std::nullopt);
            return;
        }
        // A retry is a new connection: it waits for its place in the spread of starts.
        if (m_scanner.takeStart())
            connectTcp();
        else
            m_retryStart.start();
    }

    void openSerial()
    {
        m_line = new QSerialPort(this);
        m_device = ComPortDevice(m_port);
        m_line->setPortName(m_device);
        m_line->setReadBufferSize(kReadPiece);
        m_dev = m_line;
        if (m_line->portName().isEmpty() || !m_line->open(QIODevice::ReadWrite)) {
            finish(std::nullopt);
            return;
        }
        connect(m_line, &QSerialPort::readyRead, this, &Probe::readSome);
        connect(m_line, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError e) {
            if (e != QSerialPort::NoError && e != QSerialPort::TimeoutError)
                lineLost();
        });
        trySetting();
    }

    // The next rate of the port, or the end of the port.
    void trySetting()
    {
        if (m_setting >= m_settings.size()) {
            finish(std::nullopt);
            return;
        }
        const LineSetting& s = m_settings[m_setting];
        const bool ok = SetLineFraming(*m_line, SerialText(m_port, s), m_device);
        // What arrived at the last rate belongs to no frame of this one.
        m_line->clear();
        m_frames = proto::FrameScanner();
        m_seq = 0;
        if (!ok) {
            nextSetting();
            return;
        }
        sendOpen();
    }

    void nextSetting()
    {
        ++m_setting;
        trySetting();
    }

    void lineLost()
    {
        if (!m_line || m_done)
            return;
        m_attempt.stop();
        finish(m_found);
    }

    // --- requests ------------------------------------------------------------------
    // One attempt's bound: T plus, on a line, the time the request and the largest
    // response it may bring take to cross it.
    int attemptMs(qsizetype requestBytes, qint64 responseBytes) const
    {
        if (!m_serial)
            return opts().timeoutMs;
        const LineSetting& s = m_settings[m_setting];
        const double bits = 1 + 8 + (s.parity == 'N' ? 0 : 1) + s.stopBits.toDouble();
        const double ms = double(requestBytes + responseBytes) * bits * 1000.0 / s.baud;
        return int(std::min<double>(opts().timeoutMs + std::ceil(ms), 24.0 * 3600 * 1000));
    }

    void send(Step step, quint8 opcode, const QByteArray& payload, qint64 responseBytes, int attempts)
    {
        m_step = step;
        proto::Frame f;
        f.kind = proto::Kind::Request;
        f.seq = m_seq;
        f.code = opcode;
        f.payload = payload;
        m_request = proto::encodeFrame(f);
        m_requestAttempts = attempts;
        m_responseBytes = responseBytes;
        m_attempts = 0;
        sendAttempt();
    }

    void sendAttempt()
    {
        m_attempt.start(attemptMs(m_request.size(), m_responseBytes));
        // A line on which nothing at all arrives (a controller at another rate, or none)
        // ends the attempt once the request has left and T has passed: a wrong rate then
        // costs about T, not the line time of the largest answer.
        if (m_serial)
            m_silent.start(attemptMs(m_request.size(), 0));
        if (m_dev->write(m_request) != m_request.size())
            requestFailed();
    }

    void attemptOver()
    {
        if (m_step == Step::Connect) {
            connectFailed();
            return;
        }
        if (++m_attempts < m_requestAttempts) {
            sendAttempt();  // the same frame, the same sequence number
            return;
        }
        requestFailed();
    }

    void readSome()
    {
        if (m_done || !m_dev)
            return;
        // The device holds at most one piece (its read buffer is bounded); the scanner
        // never holds more than one largest frame.
        const QByteArray bytes = m_dev->read(kReadPiece);
        if (bytes.isEmpty())
            return;
        m_silent.stop();  // the line is not silent: the attempt keeps its whole bound
        m_idle.start();
        m_frames.feed(bytes);
        while (!m_done) {
            const std::optional<proto::Frame> f = m_frames.next();
            if (!f)
                break;
            // A request frame, or a response to something else, is no answer.
            if (f->kind != proto::Kind::Response || f->seq != m_seq)
                continue;
            m_attempt.stop();
            ++m_seq;
            answered(*f);
        }
        if (!m_done && m_dev->bytesAvailable() > 0)
            QMetaObject::invokeMethod(this, &Probe::readSome, Qt::QueuedConnection);
    }

    // The address's one bound, from OPEN on (on a line, each rate's): OPEN's attempts,
    // the details' attempts all together, and CLOSE. The attempt timers each keep within
    // their share, but a peer that answers every request of the details just in time
    // could otherwise stretch them without end.
    int wholeMs() const
    {
        const qint64 attempts = 1 + opts().retries;
        const qint64 open = attempts * attemptMs(64, kExpectedResponse);
        const qint64 details = opts().details ? attempts * attemptMs(0, kDetailsLineBytes) : 0;
        const qint64 close = attemptMs(16, kExpectedResponse);
        return int(std::min<qint64>(open + details + close, 24LL * 3600 * 1000));
    }

    void wholeOver()
    {
        if (m_done)
            return;
        m_attempt.stop();
        if (m_found) {
            if (!m_found->settings && opts().details && m_found->why.isEmpty())
                m_found->why = QStringLiteral("the settings did not come within the address's bound of %1 ms")
                                   .arg(m_whole.interval());
            end();
            return;
        }
        notFound();
    }

    void sendOpen()
    {
        m_whole.start(wholeMs());
        send(Step::Open, proto::OPEN, proto::Writer().str(opts().clientName).data(), kExpectedResponse,
             1 + opts().retries);
    }

    void answered(const proto::Frame& f)
    {
        switch (m_step) {
        case Step::Open: opened(f); return;
        case Step::Size: sized(f); return;
        case Step::Read: readPart(f); return;
        case Step::Close:
        case Step::Connect: end(); return;
        }
    }

    void opened(const proto::Frame& f)
    {
        proto::Reader r(f.payload);
        const quint16 version = r.u16();
        m_largestChunk = r.u32();
        Found found;
        found.order = m_order + m_setting;
        found.id = r.str();
        found.model = r.str();
        // Anything but a correct OPEN answer is no controller.
        if (f.code != proto::OK || !r.atEndOk() || version != proto::kVersion || m_largestChunk == 0) {
            requestFailed();
            return;
        }
        found.conn = m_serial ? SerialConn(m_port, m_settings[m_setting]) : EthernetConn(m_address);
        m_found = found;
        if (!opts().details) {
            sendClose();
            return;
        }
        send(Step::Size, proto::RECORD_SIZE, proto::Writer().str(QString::fromLatin1(rec::kRawCom)).data(),
             kExpectedResponse, 1 + opts().retries);
    }

    void sized(const proto::Frame& f)
    {
        proto::Reader r(f.payload);
        m_recordSize = r.u32();
        if (f.code != proto::OK || !r.atEndOk()) {
            unread(QStringLiteral("RECORD_SIZE answered %1").arg(proto::statusName(f.code)));
            return;
        }
        if (m_recordSize > kLargestRecord) {
            unread(QStringLiteral("the record claims %1 bytes").arg(m_recordSize));
            return;
        }
        if (m_recordSize < quint32(rec::kRawComSettingsSize)) {
            holdsNone();
            return;
        }
        // Only the bytes shown, whatever size the record claims; the others stay 0.
        m_record = QByteArray(rec::kRawComSettingsSize, '\0');
        m_readAt = 0;
        readNext();
    }

    void readNext()
    {
        const auto span = std::find_if(rec::kShownSpans.begin(), rec::kShownSpans.end(),
                                       [this](const rec::Span& s) { return m_readAt < s.end; });
        if (span == rec::kShownSpans.end()) {
            decode();
            return;
        }
        m_readAt = std::max(m_readAt, span->begin);
        const quint32 length = std::min({quint32(span->end - m_readAt), proto::kClientChunk, m_largestChunk});
        m_readLength = length;
        send(Step::Read, proto::READ_RECORD,
             proto::Writer().str(QString::fromLatin1(rec::kRawCom)).u32(quint32(m_readAt)).u32(length).data(),
             16 + 4 + qint64(length), 1 + opts().retries);
    }

    void readPart(const proto::Frame& f)
    {
        proto::Reader r(f.payload);
        const QByteArray part = r.bytes();
        if (f.code != proto::OK || !r.atEndOk() || quint32(part.size()) != m_readLength) {
            unread(QStringLiteral("READ_RECORD answered %1").arg(proto::statusName(f.code)));
            return;
        }
        m_record.replace(m_readAt, part.size(), part);
        m_readAt += int(part.size());
        readNext();
    }

    void holdsNone()
    {
        m_found->why = QStringLiteral("@CNF_RAW_COM holds no settings (%1 bytes)").arg(m_recordSize);
        sendClose();
    }

    void decode()
    {
        CommSettings s;
        try {
            DecodeRawCom(m_record, s);
            m_found->settings = s;
        } catch (const std::exception&) {
            holdsNone();
            return;
        }
        sendClose();
    }

    void unread(const QString& why)
    {
        m_found->why = why;
        sendClose();
    }

    // CLOSE is best effort: one attempt.
    void sendClose() { send(Step::Close, proto::CLOSE, QByteArray(), kExpectedResponse, 1); }

    void requestFailed()
    {
        m_attempt.stop();
        m_silent.stop();
        if (m_done)
            return;
        if (m_step == Step::Close) {
            end();
            return;
        }
        if (m_found) {
            // Found, but the settings read did not end: say so, and close.
            if (m_found->why.isEmpty())
                m_found->why = QStringLiteral("the controller stopped answering");
            if (m_step == Step::Size || m_step == Step::Read) {
                sendClose();
                return;
            }
            end();
            return;
        }
        notFound();
    }

    // Nothing answered at this address or rate: the port's next rate, or the end.
    void notFound()
    {
        if (m_serial && m_line && m_line->isOpen())
            nextSetting();
        else
            finish(std::nullopt);
    }

    void end() { finish(m_found); }

    void finish(std::optional<Found> found)
    {
        if (m_done)
            return;
        m_done = true;
        m_attempt.stop();
        m_silent.stop();
        m_whole.stop();
        m_idle.stop();
        m_retryStart.stop();
        // The descriptor is closed now, not when the object goes.
        if (m_tcp)
            m_tcp->abort();
        if (m_line)
            m_line->close();
        // A port counts the settings it tried: up to the one that answered, else all; a
        // try the cancel cut off counts as not tried.
        const qint64 tried = m_abandoned ? 0 : !m_serial ? 1 : found ? m_setting + 1 : m_settings.size();
        m_scanner.finished(this, tried, std::move(found));
    }

    Scanner& m_scanner;
    const bool m_serial;
    const quint32 m_address;
    const int m_port;
    const QList<LineSetting> m_settings;
    const qint64 m_order;
    QTcpSocket* m_tcp = nullptr;
    QSerialPort* m_line = nullptr;
    QString m_device;  // the line's device path
    QIODevice* m_dev = nullptr;
    proto::FrameScanner m_frames;
    QTimer m_attempt, m_silent, m_whole, m_idle, m_retryStart;
    Step m_step = Step::Connect;
    QByteArray m_request;
    qint64 m_responseBytes = 0;
    int m_requestAttempts = 1;
    int m_attempts = 0;  // of the connect or the request under way, after the first
    quint16 m_seq = 0;
    qsizetype m_setting = 0;  // the line setting being tried
    quint32 m_largestChunk = 0, m_recordSize = 0, m_readLength = 0;
    int m_readAt = 0;  // the next byte of the details to read
    QByteArray m_record;
    std::optional<Found> m_found;
    bool m_done = false;
    bool m_abandoned = false;
};

Scanner::Scanner(QList<Target> targets, ScanOptions options, QObject* parent)
    : QObject(parent),
      m_options(std::move(options))
{
    m_options.parallel = std::max(1, m_options.parallel);
    m_options.startsPerSecond = std::max(1, m_options.startsPerSecond);
    // com:all becomes the ports the connection page lists; a port named twice is tried once.
    QList<Target> expanded;
    QSet<int> ports;
    for (const Target& t : std::as_const(targets)) {
        if (!t.serial) {
            expanded.append(t);
            continue;
        }
        const QList<int> names = t.allPorts ? ProbeComPorts() : QList<int>{t.port};
        for (int port : names) {
            if (ports.contains(port))
                continue;
            ports.insert(port);
            Target one = t;
            one.allPorts = false;
            one.port = port;
            expanded.append(one);
        }
    }
    // Ports take longest (one deadline per rate): they start first, the order of the
    // results stays that of the targets.
    std::stable_partition(expanded.begin(), expanded.end(), [](const Target& t) { return t.serial; });
    m_targets = expanded;
    for (const Target& t : std::as_const(m_targets))
        m_progress.total += t.count();
    m_tick.setInterval(kTickMs);
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, &Scanner::schedule);
}

Scanner::~Scanner()
{
    // A scanner that goes while it runs ends its tries without a word: nothing is
    // reported to an object that is going.
    for (Probe* probe : std::as_const(m_probes)) {
        QObject::disconnect(probe, nullptr, this, nullptr);
        delete probe;
    }
}

std::optional<Scanner::Work> Scanner::nextWork()
{
    while (m_target < m_targets.size()) {
        const Target& t = m_targets[m_target];
        if (t.serial) {
            ++m_target;
            const qint64 order = m_order;
            m_order += t.count();
            return Work{true, 0, t.port, t.settings, order};
        }
        if (m_offset < t.count()) {
            const quint32 address = t.first + quint32(m_offset++);
            return Work{false, address, 0, {}, m_order++};
        }
        ++m_target;
        m_offset = 0;
    }
    return std::nullopt;
}

bool Scanner::takeStart()
{
    // A budget that grows with the clock: about startsPerSecond a second, never a burst.
    const qint64 allowed = 1 + m_clock.elapsed() * m_options.startsPerSecond / 1000;
    if (m_started >= allowed)
        return false;
    ++m_started;
    return true;
}

void Scanner::schedule()
{
    while (m_active < m_options.parallel) {
        if (m_target >= m_targets.size())
            break;
        if (!takeStart())
            return;
        const std::optional<Work> w = nextWork();
        if (!w) {
            --m_started;
            break;
        }
        auto* probe = new Probe(*this, w->serial, w->address, w->port, w->settings, w->order);
        // A probe holds its place until it is gone: Qt keeps a refused socket's
        // descriptor open until the socket object itself is deleted.
        m_probes.insert(probe);
        connect(probe, &QObject::destroyed, this, [this, probe] {
            m_probes.remove(probe);
            --m_active;
            schedule();
        });
        ++m_active;
        probe->start();
    }
    if (m_active == 0 && m_target >= m_targets.size() && m_running) {
        m_running = false;
        m_tick.stop();
        emit done();
    }
}

void Scanner::finished(Probe* probe, qint64 tried, std::optional<Found> found)
{
    m_progress.tried += tried;
    if (found) {
        m_found.append(*found);
        ++m_progress.found;
    }
    // The next one may start as soon as this one is gone, when the spread of starts allows it.
    probe->deleteLater();
    if (found)
        emit answered(*found);
    if (m_hook)
        m_hook(m_progress);
}

void Scanner::start()
{
    if (m_running || m_clock.isValid())
        return;  // a scanner scans once
    m_running = true;
    m_clock.start();
    m_tick.start();
    QMetaObject::invokeMethod(this, &Scanner::schedule, Qt::QueuedConnection);
}

void Scanner::run()
{
    QEventLoop loop;
    connect(this, &Scanner::done, &loop, &QEventLoop::quit);
    start();
    if (m_running)
        loop.exec();
}

void Scanner::cancel()
{
    if (!m_running)
        return;
    m_target = m_targets.size();  // nothing more starts
    // Each try ends and its object goes now, so its socket or line is closed before
    // cancel returns; the last one's going ends the scan.
    const QSet<Probe*> probes = m_probes;
    for (Probe* probe : probes) {
        probe->abandon();
        delete probe;
    }
    schedule();
}

QList<Found> Scanner::found() const
{
    QList<Found> all = m_found;
    std::sort(all.begin(), all.end(), [](const Found& a, const Found& b) { return a.order < b.order; });
    // Overlapping targets find an address twice: it is shown once.
    QSet<QString> seen;
    QList<Found> once;
    for (const Found& f : std::as_const(all)) {
        if (!seen.contains(f.conn)) {
            seen.insert(f.conn);
            once.append(f);
        }
    }
    return once;
}

}  // namespace scan
