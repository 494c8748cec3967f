// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Drives SimController in-process: each connection is a number, each request returns
// the response frame the controller would send (or nothing).

#include "protocol/protocol.h"
#include "sim/simcontroller.h"
#include "tests/support/simclient.h"

#include <QHash>

#include <optional>

class SimHarness {
public:
    explicit SimHarness(sim::SimConfig cfg = {}) : ctl(std::move(cfg)) {}

    bool start(std::optional<qint32> errorCode = std::nullopt, QString* error = nullptr)
    {
        return ctl.start(errorCode, error);
    }
    int connect() { return ctl.attach(); }

    // Sends one request with the connection's next sequence number (or `seq`).
    std::optional<proto::Frame> request(int conn, quint8 op, const QByteArray& payload = {},
                                        std::optional<quint16> seq = std::nullopt)
    {
        const quint16 s = seq ? *seq : m_seq[conn]++;
        proto::Frame f;
        f.seq = s;
        f.code = op;
        f.payload = payload;
        last = ctl.handle(conn, f, nowMs);
        if (last.action != sim::Reply::Send)
            return std::nullopt;
        proto::FrameScanner scanner;
        scanner.feed(last.bytes);
        return scanner.next();
    }
    int status(int conn, quint8 op, const QByteArray& payload = {})
    {
        const auto f = request(conn, op, payload);
        return f ? f->code : -1;
    }
    int open(int conn) { return status(conn, proto::OPEN, SimClient::strPayload(QStringLiteral("t"))); }
    // A new connection with an open session: its number, or -1 when OPEN was not OK.
    int session()
    {
        const int conn = connect();
        return open(conn) == proto::OK ? conn : -1;
    }
    int doSignal(int conn, qint16 ch, qint16 ph)
    {
        return status(conn, proto::EXECUTE,
                      SimClient::executePayload(QStringLiteral("doSignal"), QVector<qint16>{ch, ph}));
    }
    int write(int conn, const QString& name, quint32 total, quint32 offset, const QByteArray& data)
    {
        return status(conn, proto::WRITE_RECORD, SimClient::writePayload(name, total, offset, data));
    }
    // Writes a whole record in chunks; status of the last chunk.
    int writeWhole(int conn, const QString& name, const QByteArray& data, quint32 chunk = 4096)
    {
        quint32 off = 0;
        int st = -1;
        do {
            const quint32 n = qMin<quint32>(chunk, quint32(data.size()) - off);
            st = write(conn, name, quint32(data.size()), off, data.mid(off, n));
            off += n;
        } while (st == proto::OK && off < quint32(data.size()));
        return st;
    }
    QByteArray record(const QString& name) const { return ctl.state().records.value(name); }

    sim::SimController ctl;
    sim::Reply last;
    qint64 nowMs = 0;  // the controller's clock: a test moves it on to run out the lease

private:
    QHash<int, quint16> m_seq;
};
