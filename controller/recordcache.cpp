// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/recordcache.h"

#include "protocol/protocol.h"
#include "settings/modFile.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QStandardPaths>

#include <algorithm>
#include <vector>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr qint64 kBlock = 4096;
// A temporary file this old was left by a writer that died before its rename.
constexpr qint64 kStaleTempSeconds = 3600;

qint64 charged(qint64 size) { return std::max<qint64>(kBlock, (size + kBlock - 1) / kBlock * kBlock); }

bool isEntryName(const char* name)
{
    int n = 0;
    for (; name[n]; ++n) {
        const char c = name[n];
        if (n >= 2 * proto::kDigestSize || !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return n == 2 * proto::kDigestSize;
}

}  // namespace

QString RecordCache::defaultFolder()
{
    const QString base = UserBaseFolder("XDG_CACHE_HOME", "/.cache", "LOCALAPPDATA");
    if (base.isEmpty())
        return QString();
    return QDir::cleanPath(base + QStringLiteral("/Tolvane/records"));
}

#ifdef Q_OS_UNIX

struct RecordCache::Private {
    int dir = -1;
    qint64 limit = kDefaultLimit;
    // What the session kept, by digest, written when it ends: off the path of its reads.
    struct Kept {
        QByteArray content;
        timespec used;  // when it was kept: its place in the least-recently-used order
    };
    QHash<QByteArray, Kept> pending;
    qint64 pendingBytes = 0;

    void write(const QByteArray& name, const Kept& kept) const;

    void drop(const char* name) const { ::unlinkat(dir, name, 0); }

    struct Entry {
        timespec used;
        qint64 size;
        QByteArray name;
    };
    std::vector<Entry> entries() const;
    void evict() const;
};

namespace {

// Makes each missing folder of path with mode 0700, as the XDG rules ask for.
bool makeFolders(const QString& path)
{
    const QByteArray p = QFile::encodeName(path);
    for (qsizetype i = 1; i <= p.size(); ++i) {
        if (i < p.size() && p[i] != '/')
            continue;
        const QByteArray part = p.left(i);
        if (::mkdir(part.constData(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Now, to the nanosecond: the kernel's own file times are coarser, and two uses within
// one tick must still have an order.
timespec now()
{
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return t;
}

bool earlier(const timespec& a, const timespec& b)
{
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

// Reading and writing go through QFile on the descriptor opened here, which handles
// short transfers and interrupted calls.
bool writeAll(int fd, const QByteArray& data)
{
    QFile file;
    return file.open(fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle) && file.write(data) == data.size()
           && file.flush();
}

}  // namespace

RecordCache::RecordCache(const QString& folder, qint64 limitBytes)
    : d(std::make_unique<Private>())
{
    d->limit = limitBytes;
    if (folder.isEmpty() || !QDir::isAbsolutePath(folder))
        return;
    // The folder itself must not be a link: its entries are opened relative to it.
    const QByteArray path = QFile::encodeName(folder);
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::open(path.constData(), flags);
    if (fd < 0 && errno == ENOENT && makeFolders(folder))
        fd = ::open(path.constData(), flags);
    if (fd < 0)
        return;
    struct stat st { };
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()
        || ((st.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0)) {
        ::close(fd);
        return;
    }
    d->dir = fd;
}

RecordCache::~RecordCache()
{
    if (d->dir < 0)
        return;
    for (auto it = d->pending.cbegin(); it != d->pending.cend(); ++it)
        d->write(it.key(), it.value());
    // Also after a session that kept nothing: the folder may have been filled from outside.
    d->evict();
    ::close(d->dir);
}

std::optional<QByteArray> RecordCache::find(const QByteArray& digest, quint32 size)
{
    if (d->dir < 0 || digest.size() != proto::kDigestSize)
        return std::nullopt;
    const QByteArray name = digest.toHex();
    // O_NONBLOCK: a FIFO under an entry's name must not stall the open.
    const int fd = ::openat(d->dir, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT)
            d->drop(name.constData());  // a link, or a file we may not read
        return std::nullopt;
    }
    struct stat st { };
    QByteArray content;
    // An entry with a second name is shared with a file outside: not ours, and its time
    // must not be touched.
    bool whole = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 && quint64(st.st_size) == size;
    if (whole) {
        QFile file;
        whole = file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle);
        content = whole ? file.read(qint64(size)) : QByteArray();
        whole = whole && quint64(content.size()) == size;
    }
    if (!whole || proto::digest(content) != digest) {
        ::close(fd);
        d->drop(name.constData());
        return std::nullopt;
    }
    const timespec times[2] = {now(), now()};
    ::futimens(fd, times);
    ::close(fd);
    return content;
}

void RecordCache::keep(const QByteArray& content, const QByteArray& digest)
{
    if (d->dir < 0 || digest.size() != proto::kDigestSize || charged(content.size()) > d->limit)
        return;
    // A session that keeps more than the bound (a long one, writing again and again)
    // starts its list again: the latest contents are the ones worth keeping.
    if (d->pendingBytes + charged(content.size()) > d->limit) {
        d->pending.clear();
        d->pendingBytes = 0;
    }
    const QByteArray name = digest.toHex();
    if (!d->pending.contains(name))
        d->pendingBytes += charged(content.size());
    d->pending.insert(name, Private::Kept{content, now()});
}

void RecordCache::Private::write(const QByteArray& name, const Kept& kept) const
{
    const QByteArray& content = kept.content;
    const timespec times[2] = {kept.used, kept.used};
    struct stat st { };
    if (::fstatat(dir, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1
        && st.st_size == content.size()) {
        // Kept already: only its use is new. A damaged one is found out when it is read.
        ::utimensat(dir, name.constData(), times, AT_SYMLINK_NOFOLLOW);
        return;
    }
    const QByteArray temp = "tmp." + name + '.' + QByteArray::number(qint64(::getpid()));
    ::unlinkat(dir, temp.constData(), 0);  // left by an earlier process of this number
    const int fd = ::openat(dir, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    // No fsync: after a crash a cut entry fails its digest check and is read again.
    const bool written = writeAll(fd, content) && ::futimens(fd, times) == 0;
    if (::close(fd) != 0 || !written || ::renameat(dir, temp.constData(), dir, name.constData()) != 0)
        drop(temp.constData());
}

std::vector<RecordCache::Private::Entry> RecordCache::Private::entries() const
{
    std::vector<Entry> out;
    const int fd = ::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!listing) {
        if (fd >= 0)
            ::close(fd);
        return out;
    }
    const time_t staleBefore = now().tv_sec - kStaleTempSeconds;
    while (const dirent* e = ::readdir(listing)) {
        struct stat st { };
        const bool entry = isEntryName(e->d_name);
        if (!entry && std::strncmp(e->d_name, "tmp.", 4) != 0)
            continue;  // not ours
        if (::fstatat(dir, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        if (!entry) {
            if (S_ISREG(st.st_mode) && st.st_mtim.tv_sec < staleBefore)
                drop(e->d_name);
        } else if (!S_ISREG(st.st_mode)) {
            if (!S_ISDIR(st.st_mode))
                drop(e->d_name);  // a link or a FIFO under an entry's name
        } else {
            out.push_back({st.st_mtim, charged(st.st_size), QByteArray(e->d_name)});
        }
    }
    ::closedir(listing);
    return out;
}

void RecordCache::Private::evict() const
{
    std::vector<Entry> all = entries();
    qint64 total = 0;
    for (const Entry& e : all)
        total += e.size;
    if (total <= limit)
        return;
    std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) {
        return earlier(a.used, b.used) || (!earlier(b.used, a.used) && a.name < b.name);
    });
    for (const Entry& e : all) {
        if (total <= limit)
            break;
        drop(e.name.constData());
        total -= e.size;
    }
}

qint64 RecordCache::size() const
{
    qint64 total = 0;
    if (d->dir >= 0)
        for (const Private::Entry& e : d->entries())
            total += e.size;
    return total;
}

#else  // not Q_OS_UNIX: nothing is kept, every read moves its records

struct RecordCache::Private { };
RecordCache::RecordCache(const QString&, qint64)
    : d(std::make_unique<Private>())
{ }
RecordCache::~RecordCache() = default;
std::optional<QByteArray> RecordCache::find(const QByteArray&, quint32) { return std::nullopt; }
void RecordCache::keep(const QByteArray&, const QByteArray&) { }
qint64 RecordCache::size() const { return 0; }

#endif
