// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// A small blocking client of the controller link protocol for conformance tests: it
// sends raw bytes or request frames over TCP or a pseudo-terminal and waits for the
// simulator's responses (no fixed sleeps: each wait ends as soon as bytes arrive).
// The request log format and readSimLog() are in tests/support/simprocess.h.

#include "tests/support/simprocess.h"
#include "protocol/protocol.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QTcpSocket;

class SimClient {
public:
    SimClient();
    ~SimClient();
    bool connectTcp(const QString& host, quint16 port = proto::kTcpPort, int timeoutMs = 5000);
    // Opens a pseudo-terminal's slave (or the link to it) in raw mode.
    bool openPty(const QString& path);
    // Talks over a copy of an open descriptor (e.g. a PtyPair's master).
    bool openFd(int fd);
    void disconnect();
    bool isConnected() const;

    bool sendRaw(const QByteArray& bytes);
    bool send(quint16 seq, quint8 opcode, const QByteArray& payload);
    // The next response frame, nullopt when none arrived in time or the link closed.
    std::optional<proto::Frame> receive(int timeoutMs = 5000);
    // Waits until the peer closes the TCP connection.
    bool waitClosed(int timeoutMs = 5000);

    // Sends a request with the next sequence number and returns the response to it.
    std::optional<proto::Frame> call(quint8 opcode, const QByteArray& payload = {}, int timeoutMs = 5000);
    quint16 nextSeq() const { return m_seq; }
    void setNextSeq(quint16 seq) { m_seq = seq; }

    // Convenience: status of OPEN / CLOSE / doSignal / ClearError (-1 on no answer).
    int open(const QString& clientName = QStringLiteral("test"));
    int close();
    int doSignal(qint16 channel, qint16 phase);
    int clearError(qint32 code);
    // Whole record in chunks; nullopt on any error.
    std::optional<QByteArray> readRecord(const QString& name, quint32 chunk = 4096);
    // Writes a whole record in chunks; the status of the last chunk sent.
    int writeRecord(const QString& name, const QByteArray& data, quint32 chunk = 4096);
    std::optional<qint32> errorCode();

    // Payload builders.
    static QByteArray strPayload(const QString& s);
    static QByteArray readPayload(const QString& name, quint32 offset, quint32 length);
    static QByteArray writePayload(const QString& name, quint32 total, quint32 offset, const QByteArray& data);
    static QByteArray executePayload(const QString& command, const proto::Value& param);
    static QByteArray requestFrame(quint16 seq, quint8 opcode, const QByteArray& payload);
    // A frame with every header field chosen by the caller (the length field need not
    // match the payload); its CRC covers the bytes given and is right unless badCrc.
    static QByteArray craftFrame(quint8 version, quint8 kind, quint16 seq, quint8 code, quint8 reserved,
                                 quint32 length, const QByteArray& payload, bool badCrc = false);
    // Frames dropped by this client's scanner so far (bad header or CRC).
    quint64 droppedFrames() const { return m_scanner.dropped(); }

private:
    bool readSome(int timeoutMs);
    std::unique_ptr<QTcpSocket> m_socket;
    int m_fd = -1;
    bool m_lineGone = false;
    proto::FrameScanner m_scanner;
    quint16 m_seq = 0;
};

// A pseudo-terminal pair held by a test (e.g. to run the simulator with --serial on the
// slave while the test talks on the master).
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    bool ok() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }
private:
    int m_master = -1;
    QString m_slavePath;
};
