// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "sim/simstate.h"

#include "controller/recordlayout.h"
#include "protocol/protocol.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr char kMagic[8] = {'T', 'L', 'V', 'S', 'I', 'M', 'S', 'T'};
constexpr quint32 kStateVersion = 1;

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
    QStringList names;
    for (const char* name : rec::kAllRecords)
        names << QString::fromLatin1(name);
    return names;
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
    QByteArray& com = st.records[QString::fromLatin1(rec::kRawCom)];
    rec::PutU32(com, rec::kRs232cUsage, 0);
    rec::PutU32(com, rec::kBaud, 38400);
    rec::PutU32(com, rec::kParity, 1);      // none
    rec::PutU32(com, rec::kDataLength, 8);
    rec::PutU32(com, rec::kStopBits, 0);    // one
    rec::PutU32(com, rec::kDelimiter, 0);   // CR
    rec::PutU32(com, rec::kEthernetUsage, 2);
    rec::PutReversed(com, rec::kIpAddress, {192, 168, 0, 1});
    rec::PutReversed(com, rec::kSubnetMask, {255, 255, 255, 0});

    // Executable token "Open" (0xFFFF) for 192.168.0.10.
    QByteArray& back = st.records[QString::fromLatin1(rec::kBackPrm)];
    rec::PutU32(back, rec::kTokenCode, 0xFFFF);
    rec::PutAddress(back, rec::kTokenIp, {192, 168, 0, 10});
    return st;
}

QByteArray encodeState(const ControllerState& st)
{
    QByteArray out(kMagic, sizeof kMagic);
    proto::putLE(out, kStateVersion, 4);
    proto::putLE(out, quint32(st.errorCode), 4);
    proto::putLE(out, quint32(st.records.size()), 4);
    for (auto it = st.records.cbegin(); it != st.records.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        proto::putLE(out, quint32(name.size()), 2);
        out.append(name);
        proto::putLE(out, quint32(it.value().size()), 4);
        out.append(it.value());
    }
    proto::putLE(out, proto::crcOf(out.constData(), out.size()), 4);
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
    if (proto::getLE(data.constData() + body, 4) != proto::crcOf(data.constData(), body))
        return fail(QStringLiteral("state file is damaged (checksum mismatch)"));
    qsizetype pos = sizeof kMagic;
    if (proto::getLE(data.constData() + pos, 4) != kStateVersion)
        return fail(QStringLiteral("unsupported state file version"));
    ControllerState out;
    out.errorCode = qint32(proto::getLE(data.constData() + pos + 4, 4));
    const quint32 count = proto::getLE(data.constData() + pos + 8, 4);
    pos += 12;
    for (quint32 i = 0; i < count; ++i) {
        if (body - pos < 2)
            return fail(QStringLiteral("state file is truncated"));
        const auto nameLen = qsizetype(proto::getLE(data.constData() + pos, 2));
        pos += 2;
        if (body - pos < nameLen + 4)
            return fail(QStringLiteral("state file is truncated"));
        const QString name = QString::fromUtf8(data.mid(pos, nameLen));
        pos += nameLen;
        const auto size = qsizetype(proto::getLE(data.constData() + pos, 4));
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
