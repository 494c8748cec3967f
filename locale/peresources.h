// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Read-only reader of the string-table resources (type 6) of a Portable Executable
// file (PE32 and PE32+), used for the optional language module "LangRes.dll" on every
// platform. The file is only read, never loaded for execution. Every read is
// bounds-checked; a damaged or hostile file yields "not a module" or "block not found".

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <memory>
#include <optional>

class PeStringModule
{
public:
    // Files larger than this are refused; a language module is a few kilobytes.
    static constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

    // nullptr when the file is missing, unreadable or not a PE image with a readable
    // header. An image without string resources still loads (and finds nothing).
    static std::unique_ptr<PeStringModule> fromFile(const QString& path);
    static std::unique_ptr<PeStringModule> fromImage(const QByteArray& image);

    // The bytes of string block blockNo in exactly language lang; nullopt when absent.
    std::optional<QByteArrayView> block(quint16 blockNo, quint16 lang) const;
    qsizetype blockCount() const { return m_blocks.size(); }

private:
    PeStringModule() = default;
    bool parse();

    struct Range {
        qsizetype offset;
        qsizetype size;
    };
    QByteArray m_image;
    QHash<quint32, Range> m_blocks;  // key: block << 16 | language
};
