// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// String blocks in the Windows string-table layout: 16 entries in a row, each a
// little-endian 16-bit length in UTF-16 code units followed by that many code units.
// Block number = id / 16 + 1, position = id % 16. Internal to the locale library and
// its tests.

#include <QString>
#include <QtGlobal>
#include <span>

struct StringBlockRef {
    quint16 block;
    quint16 lang;
    const unsigned char* data;
    quint32 size;
};

// The program's own table, generated at build time from locale/strings.txt.
std::span<const StringBlockRef> OwnStringBlocks();

// The text at position index (0..15) of a block. Every read is checked against size:
// a short or damaged block gives the empty text for what it cannot hold.
QString StringFromBlock(const unsigned char* data, qsizetype size, int index);
