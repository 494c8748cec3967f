// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "protocol/protocol.h"

#include <QStringDecoder>

#include <algorithm>
#include <iterator>
#include <nettle/sha2.h>
#include <zlib.h>

namespace proto {

namespace {

constexpr char kMagic0 = 0x54, kMagic1 = 0x4C;  // "TL"

// Removes the entries before `first` from a queue kept as a vector and an index: at
// once when none is left, otherwise only once they are most of it, so that each entry
// moves O(1) times.
template <class T>
void dropFront(QVector<T>& queue, qsizetype& first)
{
    if (first == queue.size()) {
        queue.clear();
        first = 0;
    } else if (first > 1024 && first * 2 > queue.size()) {
        queue.remove(0, first);
        first = 0;
    }
}

}  // namespace

void putLE(QByteArray& out, quint64 v, int size)
{
    for (int i = 0; i < size; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

void setLE(QByteArray& out, qsizetype at, quint64 v, int size)
{
    for (int i = 0; i < size; ++i)
        out[at + i] = char((v >> (8 * i)) & 0xFF);
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

FrameScanner::FrameScanner()
{
    reset();
}

void FrameScanner::reset()
{
    m_buf.clear();
    m_base = m_scanned = m_floor = 0;
    m_crc = quint32(::crc32(0L, Z_NULL, 0));
    m_ring[0] = m_crc;
    m_pending.clear();
    m_first = 0;
    m_ends.clear();
    m_badHeads.clear();
    m_badFirst = 0;
}

void FrameScanner::feed(const QByteArray& bytes)
{
    m_buf.append(bytes);
}

bool FrameScanner::hasPartial() const
{
    if (m_first < m_pending.size())
        return true;
    // Unscanned bytes, or the last few scanned ones that may still begin a header.
    const quint64 end = m_base + quint64(m_buf.size());
    for (quint64 p = std::max(m_base, uncheckedHeaders()); p < end; ++p)
        if (p >= m_scanned || at(p) == kMagic0)
            return true;
    return false;
}

qsizetype FrameScanner::buffered() const
{
    quint64 from = uncheckedHeaders();
    if (m_first < m_pending.size())
        from = std::min(from, m_pending[m_first].start);
    from = std::max(from, m_base);
    return qsizetype(m_base + quint64(m_buf.size()) - from);
}

void FrameScanner::step()
{
    const quint64 p = m_scanned;
    const char byte = at(p);
    m_crc = quint32(::crc32(m_crc, reinterpret_cast<const Bytef*>(&byte), 1));
    ++m_work;
    m_scanned = p + 1;
    m_ring[m_scanned % 16] = m_crc;

    // The header that ends with this byte.
    if (m_scanned >= quint64(kHeaderSize) && m_scanned - kHeaderSize >= m_floor) {
        const quint64 h = m_scanned - kHeaderSize;
        if (at(h) == kMagic0 && at(h + 1) == kMagic1) {
            char head[kHeaderSize];
            for (int i = 0; i < kHeaderSize; ++i)
                head[i] = at(h + quint64(i));
            const quint8 version = quint8(head[2]);
            const quint8 kind = quint8(head[3]);
            const quint32 length = quint32(getLE(head + 8, 4));
            if (version != kVersion || (kind != 1 && kind != 2) || length > kMaxPayload) {
                // A header out of range; it counts as dropped unless it lies inside a
                // frame that is still to prove valid.
                if (m_first < m_pending.size())
                    m_badHeads.append(h);
                else
                    ++m_dropped;
            } else {
                const quint64 end = h + kHeaderSize + length + 4;
                m_pending.append({h, end, m_ring[h % 16], 0});
                m_ends.append({end, h});
                std::push_heap(m_ends.begin(), m_ends.end(), std::greater<>());
            }
        }
    }

    // Candidates whose CRC field ends with this byte.
    while (!m_ends.isEmpty() && m_ends.front().first <= m_scanned) {
        const quint64 start = m_ends.front().second;
        std::pop_heap(m_ends.begin(), m_ends.end(), std::greater<>());
        m_ends.removeLast();
        auto it = std::lower_bound(m_pending.begin() + m_first, m_pending.end(), start,
                                   [](const Candidate& c, quint64 s) { return c.start < s; });
        if (it == m_pending.end() || it->start != start)
            continue;  // it lay inside a frame delivered meanwhile
        const quint64 crcAt = it->end - 4;
        char field[4];
        for (int i = 0; i < 4; ++i)
            field[i] = at(crcAt + quint64(i));
        // CRC(stream before crcAt) = combine(CRC(stream before start), CRC(frame), frame
        // length), and combine is linear in its first two arguments.
        const quint32 frameCrc = quint32(m_ring[crcAt % 16]
                                         ^ ::crc32_combine(it->crcBefore, 0, z_off_t(crcAt - start)));
        it->state = frameCrc == quint32(getLE(field, 4)) ? 1 : -1;
        m_work += 64;
    }
}

std::optional<Frame> FrameScanner::next()
{
    for (;;) {
        // The earliest possible frame decides: a later one is never taken before it.
        while (m_first < m_pending.size() && m_pending[m_first].state != 0) {
            const Candidate c = m_pending[m_first++];
            if (c.state < 0) {
                ++m_dropped;  // scanning resumes one byte after its start
                countBadHeads();
                continue;
            }
            Frame f;
            const char* h = m_buf.constData() + (c.start - m_base);
            f.kind = Kind(quint8(h[3]));
            f.seq = quint16(getLE(h + 4, 2));
            f.code = quint8(h[6]);
            f.payload = QByteArray(h + kHeaderSize, qsizetype(c.end - c.start) - kHeaderSize - 4);
            m_work += quint64(f.payload.size());
            // Possible frames that began inside this one are not frames.
            m_floor = c.end;
            while (m_first < m_pending.size() && m_pending[m_first].start < m_floor)
                ++m_first;
            countBadHeads();
            trim();
            return f;
        }
        if (m_scanned == m_base + quint64(m_buf.size())) {
            trim();
            return std::nullopt;
        }
        step();
    }
}

void FrameScanner::countBadHeads()
{
    // Headers out of range before the earliest possible frame lie in no frame: dropped.
    // Those inside a delivered frame were payload.
    const quint64 limit = m_first < m_pending.size() ? m_pending[m_first].start : ~quint64(0);
    for (; m_badFirst < m_badHeads.size() && m_badHeads[m_badFirst] < limit; ++m_badFirst)
        if (m_badHeads[m_badFirst] >= m_floor)
            ++m_dropped;
    dropFront(m_badHeads, m_badFirst);
}

void FrameScanner::trim()
{
    dropFront(m_pending, m_first);
    // Keep what a waiting frame and the headers still to be checked need; move the rest
    // out only when it is at least half the buffer, so that each byte moves O(1) times.
    quint64 keep = std::max(m_floor, uncheckedHeaders());
    keep = std::min(keep, m_scanned);
    if (m_first < m_pending.size())
        keep = std::min(keep, m_pending[m_first].start);
    const qsizetype drop = qsizetype(std::max(keep, m_base) - m_base);
    if (drop > 0 && drop >= m_buf.size() - drop) {
        m_work += quint64(m_buf.size() - drop);
        m_buf.remove(0, drop);
        m_base += quint64(drop);
    }
}

void FrameScanner::idle()
{
    // The line went quiet in the middle of a frame: drop the partial frame, so that a
    // damaged length field cannot hold the line.
    if (hasPartial())
        ++m_dropped;
    const quint64 dropped = m_dropped;
    reset();
    m_dropped = dropped;
}

QByteArray digest(const QByteArray& content)
{
    static_assert(SHA256_DIGEST_SIZE == kDigestSize);
    QByteArray out(kDigestSize, '\0');
    sha256_ctx ctx;
    ::nettle_sha256_init(&ctx);
    ::nettle_sha256_update(&ctx, size_t(content.size()), reinterpret_cast<const uint8_t*>(content.constData()));
    ::nettle_sha256_digest(&ctx, kDigestSize, reinterpret_cast<uint8_t*>(out.data()));
    return out;
}

QString statusName(quint8 status)
{
    static const char* const names[] = {"OK", "UNKNOWN_NAME", "MALFORMED", "OUT_OF_RANGE", "DENIED",
                                        "NOT_OPEN", "FAILED", "UNSUPPORTED", "BAD_SIZE"};
    if (status < std::size(names))
        return QString::fromLatin1(names[status]);
    return QStringLiteral("STATUS_%1").arg(status);
}

QString opcodeName(quint8 opcode)
{
    switch (opcode) {
    case OPEN: return QStringLiteral("OPEN");
    case CLOSE: return QStringLiteral("CLOSE");
    case READ_VALUE: return QStringLiteral("READ_VALUE");
    case RECORD_SIZE: return QStringLiteral("RECORD_SIZE");
    case READ_RECORD: return QStringLiteral("READ_RECORD");
    case WRITE_RECORD: return QStringLiteral("WRITE_RECORD");
    case EXECUTE: return QStringLiteral("EXECUTE");
    case RECORD_DIGEST: return QStringLiteral("RECORD_DIGEST");
    case PATCH_RECORD: return QStringLiteral("PATCH_RECORD");
    default: return QStringLiteral("OP_0x%1").arg(opcode, 2, 16, QLatin1Char('0'));
    }
}

}  // namespace proto
