// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "locale/peresources.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <vector>

namespace {

constexpr quint32 kStringTableType = 6;
constexpr quint32 kSubdirectoryFlag = 0x80000000u;
constexpr quint32 kNameIsStringFlag = 0x80000000u;
// Limits against hostile files: the loader's own section limit is far lower, and a
// string-table tree has exactly three levels (type, block, language).
constexpr quint32 kMaxSections = 96;
constexpr quint32 kMaxEntriesPerDirectory = 4096;
constexpr quint32 kMaxEntriesTotal = 65536;

struct Section {
    quint64 virtualAddress;
    quint64 virtualSize;
    quint64 rawSize;
    quint64 rawOffset;
};

// Little-endian reads that refuse anything outside the image.
class Reader
{
public:
    explicit Reader(const QByteArray& bytes)
        : m_data(reinterpret_cast<const unsigned char*>(bytes.constData())),
          m_size(static_cast<quint64>(bytes.size()))
    {
    }
    quint64 size() const { return m_size; }
    bool has(quint64 offset, quint64 length) const
    {
        return offset <= m_size && length <= m_size - offset;
    }
    std::optional<quint16> u16(quint64 offset) const
    {
        if (!has(offset, 2))
            return std::nullopt;
        return static_cast<quint16>(m_data[offset] | (m_data[offset + 1] << 8));
    }
    std::optional<quint32> u32(quint64 offset) const
    {
        if (!has(offset, 4))
            return std::nullopt;
        return static_cast<quint32>(m_data[offset]) | (static_cast<quint32>(m_data[offset + 1]) << 8)
               | (static_cast<quint32>(m_data[offset + 2]) << 16)
               | (static_cast<quint32>(m_data[offset + 3]) << 24);
    }

private:
    const unsigned char* m_data;
    quint64 m_size;
};

// File offset of [rva, rva + length) when it lies wholly in one section's raw data.
std::optional<quint64> rvaToOffset(const std::vector<Section>& sections, const Reader& r, quint64 rva,
                                   quint64 length)
{
    for (const Section& s : sections) {
        if (rva < s.virtualAddress)
            continue;
        const quint64 delta = rva - s.virtualAddress;
        if (delta >= s.rawSize || length > s.rawSize - delta)
            continue;
        const quint64 offset = s.rawOffset + delta;
        if (!r.has(offset, length))
            return std::nullopt;
        return offset;
    }
    return std::nullopt;
}

} // namespace

std::unique_ptr<PeStringModule> PeStringModule::fromFile(const QString& path)
{
    // Only a regular file: opening a named pipe would wait for a writer for ever, and a
    // device never ends.
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return nullptr;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const qint64 size = file.size();
    if (size <= 0 || size > kMaxFileSize)
        return nullptr;
    QByteArray image = file.read(kMaxFileSize + 1);
    if (image.size() != size)
        return nullptr;
    return fromImage(image);
}

std::unique_ptr<PeStringModule> PeStringModule::fromImage(const QByteArray& image)
{
    std::unique_ptr<PeStringModule> module(new PeStringModule);
    module->m_image = image;
    if (!module->parse())
        return nullptr;
    return module;
}

std::optional<QByteArrayView> PeStringModule::block(quint16 blockNo, quint16 lang) const
{
    const auto it = m_blocks.constFind((quint32(blockNo) << 16) | lang);
    if (it == m_blocks.constEnd())
        return std::nullopt;
    return QByteArrayView(m_image.constData() + it->offset, it->size);
}

namespace {

// What the headers say: the sections and where the optional header and its data
// directory count lie.
struct ImageLayout {
    std::vector<Section> sections;
    quint64 optional = 0;
    quint16 optionalSize = 0;
    quint64 dirCountAt = 0;  // offset of the directory count in the optional header
};

// The DOS, PE and optional headers and the section table; nullopt for an image the
// system would not load.
std::optional<ImageLayout> readLayout(const Reader& r)
{
    // DOS header: "MZ", and the offset of the PE header at 0x3C.
    if (r.u16(0) != quint16(0x5A4D))
        return std::nullopt;
    const auto peOffset = r.u32(0x3C);
    if (!peOffset || r.u32(*peOffset) != quint32(0x00004550))  // "PE\0\0"
        return std::nullopt;
    const quint64 coff = quint64(*peOffset) + 4;
    const auto sectionCount = r.u16(coff + 2);
    const auto optionalSize = r.u16(coff + 16);
    if (!sectionCount || !optionalSize || *sectionCount > kMaxSections)
        return std::nullopt;
    ImageLayout layout;
    layout.optional = coff + 20;
    layout.optionalSize = *optionalSize;
    const auto magic = r.u16(layout.optional);
    if (!magic || !r.has(layout.optional, *optionalSize))
        return std::nullopt;
    if (*magic == 0x10B)  // PE32
        layout.dirCountAt = 92;
    else if (*magic == 0x20B)  // PE32+
        layout.dirCountAt = 108;
    else
        return std::nullopt;
    // The section table follows the optional header whatever its declared content.
    const quint64 sectionTable = layout.optional + *optionalSize;
    if (!r.has(sectionTable, quint64(*sectionCount) * 40))
        return std::nullopt;
    for (quint32 i = 0; i < *sectionCount; ++i) {
        const quint64 at = sectionTable + quint64(i) * 40;
        layout.sections.push_back({*r.u32(at + 12), *r.u32(at + 8), *r.u32(at + 16), *r.u32(at + 20)});
        // An image cut short, or one whose section data lies past its end, is not a
        // module the system would load: the program's own texts serve instead.
        if (!r.has(layout.sections.back().rawOffset, layout.sections.back().rawSize))
            return std::nullopt;
    }
    return layout;
}

// The resource directory tree: offsets are relative to the root and stay inside the
// root's section; each directory is walked once and the entries are counted, so that
// neither a loop nor a huge count in a hostile file costs more than the limits.
struct ResourceTree {
    const Reader& r;
    quint64 rootOffset = 0;
    quint64 rootLimit = 0;  // bytes available from the root to the end of its section
    QSet<quint32> visited;
    quint32 entriesSeen = 0;

    // Entries of the directory at relative offset dir; false when it is unreadable.
    bool entries(quint32 dir, std::vector<std::pair<quint32, quint32>>& out)
    {
        out.clear();
        if (visited.contains(dir) || quint64(dir) + 16 > rootLimit)
            return false;
        visited.insert(dir);
        const quint64 at = rootOffset + dir;
        const quint32 count = quint32(*r.u16(at + 12)) + *r.u16(at + 14);
        if (count > kMaxEntriesPerDirectory || entriesSeen + count > kMaxEntriesTotal)
            return false;
        if (quint64(dir) + 16 + quint64(count) * 8 > rootLimit)
            return false;
        entriesSeen += count;
        for (quint32 i = 0; i < count; ++i)
            out.emplace_back(*r.u32(at + 16 + i * 8), *r.u32(at + 20 + i * 8));
        return true;
    }
};

// The tree of the resource directory entry; nullopt for a module without resources.
std::optional<ResourceTree> resourceTree(const Reader& r, const ImageLayout& layout)
{
    const quint64 dirCountAt = layout.dirCountAt;
    const auto dirCount = dirCountAt + 4 <= layout.optionalSize ? r.u32(layout.optional + dirCountAt) : std::nullopt;
    const quint64 resourceEntry = layout.optional + dirCountAt + 4 + 2 * 8;
    if (!dirCount || *dirCount <= 2 || resourceEntry + 8 > layout.optional + layout.optionalSize)
        return std::nullopt;
    const quint32 rootRva = *r.u32(resourceEntry);
    const quint32 rootSize = *r.u32(resourceEntry + 4);
    if (rootRva == 0 || rootSize == 0)
        return std::nullopt;
    const auto rootOffset = rvaToOffset(layout.sections, r, rootRva, 16);
    if (!rootOffset)
        return std::nullopt;
    ResourceTree tree{r, 0, 0, {}, 0};
    tree.rootOffset = *rootOffset;
    for (const Section& s : layout.sections) {
        if (rootRva >= s.virtualAddress && rootRva - s.virtualAddress < s.rawSize) {
            tree.rootLimit = s.rawSize - (rootRva - s.virtualAddress);
            break;
        }
    }
    tree.rootLimit = std::min(tree.rootLimit, r.size() - *rootOffset);
    return tree;
}

} // namespace

bool PeStringModule::parse()
{
    const Reader r(m_image);
    const std::optional<ImageLayout> layout = readLayout(r);
    if (!layout)
        return false;
    // A module without a resource directory is a valid module without strings.
    std::optional<ResourceTree> tree = resourceTree(r, *layout);
    if (!tree)
        return true;
    std::vector<std::pair<quint32, quint32>> types, names, langs;
    if (!tree->entries(0, types))
        return true;
    for (const auto& [typeName, typeTarget] : types) {
        if ((typeName & kNameIsStringFlag) || typeName != kStringTableType || !(typeTarget & kSubdirectoryFlag))
            continue;
        if (!tree->entries(typeTarget & ~kSubdirectoryFlag, names))
            continue;
        for (const auto& [blockName, blockTarget] : names) {
            if ((blockName & kNameIsStringFlag) || blockName == 0 || blockName > 0xFFFF
                || !(blockTarget & kSubdirectoryFlag))
                continue;
            if (!tree->entries(blockTarget & ~kSubdirectoryFlag, langs))
                continue;
            for (const auto& [langName, dataTarget] : langs) {
                if ((langName & kNameIsStringFlag) || langName > 0xFFFF || (dataTarget & kSubdirectoryFlag))
                    continue;
                if (quint64(dataTarget) + 16 > tree->rootLimit)
                    continue;
                const quint64 dataEntry = tree->rootOffset + dataTarget;
                const quint32 dataRva = *r.u32(dataEntry);
                const quint32 dataSize = *r.u32(dataEntry + 4);
                const auto dataOffset = rvaToOffset(layout->sections, r, dataRva, dataSize);
                if (!dataOffset)
                    continue;
                const quint32 key = (blockName << 16) | langName;
                if (!m_blocks.contains(key))
                    m_blocks.insert(key, {qsizetype(*dataOffset), qsizetype(dataSize)});
            }
        }
        break;  // one string-table type directory
    }
    return true;
}
