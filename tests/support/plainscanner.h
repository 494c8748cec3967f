// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The receiver's rules read as plainly as they are written: find the magic, check the
// header, wait for the whole frame, check its CRC over the whole frame, resume one byte
// after a dropped frame's first byte. Slow (a CRC over the claimed length per dropped
// start), but obviously right: tests and the fuzzer compare the real scanner with it.

#include "protocol/protocol.h"

#include <functional>
#include <zlib.h>

namespace plain {

inline QList<proto::Frame> scan(const QByteArray& stream)
{
    QList<proto::Frame> out;
    auto le = [&](qsizetype at, int n) {
        quint64 v = 0;
        for (int i = 0; i < n; ++i)
            v |= quint64(quint8(stream[at + i])) << (8 * i);
        return v;
    };
    qsizetype p = 0;
    while (p + proto::kHeaderSize <= stream.size()) {
        if (stream[p] != 'T' || stream[p + 1] != 'L') {
            ++p;
            continue;
        }
        const quint64 length = le(p + 8, 4);
        if (quint8(stream[p + 2]) != proto::kVersion || (stream[p + 3] != 1 && stream[p + 3] != 2)
            || length > proto::kMaxPayload) {
            ++p;
            continue;
        }
        const qsizetype body = proto::kHeaderSize + qsizetype(length);
        if (p + body + 4 > stream.size())
            break;  // waits for the rest
        const quint32 crc = quint32(::crc32(0L, reinterpret_cast<const Bytef*>(stream.constData() + p), uInt(body)));
        if (crc != quint32(le(p + body, 4))) {
            ++p;
            continue;
        }
        proto::Frame f;
        f.kind = proto::Kind(quint8(stream[p + 3]));
        f.seq = quint16(le(p + 4, 2));
        f.code = quint8(stream[p + 6]);
        f.payload = stream.mid(p + proto::kHeaderSize, qsizetype(length));
        out.append(f);
        p += body + 4;
    }
    return out;
}

// Every frame the real scanner yields for the stream, fed in pieces whose sizes
// nextStep() gives, as a transport feeds it; afterEach runs after each piece.
inline QList<proto::Frame> scanInPieces(proto::FrameScanner& s, const QByteArray& stream,
                                        const std::function<int()>& nextStep,
                                        const std::function<void()>& afterEach = {})
{
    QList<proto::Frame> out;
    for (qsizetype at = 0; at < stream.size();) {
        const int step = nextStep();
        s.feed(stream.mid(at, step));
        at += step;
        while (auto f = s.next())
            out.append(*f);
        if (afterEach)
            afterEach();
    }
    return out;
}

}  // namespace plain
