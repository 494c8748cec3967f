// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// A small INI reader and writer that follows the Windows private-profile rules:
//  - section and key names match without regard to case (blanks around a requested
//    name are ignored, as Windows ignores them);
//  - a key's value is the text after the first "=" with blanks at both ends removed,
//    and one pair of matching surrounding quotes ("..." or '...') is taken off;
//  - lines starting with ";" are comments; a line inside a section that has no "=" is a
//    key without a value (reading it gives the default, writing it gives it a value);
//  - only the first section of a name is searched for keys, and only its first key of
//    a name counts;
//  - comments, blank lines, line endings and the order of lines survive every write
//    byte for byte; only the line that changes is touched.
// The file is read as UTF-8 (a leading byte-order mark is allowed and kept). Nothing is
// cached: every call reads the file again. A write replaces the file atomically, so a
// failed or interrupted write leaves the old file as it was. A file without write
// permission is never replaced (Windows refuses a read-only file too).

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class IniFile {
public:
    // Larger files, and anything but a regular file, read as no file and are not
    // written over.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;

    explicit IniFile(QString path);

    const QString& path() const { return m_path; }

    // The raw value of Key in Section (blanks and one pair of quotes removed); nullopt
    // when the file, the section or the key is missing, or the key line has no "=".
    std::optional<QString> value(const QString& section, const QString& key) const;
    // Section names in file order; sections with an empty name are not listed.
    QStringList sectionNames() const;

    // Sets Key in Section to data: the key's line is rewritten in place, a new key goes
    // after the last key line of its section, a new section at the end of the file.
    // False when the file cannot be read or replaced, or when a name or the data would
    // break the file's structure (a line break, a key starting with "[" or ";" or
    // holding "=", a section name holding "]").
    bool setValue(const QString& section, const QString& key, const QString& data);
    // Removes Key's line from Section. True when the key is gone afterwards (also when
    // it was never there); the file is not written when nothing changes.
    bool removeKey(const QString& section, const QString& key);
    // Removes every section of that name with all its lines (keys, comments, blanks).
    bool removeSection(const QString& section);

private:
    struct Line {
        QByteArray raw;   // the line's bytes without its ending
        QByteArray eol;   // "\n", "\r\n" or empty for a last line without ending
    };
    enum class Kind { Blank, Comment, Section, Key, Other };
    struct Parsed {
        Kind kind = Kind::Other;
        QString name;                   // section or key name, trimmed
        std::optional<QString> value;   // key value, trimmed (quotes still on)
    };

    bool load(QList<Line>* lines, bool* exists) const;
    bool save(const QList<Line>& lines) const;
    static Parsed parse(const QByteArray& raw, bool firstLine);
    static QByteArray fileEol(const QList<Line>& lines);
    // [begin, end) line range of the first section called name; begin is the header.
    static bool findSection(const QList<Line>& lines, const QString& name, int* begin, int* end);

    QString m_path;
};

// The Windows private-profile calls over IniFile, with their buffer rules. "Buffer"
// here is the text Windows would leave in the caller's buffer, NULs included; the
// result is the count Windows returns.

// GetPrivateProfileString for one key. A missing key gives defVal with trailing blanks
// removed. A value longer than size - 1 characters is cut to size - 1 (never in the
// middle of a surrogate pair) and the result is size - 1.
int GetPrivateProfileString(const QString& section, const QString& key, const QString& defVal,
                            QString* buffer, int size, const QString& fileName);
// GetPrivateProfileString with no section and no key: every section name followed by a
// NUL, and one more NUL at the end. When the list does not fit, it is cut to size - 2
// characters, two NULs follow and the result is size - 2.
int GetPrivateProfileSectionNames(QString* buffer, int size, const QString& fileName);
// GetPrivateProfileInt: defVal when the key is missing or its value is empty;
// otherwise the leading decimal number with an optional sign (0 when the value does
// not start with a number), taken modulo 2^32 as the Windows conversion does.
qint32 GetPrivateProfileInt(const QString& section, const QString& key, qint32 defVal,
                            const QString& fileName);
// WritePrivateProfileString: key and data present sets a value; no data (a null
// QString) deletes the key; no key deletes the section.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& data,
                               const QString& fileName);

// The language id of the settings file's [LangID] ID value: its leading decimal number
// (blanks and a sign allowed before it, a fraction rounded half to even). Anything
// outside 0..65535, or no number at all, gives 0, with which the system chooses.
quint16 LeadingLangId(const QString& text);
