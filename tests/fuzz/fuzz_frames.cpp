// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The frame scanner against a plain reading of the receiver rules, fed in pieces whose
// sizes the input chooses, and every frame's payload decoded as each client-side
// response is decoded.
#include "protocol/protocol.h"
#include "tests/support/plainscanner.h"

#include <cstdint>
#include <cstdlib>

using namespace proto;

namespace {

void decodeAsResponses(const QByteArray& payload)
{
    {   // OPEN
        Reader r(payload);
        r.u16();
        r.u32();
        r.str();
        r.str();
        (void)r.atEndOk();
    }
    {   // READ_VALUE, EXECUTE
        Reader r(payload);
        r.value();
        (void)r.atEndOk();
    }
    {   // READ_RECORD
        Reader r(payload);
        r.bytes();
        (void)r.atEndOk();
    }
    {   // RECORD_SIZE, and a status message
        Reader r(payload);
        r.u32();
        Reader m(payload);
        m.str();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int step = 1 + data[0] % 97;
    const QByteArray stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    FrameScanner s;
    const QList<Frame> found = plain::scanInPieces(s, stream, [step] { return step; }, [&s, step] {
        if (s.buffered() > kMaxFrame + step)
            std::abort();
    });
    const QList<Frame> expected = plain::scan(stream);
    if (found.size() != expected.size())
        std::abort();
    for (qsizetype i = 0; i < found.size(); ++i) {
        if (found[i].seq != expected[i].seq || found[i].code != expected[i].code
            || found[i].kind != expected[i].kind || found[i].payload != expected[i].payload)
            std::abort();
        decodeAsResponses(found[i].payload);
    }
    if (s.work() > 64 * quint64(stream.size()) + 4096)
        std::abort();
    return 0;
}
