// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// How fast the frame scanner takes bytes, in 64 KiB pieces as the transports feed it:
// clean 4 KB frames, random bytes, "TL" without end, and headers that each claim the
// largest payload (each such header once cost a CRC over 1 MiB). The figure to watch
// is that the floods cost about what clean frames cost per byte.
#include "protocol/protocol.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <cstdio>

using namespace proto;

namespace {

void measure(const char* name, const QByteArray& unit, qint64 total)
{
    QByteArray piece;
    while (piece.size() < 64 * 1024)
        piece += unit;
    FrameScanner s;
    qint64 fed = 0, frames = 0;
    QElapsedTimer t;
    t.start();
    while (fed < total) {
        s.feed(piece);
        fed += piece.size();
        while (s.next())
            ++frames;
    }
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    std::printf("| %s | %.0f | %.1f | %lld |\n", name, double(fed) / 1048576.0 / seconds,
                seconds * 1e9 / double(fed), qlonglong(frames));
}

}  // namespace

int main()
{
    const qint64 total = 256LL * 1024 * 1024;
    std::printf("| stream (256 MiB) | MiB/s | ns per byte | frames found |\n|---|---|---|---|\n");
    measure("clean 4 KB response frames", encodeFrame({Kind::Response, 1, OK, QByteArray(4096, 'x')}), total);
    QByteArray random(64 * 1024, Qt::Uninitialized);
    QRandomGenerator rng(7);
    for (char& c : random)
        c = char(rng.bounded(256));
    measure("random bytes", random, total);
    measure("\"TL\" without end", QByteArray("TL"), total);
    QByteArray claim = QByteArray::fromHex("544c0102000000000000");
    claim += QByteArray::fromHex("1000");
    measure("headers that claim 1 MiB", claim, total);
    return 0;
}
