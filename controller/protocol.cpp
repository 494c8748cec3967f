// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/protocol.h"

#include <QStringDecoder>

#include <algorithm>
#include <iterator>
#include <zlib.h>

namespace proto {

namespace {

void putLE(QByteArray& out, quint64 v, int size)
{
    for (int i = 0; i < size; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

quint64 getLE(const char* p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v |= quint64(quint8(p[i])) << (8 * i);
    return v;
}

quint32 crcOf(const char* p, qsizetype n)
{
    return quint32(::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(p), uInt(n)));
}

constexpr char kMagic0 = 0x54, kMagic1 = 0x4C;  // "TL"

}  // namespace

QByteArray encodeFrame(const Frame& f)
{
    QByteArray out;
    out.reserve(kHeaderSize + f.payload.size() + 4);
    out.append(kMagic0);
    out.append(kMagic1);
    out.append(char(kVersion));
    out.append(char(f.kind));
    putLE(out, f.seq, 2);
    out.append(char(f.code));
    out.append(char(0));
    putLE(out, quint32(f.payload.size()), 4);
    out.append(f.payload);
    putLE(out, crcOf(out.constData(), out.size()), 4);
    return out;
}

// --- Writer -------------------------------------------------------------------------

Writer& Writer::u8(quint8 v) { putLE(m_data, v, 1); return *this; }
Writer& Writer::u16(quint16 v) { putLE(m_data, v, 2); return *this; }
Writer& Writer::u32(quint32 v) { putLE(m_data, v, 4); return *this; }
Writer& Writer::i16(qint16 v) { putLE(m_data, quint16(v), 2); return *this; }
Writer& Writer::i32(qint32 v) { putLE(m_data, quint32(v), 4); return *this; }

Writer& Writer::str(const QString& s)
{
    const QByteArray utf8 = s.toUtf8();
    // A str carries at most 65535 bytes; longer texts are a caller error, cut safely.
    const auto n = std::min<qsizetype>(utf8.size(), 0xFFFF);
    u16(quint16(n));
    m_data.append(utf8.constData(), n);
    return *this;
}

Writer& Writer::bytes(const QByteArray& b)
{
    u32(quint32(b.size()));
    m_data.append(b);
    return *this;
}

Writer& Writer::value(const Value& v)
{
    if (std::holds_alternative<Empty>(v)) {
        u8(0);
    } else if (auto i = std::get_if<qint32>(&v)) {
        u8(1).i32(*i);
    } else if (auto a = std::get_if<QVector<qint16>>(&v)) {
        u8(2).u16(quint16(a->size()));
        for (qint16 x : *a)
            i16(x);
    } else if (auto b = std::get_if<QByteArray>(&v)) {
        u8(3).bytes(*b);
    } else if (auto s = std::get_if<QString>(&v)) {
        u8(4).str(*s);
    }
    return *this;
}

// --- Reader -------------------------------------------------------------------------

bool Reader::need(qsizetype n)
{
    if (!m_ok || n < 0 || m_data.size() - m_pos < n) {
        m_ok = false;
        return false;
    }
    return true;
}

quint8 Reader::u8() { if (!need(1)) return 0; return quint8(getLE(m_data.constData() + m_pos++, 1)); }

quint16 Reader::u16()
{
    if (!need(2)) return 0;
    const auto v = quint16(getLE(m_data.constData() + m_pos, 2));
    m_pos += 2;
    return v;
}

quint32 Reader::u32()
{
    if (!need(4)) return 0;
    const auto v = quint32(getLE(m_data.constData() + m_pos, 4));
    m_pos += 4;
    return v;
}

qint16 Reader::i16() { return qint16(u16()); }
qint32 Reader::i32() { return qint32(u32()); }

QString Reader::str()
{
    const quint16 n = u16();
    if (!need(n)) return {};
    QStringDecoder dec(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = dec.decode(QByteArrayView(m_data.constData() + m_pos, n));
    if (dec.hasError()) {
        m_ok = false;
        return {};
    }
    m_pos += n;
    return s;
}

QByteArray Reader::bytes()
{
    const quint32 n = u32();
    if (!need(qsizetype(n))) return {};
    QByteArray b = m_data.mid(m_pos, qsizetype(n));
    m_pos += qsizetype(n);
    return b;
}

Value Reader::value()
{
    switch (u8()) {
    case 0: return Empty{};
    case 1: return i32();
    case 2: {
        const quint16 n = u16();
        if (!need(qsizetype(n) * 2)) return Empty{};
        QVector<qint16> a;
        a.reserve(n);
        for (quint16 i = 0; i < n; ++i)
            a.append(i16());
        return a;
    }
    case 3: return bytes();
    case 4: return str();
    default:
        m_ok = false;  // also reached when u8() itself ran short
        return Empty{};
    }
}

// --- FrameScanner -------------------------------------------------------------------

void FrameScanner::feed(const QByteArray& bytes)
{
    m_buf.append(bytes);
}

std::optional<Frame> FrameScanner::next()
{
    for (;;) {
        // Scan for the magic; keep a lone trailing 'T' that may start one.
        const qsizetype at = m_buf.indexOf(QByteArrayView("TL", 2));
        if (at < 0) {
            if (m_buf.endsWith(kMagic0))
                m_buf = m_buf.right(1);
            else
                m_buf.clear();
            return std::nullopt;
        }
        if (at > 0)
            m_buf.remove(0, at);
        if (m_buf.size() < kHeaderSize)
            return std::nullopt;

        const char* h = m_buf.constData();
        const quint8 version = quint8(h[2]);
        const quint8 kind = quint8(h[3]);
        const quint32 length = quint32(getLE(h + 8, 4));
        if (version != kVersion || (kind != 1 && kind != 2) || length > kMaxPayload) {
            // A header out of range: drop it and resume one byte after its first byte.
            ++m_dropped;
            m_buf.remove(0, 1);
            continue;
        }
        const qsizetype total = kHeaderSize + qsizetype(length) + 4;
        if (m_buf.size() < total)
            return std::nullopt;  // at most one largest frame is ever waited for

        const quint32 crc = quint32(getLE(h + kHeaderSize + length, 4));
        if (crc != crcOf(h, kHeaderSize + qsizetype(length))) {
            ++m_dropped;
            m_buf.remove(0, 1);
            continue;
        }
        Frame f;
        f.kind = Kind(kind);
        f.seq = quint16(getLE(h + 4, 2));
        f.code = quint8(h[6]);
        f.payload = m_buf.mid(kHeaderSize, qsizetype(length));
        m_buf.remove(0, total);
        return f;
    }
}

void FrameScanner::idle()
{
    // The line went quiet in the middle of a frame: drop the partial frame, so that a
    // damaged length field cannot hold the line.
    if (!m_buf.isEmpty())
        ++m_dropped;
    m_buf.clear();
}

QString statusName(quint8 status)
{
    static const char* const names[] = {"OK", "UNKNOWN_NAME", "MALFORMED", "OUT_OF_RANGE", "DENIED",
                                        "NOT_OPEN", "FAILED", "UNSUPPORTED", "BAD_SIZE"};
    if (status < std::size(names))
        return QString::fromLatin1(names[status]);
    return QStringLiteral("STATUS_%1").arg(status);
}

}  // namespace proto
