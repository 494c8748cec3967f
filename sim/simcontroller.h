// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The simulated controller's protocol engine: sessions, records, the access bracket,
// write transactions, the error code and the durable state. It knows nothing of sockets
// or lines: a transport attaches a connection, hands it each request frame and carries
// out the returned reply. Tests drive it in-process the same way.

#include "protocol/protocol.h"
#include "sim/simstate.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace sim {

// One fault switch of the command line (--fault FAULT).
struct Fault {
    enum Type {
        DropAt, StallAt, CorruptAt, ExitAt, ExitAfterApply, Short, FailRead, FailWrite, DenyClear,
        FloodAt, HeaderFloodAt, WrongSeqAt, Chatter, ErrorAt, FreezeAt, StealAfterCommit,
    };
    Type type = DropAt;
    quint64 n = 0;       // request number for the *-at faults (1 = first request of a connection)
    QString name;        // record for short, fail-read, fail-write
    qsizetype size = 0;  // record size for short
    qint32 code = 0;     // error code for error-at
};

// Parses "drop-at=3", "short=@CNF_RAW_COM:100", "error-at=14:42", "deny-clear", ...;
// nullopt with a reason.
std::optional<Fault> parseFault(const QString& faultText, QString* error);

struct SimConfig {
    quint32 maxChunk = 4096;
    QString controllerId = QStringLiteral("TLVSIM-0001");
    QString model = QStringLiteral("Tolvane RC-8 simulator");
    QString statePath;  // empty: the state lives in memory only
    // Without a state file: the state to start from instead of a factory-new one (what a
    // controller kept in memory when it is rebooted).
    std::optional<ControllerState> memoryState;
    bool optionalRequests = true;  // RECORD_DIGEST and PATCH_RECORD; off: UNSUPPORTED
    // A session that holds the access bracket and sends no request for this long is
    // ended, as if its connection had ended.
    qint64 leaseMs = 30000;
    QList<Fault> faults;
};

// What a transport does with one request.
struct Reply {
    enum Action {
        Send,     // send `bytes`
        Ignore,   // nothing to send (a response frame, which a controller ignores)
        Drop,     // end the connection (TCP) or the session (line) without answering
        Stall,    // never answer
        Exit,     // end the process at once, as a power cut would, without answering
        Flood,    // answer nothing more; stream random bytes without end
        HeaderFlood,  // answer nothing more; stream headers that claim the largest payload
        Repeat,   // send `bytes` now and every 100 ms, without end
    };
    Action action = Ignore;
    QByteArray bytes;
};

class SimController {
public:
    explicit SimController(SimConfig cfg);

    // Loads the state file (or creates it with the defaults when missing), then applies
    // the short= faults and errorCode when given. False with a reason when it fails.
    bool start(std::optional<qint32> errorCode, QString* error);

    // A transport's connection: TCP connection or serial line. Ids count from 1.
    int attach();
    void detach(int conn);  // the connection dropped: its session ends

    // Handles one frame received on a connection, at nowMs of a monotonic clock (the
    // lease is measured on it).
    Reply handle(int conn, const proto::Frame& frame, qint64 nowMs);

    // One line per request, "<conn> <seq> <OPNAME> <details> -> <STATUS>".
    void setLogSink(std::function<void(const QString&)> sink) { m_log = std::move(sink); }

    const ControllerState& state() const { return m_state; }
    // The chatter fault: every connection streams text lines from its start and no
    // request is answered, as a wrong port with a GPS receiver on it would.
    bool chatters() const { return hasNamedFault(Fault::Chatter, QString()); }
    int bracketHolder() const;  // connection holding the access bracket, 0 when none

private:
    struct Collection {
        bool active = false;
        QString name;
        quint32 next = 0;
        QByteArray data;
    };
    struct Conn {
        quint64 session = 0;  // 0: no session open
        quint64 received = 0; // requests received on this connection
        qint64 lastRequestMs = 0;  // when the last one came, on handle()'s clock
        bool hasLast = false;
        quint16 lastSeq = 0;
        quint8 lastOp = 0;
        QByteArray lastPayload;
        QByteArray lastResponse;  // the kept response frame, encoded
        Collection collection;
        bool txOpen = false;
        QMap<QString, QByteArray> staged;
    };
    struct Outcome {
        quint8 status = proto::OK;
        QByteArray payload;  // OK payload, or the message for other statuses
    };

    void endSession(Conn& c);
    // Ends the session of the bracket's holder when it has sent nothing for the lease.
    void expireLease(qint64 nowMs);
    Outcome execute(Conn& c, const proto::Frame& f);
    std::optional<Reply> faultBefore(int connId, Conn& c, const proto::Frame& frame, quint64 n);
    QByteArray answer(Conn& c, const proto::Frame& frame, QString* result);
    static Outcome fail(quint8 status, const QString& message);
    Outcome doOpen(Conn& c, proto::Reader& r);
    Outcome doReadRecord(proto::Reader& r);
    Outcome doWriteRecord(Conn& c, proto::Reader& r);
    // A record's new content from a completed write or a patch: staged inside an open
    // transaction, else applied and made durable at once.
    Outcome storeRecord(Conn& c, const QString& name, const QByteArray& content);
    Outcome doRecordDigest(proto::Reader& r);
    Outcome doPatchRecord(Conn& c, proto::Reader& r, qsizetype payloadSize);
    Outcome doExecute(Conn& c, proto::Reader& r);
    Outcome doSignal(Conn& c, qint16 channel, qint16 phase);
    // Applies a change durably: the state file is written before memory changes.
    bool commitState(const ControllerState& next, QString* error);
    const Fault* faultAt(Fault::Type t, quint64 n) const;
    bool faultFrom(Fault::Type t, quint64 n) const;  // a fault on request n or any later one
    bool hasNamedFault(Fault::Type t, const QString& name) const;
    void log(int conn, quint16 seq, const QString& op, const QString& details, const QString& result);

    SimConfig m_cfg;
    ControllerState m_state;
    QHash<int, Conn> m_conns;
    int m_nextConn = 1;
    quint64 m_nextSession = 1;
    quint64 m_bracket = 0;  // session holding the access bracket, 0 when none
    // steal-after-commit: a client that is no connection of ours holds the bracket.
    static constexpr quint64 kOtherClient = ~quint64(0);
    // Digests of the applied records, worked out when first asked for, dropped when the
    // state changes.
    QByteArray appliedDigest(const QString& name);
    QHash<QString, QByteArray> m_digests;
    std::function<void(const QString&)> m_log;
};

}  // namespace sim
