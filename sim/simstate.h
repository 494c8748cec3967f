// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The simulated controller's durable state: its records and its error code, and the
// state file that keeps them across restarts and power cuts.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace sim {

struct ControllerState {
    QMap<QString, QByteArray> records;  // by record name
    qint32 errorCode = 0;
    bool operator==(const ControllerState&) const = default;
};

// The names of the records a controller keeps, in a fixed order.
QStringList recordNames();

// The records of a factory-new controller: every byte the settings do not use holds a
// fixed non-zero pattern that differs per record, so that a record written back "as
// read" can be told from one rebuilt from zeros.
ControllerState defaultState();

// The filler byte at index i of the record with the given position in recordNames().
quint8 patternByte(int recordIndex, qsizetype i);

// State file format (all integers little-endian):
//   "TLVSIMST" magic (8 bytes), u32 version 1, i32 error code, u32 record count,
//   per record: u16 name length, UTF-8 name, u32 size, the bytes;
//   u32 CRC-32 of everything before it.
QByteArray encodeState(const ControllerState& st);
bool decodeState(const QByteArray& data, ControllerState* st, QString* error);

// Six records of at most 1 MiB each, with their names: no state file is larger.
inline constexpr qint64 kMaxStateFileBytes = 8 * 1024 * 1024;

// Reads a state file; false with a reason when it is missing, unreadable, damaged, not a
// regular file or larger than kMaxStateFileBytes.
bool loadStateFile(const QString& path, ControllerState* st, QString* error);

// Writes the state so that a crash at any moment leaves the old or the new file, never
// a mix: a temporary file in the same folder is written and fsync'ed, renamed over the
// target, and the folder is fsync'ed so that the rename itself survives a power cut.
bool saveStateFile(const QString& path, const ControllerState& st, QString* error);

}  // namespace sim
