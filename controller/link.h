// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The client side of the controller link protocol over one TCP connection or serial
// line: numbered requests, one in flight, a deadline per attempt with resends of the
// same frame, and responses found by a FrameScanner. Used only inside the engine.

#include "controller/linktypes.h"
#include "controller/recordlayout.h"
#include "protocol/protocol.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QIODevice>
#include <QPointer>
#include <memory>
#include <optional>

class QTcpSocket;
class QSerialPort;
class RecordCache;

class Link {
public:
    explicit Link(const LinkOptions& options, std::shared_ptr<LinkWatch> watch = {});
    ~Link();

    // Opens the transport (TCP: 1 + R attempts, each bounded by T) and sends OPEN.
    void open(const QString& clientName);
    // Sends one request and returns the OK response's payload; a non-OK status, a
    // time-out after every retry or a lost link throws EngineError.
    QByteArray call(quint8 opcode, const QByteArray& payload);
    // CLOSE, best effort (one attempt, no retries), then the transport is closed.
    void close();
    bool isOpen() const;

    // The chunk for the next READ_RECORD or WRITE_RECORD: at most min(4096, the
    // controller's largest chunk), smaller for a while after failed attempts.
    quint32 chunkSize() const;
    quint32 largestChunk() const { return m_largestChunk; }
    QString controllerId() const { return m_controllerId; }
    QString model() const { return m_model; }
    const LinkOptions& options() const { return m_options; }

    // Watches the bytes of the call under way, at least every 100 ms while it waits:
    // how many of the request's bytes have left (on a serial line estimated from the
    // line's rate, as the driver hides it; on TCP all at once) and how many bytes have
    // arrived since the request was sent. A retry starts both again.
    using Meter = std::function<void(qint64 sent, qint64 received)>;
    void setMeter(Meter meter) { m_meter = std::move(meter); }

    // What has moved on this link so far.
    const LinkTraffic& traffic() const { return m_traffic; }

    // A record's content as this session last read or wrote it, with its SHA-256. It is
    // only ever used after the controller has confirmed that digest: a RECORD_DIGEST
    // that matches it (then confirmed is set), or a PATCH_RECORD's base digest.
    //
    // A record may be held in part: only the spans of `part` were read (after the
    // controller named its digest), every other byte of content is 0, and the digest is
    // the one the controller named, none once this session has written the record since.
    struct HeldRecord {
        HeldRecord() = default;
        HeldRecord(QByteArray c, bool isConfirmed, bool isFromController, QByteArray knownDigest = {})
            : content(std::move(c)), confirmed(isConfirmed), fromController(isFromController),
              m_digest(std::move(knownDigest))
        {
        }
        QByteArray content;
        bool confirmed = false;  // a RECORD_DIGEST matched it, and it was not written since
        // The controller held this content when it was read or its digest matched; what
        // this session wrote may only be staged. A write over content that the controller
        // held and has changed since is refused: it was merged from stale bytes.
        bool fromController = false;
        std::optional<QList<rec::Span>> part;  // sorted and apart; nothing when held whole
        // Worked out when first needed: most records held are never asked about again.
        const QByteArray& digest() const
        {
            if (m_digest.isEmpty() && !part)
                m_digest = proto::digest(content);
            return m_digest;
        }
    private:
        mutable QByteArray m_digest;
    };
    QHash<QString, HeldRecord>& held() { return m_held; }
    // RECORD_DIGEST and PATCH_RECORD, until the controller answers one UNSUPPORTED.
    bool optionalRequests() const { return m_optionalRequests; }
    void dropOptionalRequests() { m_optionalRequests = false; }
    // The records kept between sessions; null when the options turned it off.
    RecordCache* cache() const { return m_cache.get(); }
    void setCache(std::unique_ptr<RecordCache> cache);

private:
    enum class Wait { Response, Silent, Lost, Cancelled };
    // later: how long the call's further attempts may take, for the wait reports.
    Wait awaitResponse(quint16 seq, const QDeadlineTimer& deadline, qint64 later, proto::Frame& out);
    void reportWait(qint64 waitedMs, qint64 leftMs, bool finished) const;
    // Reports the end of a call's wait when it goes out of scope, however the call ends.
    struct WaitEnd {
        const Link* link;
        ~WaitEnd() { link->reportWait(0, 0, true); }
    };
    // One attempt's bound: T plus the line time of the request and of the largest
    // response it can bring.
    qint64 attemptMs(int timeoutMs, qsizetype requestBytes, quint8 opcode, const QByteArray& payload) const;
    QByteArray callOnce(quint8 opcode, const QByteArray& payload, int attempts, int boundMs);
    void openTcp();
    void openSerial();
    void waitForPort();
    int transmitMs(qsizetype bytes) const;
    // "127.0.0.1 port 47311", "COM7 (/dev/ttyS6) at 9600 baud": where a cause happened.
    QString where() const;
    // "300 ms × 2 attempts"; attempts -1: those of the options.
    QString attemptsText(qint64 boundMs, int attempts = -1) const;
    void traceWait(Wait w, const proto::Frame& response) const;
    void reportMeter() const;
    void adaptChunk(bool clean);

    LinkOptions m_options;
    ConnectionTarget m_target;
    QIODevice* m_dev = nullptr;       // the one below that is in use
    QTcpSocket* m_tcp = nullptr;
    QSerialPort* m_serial = nullptr;
    proto::FrameScanner m_scanner;
    QElapsedTimer m_lastByte;
    quint16 m_seq = 0;
    quint32 m_chunk = proto::kClientChunk;
    int m_cleanCalls = 0;
    bool m_lost = false;
    bool m_unanswered = false;  // a call went unanswered through every attempt
    quint32 m_largestChunk = 0;
    QString m_controllerId, m_model;
    Meter m_meter;
    QElapsedTimer m_attemptClock;  // since the request of this attempt started to leave
    qint64 m_attemptSent = 0;      // the request's size
    qint64 m_attemptReceived = 0;  // bytes arrived since then
    LinkTraffic m_traffic;
    QHash<QString, HeldRecord> m_held;
    bool m_optionalRequests = true;
    std::unique_ptr<RecordCache> m_cache;
    std::shared_ptr<LinkWatch> m_watch;
    QElapsedTimer m_callClock;    // since the call under way sent its first attempt
    qint64 m_callLineMs = 0;      // the line time of its request and expected answer
};
