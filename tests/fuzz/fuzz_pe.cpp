// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The language module's resource reader: any image either fails to load or gives
// string blocks that lie inside it, and every string of every block decodes safely.
#include "locale/peresources.h"
#include "locale/stringblocks.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray image(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto m = PeStringModule::fromImage(image);
    if (!m)
        return 0;
    if (m->blockCount() > 65536)
        std::abort();
    for (quint16 blockNo = 1; blockNo <= 1024; ++blockNo) {
        for (quint16 lang : {quint16(1033), quint16(1041), quint16(0)}) {
            const auto b = m->block(blockNo, lang);
            if (!b)
                continue;
            if (b->data() < image.constData() || b->data() + b->size() > image.constData() + image.size())
                std::abort();
            for (int i = 0; i < 16; ++i)
                StringFromBlock(reinterpret_cast<const unsigned char*>(b->data()), b->size(), i);
        }
    }
    return 0;
}
