// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// Build-time generator: reads the UTF-8 string table (locale/strings.txt) and writes a
// C++ source holding the texts as string blocks in the Windows string-table layout,
// so that the program's own table and a language module are walked by the same code.
// Plain standard C++ on purpose: it runs before anything else of the project exists.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

[[noreturn]] void fail(const std::string& file, int line, const std::string& what)
{
    std::cerr << file << ":" << line << ": error: " << what << "\n";
    std::exit(1);
}

// Appends the UTF-16 form of a UTF-8 byte string; rejects malformed UTF-8.
bool appendUtf16(const std::string& s, std::size_t& i, std::u16string& out)
{
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::uint32_t cp = 0;
    int extra = 0;
    if (b0 < 0x80) {
        cp = b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        cp = b0 & 0x1F;
        extra = 1;
    } else if ((b0 & 0xF0) == 0xE0) {
        cp = b0 & 0x0F;
        extra = 2;
    } else if ((b0 & 0xF8) == 0xF0) {
        cp = b0 & 0x07;
        extra = 3;
    } else {
        return false;
    }
    if (i + static_cast<std::size_t>(extra) >= s.size())
        return false;
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80)
            return false;
        cp = (cp << 6) | (b & 0x3F);
    }
    static const std::uint32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += extra + 1;
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
    return true;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The text between the quotes with its escapes resolved: \\ \" \r \n \t \uXXXX.
std::u16string unescape(const std::string& raw, const std::string& inName, int lineNo)
{
    std::u16string text;
    for (std::size_t i = 0; i < raw.size();) {
        if (raw[i] != '\\') {
            if (!appendUtf16(raw, i, text))
                fail(inName, lineNo, "malformed UTF-8");
            continue;
        }
        if (i + 1 >= raw.size())
            fail(inName, lineNo, "lone backslash at the end of the text");
        const char e = raw[i + 1];
        i += 2;
        switch (e) {
        case '\\': text.push_back(u'\\'); break;
        case '"': text.push_back(u'"'); break;
        case 'r': text.push_back(u'\r'); break;
        case 'n': text.push_back(u'\n'); break;
        case 't': text.push_back(u'\t'); break;
        case 'u': {
            if (i + 4 > raw.size())
                fail(inName, lineNo, "\\u needs four hex digits");
            int v = 0;
            for (int k = 0; k < 4; ++k) {
                const int h = hexValue(raw[i + k]);
                if (h < 0)
                    fail(inName, lineNo, "\\u needs four hex digits");
                v = v * 16 + h;
            }
            i += 4;
            text.push_back(static_cast<char16_t>(v));
            break;
        }
        default:
            fail(inName, lineNo, std::string("unknown escape \\") + e);
        }
    }
    return text;
}

using Texts = std::map<std::pair<std::uint16_t, std::uint32_t>, std::u16string>;  // (language, id)

// One line <id> <language> "<text>" into texts; blank lines and # comments are skipped.
void readLine(std::string line, const std::string& inName, int lineNo, Texts& texts)
{
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#')
        return;
    const std::size_t open = line.find('"');
    const std::size_t close = line.rfind('"');
    if (open == std::string::npos || close == open)
        fail(inName, lineNo, "text must be in double quotes");
    if (line.find_first_not_of(" \t", close + 1) != std::string::npos)
        fail(inName, lineNo, "characters after the closing quote");
    std::istringstream head(line.substr(0, open));
    long long id = -1, lang = -1;
    std::string rest;
    if (!(head >> id >> lang) || (head >> rest))
        fail(inName, lineNo, "expected <id> <language> \"<text>\"");
    // Block numbers are 16-bit and start at 1.
    if (id < 0 || id / 16 + 1 > 0xFFFF)
        fail(inName, lineNo, "id out of range");
    if (lang <= 0 || lang > 0xFFFF)
        fail(inName, lineNo, "language out of range");
    const std::u16string text = unescape(line.substr(open + 1, close - open - 1), inName, lineNo);
    if (text.size() > 0xFFFF)
        fail(inName, lineNo, "text longer than 65535 UTF-16 code units");
    const auto key = std::make_pair(static_cast<std::uint16_t>(lang), static_cast<std::uint32_t>(id));
    if (!texts.emplace(key, text).second)
        fail(inName, lineNo, "duplicate id for this language");
}

// The source of the string blocks: per (language, block) 16 texts, each a 16-bit length
// and its UTF-16 code units, little-endian.
std::string blocksSource(const Texts& texts)
{
    std::map<std::pair<std::uint16_t, std::uint16_t>, std::vector<std::u16string>> blocks;
    for (const auto& [key, text] : texts) {
        const auto blockNo = static_cast<std::uint16_t>(key.second / 16 + 1);
        auto& entries = blocks[{key.first, blockNo}];
        entries.resize(16);
        entries[key.second % 16] = text;
    }
    std::ostringstream out;
    out << "// Generated by mkstrings from strings.txt. Do not edit.\n"
           "#include \"locale/stringblocks.h\"\n\n"
           "namespace {\n";
    std::vector<std::string> refs;
    int n = 0;
    for (const auto& [key, entries] : blocks) {
        std::vector<unsigned char> bytes;
        auto put16 = [&bytes](unsigned v) {
            bytes.push_back(static_cast<unsigned char>(v & 0xFF));
            bytes.push_back(static_cast<unsigned char>(v >> 8));
        };
        for (const auto& t : entries) {
            put16(static_cast<unsigned>(t.size()));
            for (char16_t c : t)
                put16(c);
        }
        out << "const unsigned char kBlock" << n << "[" << bytes.size() << "] = {";
        for (std::size_t i = 0; i < bytes.size(); ++i)
            out << (i % 16 == 0 ? "\n    " : " ") << static_cast<unsigned>(bytes[i]) << ",";
        out << "\n};\n";
        std::ostringstream ref;
        ref << "    {" << key.second << ", " << key.first << ", kBlock" << n << ", sizeof kBlock" << n << "},";
        refs.push_back(ref.str());
        ++n;
    }
    out << "const StringBlockRef kBlocks[] = {\n";
    for (const auto& r : refs)
        out << r << "\n";
    out << "};\n} // namespace\n\n"
           "std::span<const StringBlockRef> OwnStringBlocks()\n{\n    return kBlocks;\n}\n";
    return out.str();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: mkstrings <strings.txt> <output.cpp>\n";
        return 2;
    }
    const std::string inName = argv[1];
    std::ifstream in(inName, std::ios::binary);
    if (!in)
        fail(inName, 0, "cannot open");
    Texts texts;
    std::string line;
    int lineNo = 0;
    while (std::getline(in, line))
        readLine(line, inName, ++lineNo, texts);

    const std::string outName = argv[2];
    std::ofstream o(outName, std::ios::binary | std::ios::trunc);
    o << blocksSource(texts);
    if (!o)
        fail(outName, 0, "cannot write");
    return 0;
}
