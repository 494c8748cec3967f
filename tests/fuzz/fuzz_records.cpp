// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The two settings records: any record decodes or is refused, and a record written back
// keeps its size and every byte outside the fields the wizard writes.
#include "controller/commlink.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>

namespace {

// Offsets of the bytes the wizard may write, [from, to).
bool written(qsizetype i, bool token, int device)
{
    if (token)
        return i >= 23972 && i < 23980;
    const auto in = [i](int from) { return i >= from && i < from + 4; };
    if (device == 0)
        return in(116) || in(44) || in(120) || in(124);
    if (device == 1)
        return in(116) || in(44) || (i >= 48 && i < 68);
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int device = int(data[0] % 3);
    QByteArray record(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if (data[0] & 0x80)
        record.append(QByteArray(23980, '\x5a'));  // reach the token's offsets too
    for (const bool token : {false, true}) {
        CommSettings s;
        try {
            if (token)
                DecodeToken(record, s);
            else
                DecodeRawCom(record, s);
        } catch (const std::exception&) {
            continue;  // refused: a short record, or a field that overflows
        }
        QByteArray out;
        try {
            out = token ? EncodeToken(record, s) : EncodeRawCom(record, s, device);
        } catch (const std::exception&) {
            continue;
        }
        if (out.size() != record.size())
            std::abort();
        for (qsizetype i = 0; i < out.size(); ++i)
            if (out[i] != record[i] && !written(i, token, device))
                std::abort();
    }
    return 0;
}
