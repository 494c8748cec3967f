// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The provider's option string and connection text: any text is either refused with
// an engine error or gives options that name a usable link.
#include "controller/engine.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const LinkOptions o = ParseLinkOptions(text);
        if (o.timeoutMs < 1 || o.retries < 0 || o.conn.isEmpty())
            std::abort();
        const ConnectionTarget t = ParseConnectionText(o.conn);
        if (t.serial && (t.baud < 1 || t.dataBits != 8 || t.device.isEmpty()))
            std::abort();
        // What the formatter writes parses back to the same text.
        const std::optional<ConnText> again = ParseConnText(FormatConnText(t));
        if (!again || *again != static_cast<const ConnText&>(t))
            std::abort();
    } catch (const EngineError&) {
    }
    try {
        ParseConnectionText(text);
    } catch (const EngineError&) {
    }
    return 0;
}
