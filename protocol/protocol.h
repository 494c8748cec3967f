// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Controller link protocol, version 1: frames, payload encoding and a byte-stream frame
// scanner. Shared by the controller provider (client) and the controller simulator.

#include <QByteArray>
#include <QString>
#include <QVector>
#include <cstdint>
#include <optional>
#include <variant>

namespace proto {

inline constexpr quint16 kTcpPort = 47311;
inline constexpr quint8 kVersion = 1;
inline constexpr quint32 kMaxPayload = 1048576;
inline constexpr int kHeaderSize = 12;
inline constexpr int kMaxFrame = kHeaderSize + int(kMaxPayload) + 4;  // 1,048,592
inline constexpr int kIdleDropMs = 250;  // a partial frame is dropped after this idle time
inline constexpr quint32 kClientChunk = 4096;

enum class Kind : quint8 { Request = 1, Response = 2 };

enum Opcode : quint8 {
    OPEN = 0x01, CLOSE = 0x02, READ_VALUE = 0x10, RECORD_SIZE = 0x20,
    READ_RECORD = 0x21, WRITE_RECORD = 0x22, EXECUTE = 0x30,
    // Optional: a controller without them answers UNSUPPORTED.
    RECORD_DIGEST = 0x23, PATCH_RECORD = 0x24,
};

inline constexpr int kDigestSize = 32;  // SHA-256 of a record's content

enum Status : quint8 {
    OK = 0, UNKNOWN_NAME = 1, MALFORMED = 2, OUT_OF_RANGE = 3, DENIED = 4,
    NOT_OPEN = 5, FAILED = 6, UNSUPPORTED = 7, BAD_SIZE = 8,
};

struct Frame {
    Kind kind = Kind::Request;
    quint16 seq = 0;
    quint8 code = 0;  // opcode of a request, status of a response
    QByteArray payload;
};

// Encodes a whole frame, CRC included.
QByteArray encodeFrame(const Frame& f);

// Variant of the payload encoding: tag 0 empty, 1 i32, 2 i16 array, 3 bytes, 4 str.
struct Empty { bool operator==(const Empty&) const = default; };
using Value = std::variant<Empty, qint32, QVector<qint16>, QByteArray, QString>;

// Appends fields to a payload.
class Writer {
public:
    Writer& u8(quint8 v);
    Writer& u16(quint16 v);
    Writer& u32(quint32 v);
    Writer& i16(qint16 v);
    Writer& i32(qint32 v);
    Writer& str(const QString& s);
    Writer& bytes(const QByteArray& b);
    Writer& value(const Value& v);
    const QByteArray& data() const { return m_data; }
private:
    QByteArray m_data;
};

// Reads fields from a payload. Any shortfall, invalid UTF-8 or bad variant tag sets
// the reader to failed; atEndOk() tells whether the payload was well formed and used up.
class Reader {
public:
    explicit Reader(const QByteArray& payload) : m_data(payload) {}
    quint8 u8();
    quint16 u16();
    quint32 u32();
    qint16 i16();
    qint32 i32();
    QString str();
    QByteArray bytes();
    Value value();
    bool ok() const { return m_ok; }
    bool atEndOk() const { return m_ok && m_pos == m_data.size(); }
private:
    bool need(qsizetype n);
    QByteArray m_data;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

// Scans a byte stream for frames as the protocol's receiver rules say: magic search,
// header range checks, CRC check with resume one byte after a dropped frame's start,
// and never more than one largest frame held. The caller calls idle() when no byte has
// arrived for kIdleDropMs; that drops a partial frame.
//
// The work per received byte is bounded by a small constant whatever the length
// fields claim: a running CRC of the stream is kept, and a candidate frame's CRC is
// derived from the running CRCs at its two ends (crc32_combine), so a flood of headers
// that claim the largest payload costs time in proportion to its bytes. Bytes are taken
// from the fed data only as next() needs them, so a caller that stops calling next()
// (a peer that must wait for its answers to drain) leaves the rest unscanned.
class FrameScanner {
public:
    FrameScanner();
    void feed(const QByteArray& bytes);
    std::optional<Frame> next();  // next complete, valid frame, if any
    void idle();                  // drop a partial frame
    bool hasPartial() const;      // bytes held that may still become part of a frame
    qsizetype buffered() const;   // bytes held: unscanned ones and those of a possible frame
    quint64 dropped() const { return m_dropped; }  // frames dropped (bad header or CRC)
    // The scanner's cost so far, in bytes: each byte run through the CRC or moved in the
    // buffer counts one, each frame check 64 (a crc32_combine). Stays within a small
    // multiple of the bytes fed, whatever the length fields claim.
    quint64 work() const { return m_work; }
private:
    struct Candidate {
        quint64 start;      // stream position of its "TL"
        quint64 end;        // stream position just after its CRC field
        quint32 crcBefore;  // CRC-32 of the stream before it
        qint8 state;        // 0 waiting for its end, 1 valid, -1 failed its CRC
    };
    char at(quint64 pos) const { return m_buf.at(qsizetype(pos - m_base)); }
    // The first position whose header is not checked yet (it needs the 12th byte).
    quint64 uncheckedHeaders() const { return m_scanned >= kHeaderSize - 1 ? m_scanned - (kHeaderSize - 1) : 0; }
    void step();      // runs the byte at m_scanned through the CRC and the checks
    void trim();
    void reset();
    void countBadHeads();

    QByteArray m_buf;        // the stream from position m_base on
    quint64 m_base = 0;
    quint64 m_scanned = 0;   // stream position of the next byte to scan
    quint64 m_floor = 0;     // no frame starts before this (end of the last frame delivered)
    quint32 m_crc = 0;       // CRC-32 of the stream before m_scanned
    quint32 m_ring[16] = {}; // CRC-32 of the stream before position p, at p % 16
    QVector<Candidate> m_pending;  // possible frames in order of start, from m_first on
    qsizetype m_first = 0;
    QVector<std::pair<quint64, quint64>> m_ends;  // min-heap of (end, start) of waiting candidates
    QVector<quint64> m_badHeads;  // headers out of range met while a frame was possible
    qsizetype m_badFirst = 0;
    quint64 m_work = 0;
    quint64 m_dropped = 0;
};

QString statusName(quint8 status);
// OPEN, CLOSE, ... as the trace and the simulator's log name them; OP_0xNN for others.
QString opcodeName(quint8 opcode);

// Little-endian integers of size bytes, as every integer of the frames, the payloads,
// the records' fields and the simulator's state file: appended, set in place, read.
void putLE(QByteArray& out, quint64 v, int size);
void setLE(QByteArray& out, qsizetype at, quint64 v, int size);
quint64 getLE(const char* p, int size);
// CRC-32 by zlib's crc32 (IEEE 802.3): the frames' check, and the state file's.
quint32 crcOf(const char* p, qsizetype n);

// The digest of a record's content that RECORD_DIGEST and PATCH_RECORD carry: SHA-256,
// kDigestSize bytes.
QByteArray digest(const QByteArray& content);

}  // namespace proto
