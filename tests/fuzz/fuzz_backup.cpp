// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// tolvanectl's backup file reader over any content. The input is taken as the file
// itself, and also as its body with the right magic and checksum put around it, so that
// the field reader is reached and not only the checksum. Whatever is accepted holds each
// record once and encodes back to a file that reads the same.
#include "tools/backupfile.h"

#include <QCryptographicHash>

#include <cstdint>
#include <cstdlib>

namespace {

void check(const QByteArray& file)
{
    QString error;
    const std::optional<backup::Backup> b = backup::Decode(file, &error);
    if (!b) {
        if (error.isEmpty())
            std::abort();  // every refusal says why
        return;
    }
    if (b->records.size() != 6)
        std::abort();
    const std::optional<backup::Backup> again = backup::Decode(backup::Encode(*b), &error);
    if (!again || again->records != b->records || again->model != b->model
        || again->controllerId != b->controllerId || again->taken != b->taken)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    check(input);
    QByteArray file = QByteArrayLiteral("TVBACKUP") + input;
    file += QCryptographicHash::hash(file, QCryptographicHash::Sha256);
    check(file);
    return 0;
}
