// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Record contents kept on disk between sessions, keyed by their SHA-256, so that a
// controller read before need not send its records again. An entry is only ever a
// candidate: the engine takes it when the controller has just confirmed that digest in
// this session (RECORD_DIGEST), and only after its bytes hash to it again here.
//
// The folder belongs to the user alone (0700, owned by the user; a folder anyone else
// may write to is not used), entries are 0600 files named by the digest in hex, written
// under a temporary name and renamed into place. Everything happens relative to the
// folder's open descriptor, never following a link, so nothing outside the folder is
// read, written or removed; an entry that is no regular file of the expected size, or
// whose bytes do not hash to its name, is removed. The cache is best effort: any failure
// (a folder that cannot be made or written, a full disk) leaves the read as it would be
// without it.

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

class RecordCache {
public:
    // The bound of the entries' total size; each entry counts at least one 4 KiB block,
    // what it takes on disk. About 1,300 controllers' settings records.
    static constexpr qint64 kDefaultLimit = 32 * 1024 * 1024;

    // Opens (and makes, 0700) folder; an unusable folder gives a cache that holds nothing.
    explicit RecordCache(const QString& folder, qint64 limitBytes = kDefaultLimit);
    ~RecordCache();
    RecordCache(const RecordCache&) = delete;
    RecordCache& operator=(const RecordCache&) = delete;

    // $XDG_CACHE_HOME/Tolvane/records (by default ~/.cache/Tolvane/records);
    // %LOCALAPPDATA%\Tolvane\records on Windows. Empty when there is no such place.
    static QString defaultFolder();

    // The content of `size` bytes whose SHA-256 is digest, or nothing. A hit counts as a
    // use for the least-recently-used order.
    std::optional<QByteArray> find(const QByteArray& digest, quint32 size);
    // Keeps content under digest, its SHA-256 as far as the caller knows: find checks it
    // again. What a session keeps is written when the cache object ends (the link's
    // close), off the path of the reads; then the least recently used entries beyond the
    // bound are removed.
    void keep(const QByteArray& content, const QByteArray& digest);
    // The entries' total size as the bound counts it.
    qint64 size() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
