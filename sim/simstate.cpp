// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "sim/simstate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace sim {

namespace {

constexpr char kMagic[8] = {'T', 'L', 'V', 'S', 'I', 'M', 'S', 'T'};
constexpr quint32 kStateVersion = 1;

void putU32(QByteArray& a, qsizetype at, quint32 v)
{
    for (int k = 0; k < 4; ++k)
        a[at + k] = char((v >> (8 * k)) & 0xFF);
}

void appendLE(QByteArray& out, quint32 v, int size)
{
    for (int k = 0; k < size; ++k)
        out.append(char((v >> (8 * k)) & 0xFF));
}

quint32 readLE(const QByteArray& in, qsizetype at, int size)
{
    quint32 v = 0;
    for (int k = 0; k < size; ++k)
        v |= quint32(quint8(in[at + k])) << (8 * k);
    return v;
}

quint32 crcOf(const char* p, qsizetype n)
{
    return quint32(::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(p), uInt(n)));
}

QString errnoText() { return QString::fromLocal8Bit(std::strerror(errno)); }

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

}  // namespace

QStringList recordNames()
{
    return {QStringLiteral("@CNF_RAW_COM"), QStringLiteral("@CNF_BACKPRM"),
            QStringLiteral("@CNF_HOST_PARM"), QStringLiteral("@DAT_OPTION"),
            QStringLiteral("@DAT_TSRPARAM"), QStringLiteral("@LST_PACOPTION")};
}

quint8 patternByte(int recordIndex, qsizetype i)
{
    return quint8((i * 37 + 11 + 53 * recordIndex) % 251 + 1);
}

ControllerState defaultState()
{
    static const qsizetype sizes[] = {256, 24576, 320, 384, 448, 512};
    ControllerState st;
    const QStringList names = recordNames();
    for (int r = 0; r < names.size(); ++r) {
        QByteArray rec(sizes[r], '\0');
        for (qsizetype i = 0; i < rec.size(); ++i)
            rec[i] = char(patternByte(r, i));
        st.records.insert(names[r], rec);
    }

    // A factory-new controller talks over Ethernet at 192.168.0.1/24; the RS232C port
    // is set to 38400 8N1 with CR as delimiter but is not the permission device.
    QByteArray& com = st.records[QStringLiteral("@CNF_RAW_COM")];
    putU32(com, 44, 0);       // RS232C usage
    putU32(com, 48, 38400);   // baud rate
    putU32(com, 52, 1);       // parity: none
    putU32(com, 56, 8);       // data length
    putU32(com, 60, 0);       // stop bits: one
    putU32(com, 64, 0);       // delimiter: CR
    putU32(com, 116, 2);      // Ethernet usage
    // The address is kept as one number, so its first octet sits in the highest byte.
    const quint8 ip[4] = {1, 0, 168, 192}, mask[4] = {0, 255, 255, 255};
    for (int k = 0; k < 4; ++k) {
        com[120 + k] = char(ip[k]);
        com[124 + k] = char(mask[k]);
    }

    // Executable token "Open" (0xFFFF); the token address is kept in octet order.
    QByteArray& back = st.records[QStringLiteral("@CNF_BACKPRM")];
    const quint8 token[8] = {0xFF, 0xFF, 0, 0, 192, 168, 0, 10};
    for (int k = 0; k < 8; ++k)
        back[23972 + k] = char(token[k]);
    return st;
}

QByteArray encodeState(const ControllerState& st)
{
    QByteArray out(kMagic, sizeof kMagic);
    appendLE(out, kStateVersion, 4);
    appendLE(out, quint32(st.errorCode), 4);
    appendLE(out, quint32(st.records.size()), 4);
    for (auto it = st.records.cbegin(); it != st.records.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        appendLE(out, quint32(name.size()), 2);
        out.append(name);
        appendLE(out, quint32(it.value().size()), 4);
        out.append(it.value());
    }
    appendLE(out, crcOf(out.constData(), out.size()), 4);
    return out;
}

bool decodeState(const QByteArray& data, ControllerState* st, QString* error)
{
    auto fail = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (data.size() < qsizetype(sizeof kMagic) + 16 || !data.startsWith(QByteArray(kMagic, sizeof kMagic)))
        return fail(QStringLiteral("not a tolvane-sim state file"));
    const qsizetype body = data.size() - 4;
    if (readLE(data, body, 4) != crcOf(data.constData(), body))
        return fail(QStringLiteral("state file is damaged (checksum mismatch)"));
    qsizetype pos = sizeof kMagic;
    if (readLE(data, pos, 4) != kStateVersion)
        return fail(QStringLiteral("unsupported state file version"));
    ControllerState out;
    out.errorCode = qint32(readLE(data, pos + 4, 4));
    const quint32 count = readLE(data, pos + 8, 4);
    pos += 12;
    for (quint32 i = 0; i < count; ++i) {
        if (body - pos < 2)
            return fail(QStringLiteral("state file is truncated"));
        const qsizetype nameLen = readLE(data, pos, 2);
        pos += 2;
        if (body - pos < nameLen + 4)
            return fail(QStringLiteral("state file is truncated"));
        const QString name = QString::fromUtf8(data.mid(pos, nameLen));
        pos += nameLen;
        const qsizetype size = readLE(data, pos, 4);
        pos += 4;
        if (body - pos < size)
            return fail(QStringLiteral("state file is truncated"));
        out.records.insert(name, data.mid(pos, size));
        pos += size;
    }
    if (pos != body)
        return fail(QStringLiteral("state file has trailing bytes"));
    const QStringList names = recordNames();
    for (const QString& n : names) {
        if (!out.records.contains(n))
            return fail(QStringLiteral("state file lacks record %1").arg(n));
    }
    if (out.records.size() != names.size())
        return fail(QStringLiteral("state file holds an unknown record"));
    *st = out;
    return true;
}

bool loadStateFile(const QString& path, ControllerState* st, QString* error)
{
    // Only a regular file of a size a state can have: a named pipe would hold the start
    // for ever, and a device or a huge (or sparse) file would be read without end.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        if (error)
            *error = QStringLiteral("not a regular file");
        return false;
    }
    if (info.size() > kMaxStateFileBytes) {
        if (error)
            *error = QStringLiteral("%1 bytes, larger than any state file (at most %2)").arg(info.size()).arg(kMaxStateFileBytes);
        return false;
    }
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = f.errorString();
        return false;
    }
    const QByteArray data = f.read(kMaxStateFileBytes + 1);
    if (f.error() != QFileDevice::NoError) {
        if (error)
            *error = f.errorString();
        return false;
    }
    if (data.size() > kMaxStateFileBytes) {
        if (error)
            *error = QStringLiteral("larger than any state file (at most %1 bytes)").arg(kMaxStateFileBytes);
        return false;
    }
    return decodeState(data, st, error);
}

bool saveStateFile(const QString& path, const ControllerState& st, QString* error)
{
    const QFileInfo info(path);
    const QString dir = info.absolutePath();
    const QByteArray tmp = QFile::encodeName(dir + QStringLiteral("/.") + info.fileName()
                                             + QStringLiteral(".tmp"));
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    auto fail = [error](const QString& what) {
        if (error)
            *error = what + QStringLiteral(": ") + errnoText();
        return false;
    };

    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(QStringLiteral("cannot create %1").arg(QString::fromLocal8Bit(tmp)));
    if (!writeAll(fd, encodeState(st)) || ::fsync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        ::unlink(tmp.constData());
        errno = saved;
        return fail(QStringLiteral("cannot write %1").arg(QString::fromLocal8Bit(tmp)));
    }
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(tmp.constData());
        errno = saved;
        return fail(QStringLiteral("cannot close %1").arg(QString::fromLocal8Bit(tmp)));
    }
    if (::rename(tmp.constData(), target.constData()) != 0) {
        const int saved = errno;
        ::unlink(tmp.constData());
        errno = saved;
        return fail(QStringLiteral("cannot rename onto %1").arg(path));
    }
    // The rename is in the folder's entries: sync the folder, or a power cut may lose it.
    const int dfd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return fail(QStringLiteral("cannot open folder %1").arg(dir));
    const bool synced = ::fsync(dfd) == 0;
    const int saved = errno;
    ::close(dfd);
    errno = saved;
    if (!synced)
        return fail(QStringLiteral("cannot sync folder %1").arg(dir));
    return true;
}

}  // namespace sim
