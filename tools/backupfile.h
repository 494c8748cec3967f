// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// tolvanectl's backup file: every record of one controller, with the controller's id
// and model as it told them at OPEN, a time stamp and a SHA-256 checksum. The layout is
// documented in docs/tolvanectl.md; integers little-endian, texts as u16 byte count and
// UTF-8, byte strings as u32 byte count and the bytes:
//   "TVBACKUP", u16 version (1), text controller id, text model,
//   text time stamp (UTC, ISO 8601), u16 record count, count x (text name, bytes),
//   32 bytes SHA-256 of everything before them.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace backup {

inline constexpr quint16 kVersion = 1;
// No file is larger: six records of real controllers take some 26 KB.
inline constexpr qint64 kLargestFile = 16 * 1024 * 1024;

struct Backup {
    QString controllerId;
    QString model;
    QDateTime taken;  // UTC, whole seconds
    QList<std::pair<QString, QByteArray>> records;  // each record a controller keeps, once
};

QByteArray Encode(const Backup& b);
// nullopt, with the reason in error, for a file that is not a whole, undamaged backup
// of version 1 holding each record a controller keeps exactly once.
std::optional<Backup> Decode(const QByteArray& file, QString* error);

// Written atomically (QSaveFile): the old file stays whole until the new one is.
bool Save(const QString& path, const Backup& b, QString* error);
std::optional<Backup> Load(const QString& path, QString* error);

// The byte ranges [first, last] where a and b (of equal size) differ.
QList<std::pair<int, int>> DifferingRanges(const QByteArray& a, const QByteArray& b);

}  // namespace backup
