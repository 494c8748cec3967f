// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tools/backupfile.h"

#include "controller/commlink.h"
#include "protocol/protocol.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace backup {

namespace {

const QByteArray kMagic("TVBACKUP");
using proto::kDigestSize;  // the file ends in the SHA-256 of what comes before

bool fail(QString* error, const QString& why)
{
    if (error)
        *error = why;
    return false;
}

std::nullopt_t refuse(QString* error, const QString& why)
{
    fail(error, why);
    return std::nullopt;
}

}  // namespace

QByteArray Encode(const Backup& b)
{
    proto::Writer w;
    w.u16(kVersion).str(b.controllerId).str(b.model)
        .str(b.taken.toUTC().toString(Qt::ISODate)).u16(quint16(b.records.size()));
    for (const auto& [name, bytes] : b.records)
        w.str(name).bytes(bytes);
    QByteArray file = kMagic + w.data();
    return file + proto::digest(file);
}

std::optional<Backup> Decode(const QByteArray& file, QString* error)
{
    if (file.size() > kLargestFile)
        return refuse(error, QStringLiteral("larger than any backup (%1 bytes)").arg(file.size()));
    if (!file.startsWith(kMagic) || file.size() < kMagic.size() + 2 + kDigestSize)
        return refuse(error, QStringLiteral("not a tolvanectl backup file"));
    const QByteArray body = file.first(file.size() - kDigestSize);
    if (proto::digest(body) != file.right(kDigestSize))
        return refuse(error, QStringLiteral("damaged: its checksum does not match its content"));
    proto::Reader r(body.sliced(kMagic.size()));
    const quint16 version = r.u16();
    if (r.ok() && version != kVersion)
        return refuse(error, QStringLiteral("format version %1, this tolvanectl reads version %2")
                               .arg(version).arg(kVersion));
    Backup b;
    b.controllerId = r.str();
    b.model = r.str();
    // Whole seconds in UTC, as written; a reader takes any ISO 8601 time.
    const QDateTime taken = QDateTime::fromString(r.str(), Qt::ISODate);
    if (taken.isValid())
        b.taken = QDateTime::fromSecsSinceEpoch(taken.toSecsSinceEpoch(), Qt::UTC);
    const quint16 count = r.u16();
    QSet<QString> expected;
    for (const char* name : rec::kAllRecords)
        expected.insert(QString::fromLatin1(name));
    for (quint16 i = 0; r.ok() && i < count; ++i) {
        const QString name = r.str();
        const QByteArray bytes = r.bytes();
        if (r.ok() && !expected.remove(name))
            return refuse(error, QStringLiteral("unknown or repeated record '%1'").arg(name));
        b.records.append({name, bytes});
    }
    if (!r.atEndOk() || !b.taken.isValid())
        return refuse(error, QStringLiteral("malformed content"));
    if (!expected.isEmpty())
        return refuse(error, QStringLiteral("record %1 is missing").arg(*expected.cbegin()));
    return b;
}

bool Save(const QString& path, const Backup& b, QString* error)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(error, out.errorString());
    const QByteArray bytes = Encode(b);
    errno = 0;
    if (out.write(bytes) != bytes.size() || !out.commit()) {
        // A full disk fails the commit's flush, which Qt reports as "Unknown error":
        // the system's reason is still in errno.
        const int cause = errno;
        const QString why = out.errorString();
        return fail(error, cause != 0 && (why.isEmpty() || why == QLatin1String("Unknown error"))
                               ? QString::fromLocal8Bit(std::strerror(cause))
                               : why);
    }
    return true;
}

std::optional<Backup> Load(const QString& path, QString* error)
{
    // What is checked is what was opened, so that nothing can be swapped in between: the
    // open neither waits (a pipe would hold it until a writer comes) nor follows a link,
    // and only a regular file is read (a device may never end).
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return refuse(error, errno == ELOOP ? QStringLiteral("is a symbolic link; name the backup file itself")
                                            : QString::fromLocal8Bit(std::strerror(errno)));
    struct stat info {};
    QFile in;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return refuse(error, QStringLiteral("is not a regular file (a pipe, a device or a folder)"));
    }
    if (!in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(error, in.errorString());
    }
    // Never more than the largest backup plus one byte, whatever the file holds.
    const QByteArray bytes = in.read(kLargestFile + 1);
    if (in.error() != QFileDevice::NoError)
        return refuse(error, in.errorString());
    return Decode(bytes, error);
}

QList<std::pair<int, int>> DifferingRanges(const QByteArray& a, const QByteArray& b)
{
    QList<std::pair<int, int>> ranges;
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (a[i] == b[i])
            continue;
        if (!ranges.isEmpty() && ranges.last().second == int(i) - 1)
            ranges.last().second = int(i);
        else
            ranges.append({int(i), int(i)});
    }
    return ranges;
}

}  // namespace backup
