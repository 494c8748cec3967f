// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The simulated controller's request handling: the input is a series of requests
// (u8 opcode, u8 connection, u16 length, payload) handed to one controller in memory,
// on two connections, as a transport would hand them. Nothing may crash, and every
// answer must be one valid response frame for the request it answers.
#include "sim/simcontroller.h"

#include <cstdint>
#include <cstdlib>

using namespace proto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    sim::SimController ctl(sim::SimConfig{});
    if (!ctl.start(std::nullopt, nullptr))
        std::abort();
    const int conns[2] = {ctl.attach(), ctl.attach()};
    size_t at = 0;
    quint16 seq = 0;
    while (at + 4 <= size) {
        Frame f;
        f.kind = Kind::Request;
        f.code = data[at];
        const int conn = conns[data[at + 1] & 1];
        if (data[at + 1] & 2)
            ++seq;  // otherwise a retry of the same number
        f.seq = seq;
        const size_t n = std::min<size_t>(size - at - 4, size_t(data[at + 2]) | size_t(data[at + 3]) << 8);
        f.payload = QByteArray(reinterpret_cast<const char*>(data + at + 4), qsizetype(n));
        at += 4 + n;
        const sim::Reply reply = ctl.handle(conn, f, qint64(at));
        if (reply.action == sim::Reply::Send) {
            FrameScanner s;
            s.feed(reply.bytes);
            const auto r = s.next();
            if (!r || r->kind != Kind::Response || r->seq != f.seq || s.hasPartial())
                std::abort();
        }
    }
    ctl.detach(conns[0]);
    ctl.detach(conns[1]);
    return 0;
}
