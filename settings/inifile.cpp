// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "settings/inifile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cmath>

namespace {

// Blanks as the profile services see them: ASCII white space only, so that a full-width
// space inside a Japanese value stays part of it.
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

QString trimBlanks(const QString& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

QString trimTrailingBlanks(const QString& s)
{
    qsizetype e = s.size();
    while (e > 0 && isBlank(s.at(e - 1)))
        --e;
    return s.left(e);
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString stripQuotes(const QString& v)
{
    if (v.size() >= 2) {
        const QChar q = v.front();
        if ((q == u'"' || q == u'\'') && v.back() == q)
            return v.mid(1, v.size() - 2);
    }
    return v;
}

// Cuts s to at most max UTF-16 units without splitting a surrogate pair.
QString cutTo(const QString& s, qsizetype max)
{
    if (max < 0)
        max = 0;
    if (s.size() <= max)
        return s;
    qsizetype n = max;
    if (n > 0 && s.at(n - 1).isHighSurrogate())
        --n;
    return s.left(n);
}

bool hasLineBreakOrNul(const QString& s)
{
    return s.contains(u'\n') || s.contains(u'\r') || s.contains(QChar(0));
}

const QByteArray kBom("\xEF\xBB\xBF");

bool isBlankByte(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The bytes of a key line's name as the file holds them: before the first "=", blanks
// at both ends removed.
QByteArray keyNameBytes(const QByteArray& raw)
{
    const qsizetype eq = raw.indexOf('=');
    qsizetype b = 0;
    qsizetype e = eq < 0 ? raw.size() : eq;
    while (b < e && isBlankByte(raw.at(b)))
        ++b;
    while (e > b && isBlankByte(raw.at(e - 1)))
        --e;
    return raw.mid(b, e - b);
}

} // namespace

IniFile::IniFile(QString path) : m_path(std::move(path)) {}

IniFile::Parsed IniFile::parse(const QByteArray& raw, bool firstLine)
{
    QByteArray bytes = raw;
    if (firstLine && bytes.startsWith(kBom))
        bytes.remove(0, kBom.size());
    const QString text = trimBlanks(QString::fromUtf8(bytes));
    Parsed p;
    if (text.isEmpty()) {
        p.kind = Kind::Blank;
    } else if (text.front() == u';') {
        p.kind = Kind::Comment;
    } else if (text.front() == u'[') {
        p.kind = Kind::Section;
        const qsizetype close = text.indexOf(u']', 1);
        p.name = trimBlanks(close < 0 ? text.mid(1) : text.mid(1, close - 1));
    } else {
        p.kind = Kind::Key;
        const qsizetype eq = text.indexOf(u'=');
        if (eq < 0) {
            p.name = text;
        } else {
            p.name = trimBlanks(text.left(eq));
            p.value = trimBlanks(text.mid(eq + 1));
        }
    }
    return p;
}

bool IniFile::load(QList<Line>* lines, bool* exists) const
{
    lines->clear();
    QFile f(m_path);
    *exists = f.exists();
    if (!*exists)
        return true;
    // Only a regular file of a sane size: a named pipe would hold start-up for ever, a
    // device never ends, and a settings file is a few KiB, not hundreds of MB. Such a
    // file reads as no file and is never written over.
    const QFileInfo info(m_path);
    if (!info.isFile() || info.size() > kMaxFileBytes)
        return false;
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = f.read(kMaxFileBytes + 1);
    if (f.error() != QFileDevice::NoError || data.size() > kMaxFileBytes)
        return false;
    qsizetype start = 0;
    while (start < data.size()) {
        const qsizetype nl = data.indexOf('\n', start);
        if (nl < 0) {
            lines->append({data.mid(start), QByteArray()});
            break;
        }
        Line l;
        if (nl > start && data.at(nl - 1) == '\r') {
            l.raw = data.mid(start, nl - 1 - start);
            l.eol = "\r\n";
        } else {
            l.raw = data.mid(start, nl - start);
            l.eol = "\n";
        }
        lines->append(l);
        start = nl + 1;
    }
    return true;
}

bool IniFile::save(const QList<Line>& lines) const
{
    // QSaveFile writes a temporary file beside the target and renames it over the
    // target only when everything was written: a crash or a full disk never leaves a
    // half-written settings file behind.
    QByteArray out;
    for (const Line& l : lines) {
        out += l.raw;
        out += l.eol;
    }
    // Unbuffered, and every write checked here: a buffered QSaveFile can commit a
    // temporary file that a short write left incomplete (seen with a file-size limit),
    // which would replace good settings with a truncated file.
    // A file that nobody may write (the read-only attribute of Windows) or that this
    // user may not write is refused as Windows refuses it: replacing it through a new
    // file in the folder would get round the user's protection.
    const QFileInfo existing(m_path);
    if (existing.exists()) {
        // WriteUser is left out: it says what this user may do, and root may do anything.
        const QFile::Permissions writable = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
        if (!existing.isWritable() || !(existing.permissions() & writable))
            return false;
    }
    QSaveFile f(m_path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    qint64 done = 0;
    while (done < out.size()) {
        const qint64 n = f.write(out.constData() + done, out.size() - done);
        if (n <= 0) {
            f.cancelWriting();
            return false;
        }
        done += n;
    }
    return f.commit();
}

QByteArray IniFile::fileEol(const QList<Line>& lines)
{
    for (const Line& l : lines)
        if (!l.eol.isEmpty())
            return l.eol;
#ifdef Q_OS_WIN
    return "\r\n";
#else
    return "\n";
#endif
}

bool IniFile::findSection(const QList<Line>& lines, const QString& name, int* begin, int* end)
{
    *begin = -1;
    for (int i = 0; i < lines.size(); ++i) {
        const Parsed p = parse(lines.at(i).raw, i == 0);
        if (p.kind != Kind::Section)
            continue;
        if (*begin >= 0) {
            *end = i;
            return true;
        }
        if (sameName(p.name, name))
            *begin = i;
    }
    if (*begin < 0)
        return false;
    *end = int(lines.size());
    return true;
}

std::optional<QString> IniFile::value(const QString& section, const QString& key) const
{
    QList<Line> lines;
    bool exists = false;
    if (!load(&lines, &exists))
        return std::nullopt;
    int b = 0;
    int e = 0;
    if (!findSection(lines, trimBlanks(section), &b, &e))
        return std::nullopt;
    const QString k = trimBlanks(key);
    for (int i = b + 1; i < e; ++i) {
        const Parsed p = parse(lines.at(i).raw, false);
        if (p.kind == Kind::Key && sameName(p.name, k)) {
            if (!p.value)
                return std::nullopt;
            return stripQuotes(*p.value);
        }
    }
    return std::nullopt;
}

QStringList IniFile::sectionNames() const
{
    QList<Line> lines;
    bool exists = false;
    QStringList names;
    if (!load(&lines, &exists))
        return names;
    for (int i = 0; i < lines.size(); ++i) {
        const Parsed p = parse(lines.at(i).raw, i == 0);
        if (p.kind == Kind::Section && !p.name.isEmpty())
            names.append(p.name);
    }
    return names;
}

bool IniFile::setValue(const QString& section, const QString& key, const QString& data)
{
    const QString s = trimBlanks(section);
    const QString k = trimBlanks(key);
    // A name or value that would be read back as something else is refused rather
    // than written: a line break would start a new line of its own, "[" or ";" at the
    // start of a key makes a header or a comment, "=" in a key moves the value.
    if (hasLineBreakOrNul(s) || s.contains(u']'))
        return false;
    if (k.isEmpty() || hasLineBreakOrNul(k) || k.contains(u'=') || k.front() == u'['
        || k.front() == u';')
        return false;
    if (hasLineBreakOrNul(data))
        return false;

    QList<Line> lines;
    bool exists = false;
    if (!load(&lines, &exists))
        return false;
    const QByteArray eol = fileEol(lines);
    int b = 0;
    int e = 0;
    if (findSection(lines, s, &b, &e)) {
        int lastKey = -1;
        for (int i = b + 1; i < e; ++i) {
            const Parsed p = parse(lines.at(i).raw, false);
            if (p.kind != Kind::Key)
                continue;
            lastKey = i;
            if (sameName(p.name, k)) {
                // Rewrite only this line; the key keeps its spelling from the file, byte
                // for byte (a name that is not UTF-8 must not come back mangled).
                const QByteArray raw = keyNameBytes(lines.at(i).raw) + '=' + data.toUtf8();
                if (raw == lines.at(i).raw)
                    return true;
                lines[i].raw = raw;
                return save(lines);
            }
        }
        const int at = lastKey >= 0 ? lastKey + 1 : b + 1;
        if (lines[at - 1].eol.isEmpty())
            lines[at - 1].eol = eol;
        lines.insert(at, {(k + u'=' + data).toUtf8(), eol});
        return save(lines);
    }
    if (!lines.isEmpty() && lines.last().eol.isEmpty())
        lines.last().eol = eol;
    lines.append({(u'[' + s + u']').toUtf8(), eol});
    lines.append({(k + u'=' + data).toUtf8(), eol});
    return save(lines);
}

bool IniFile::removeKey(const QString& section, const QString& key)
{
    QList<Line> lines;
    bool exists = false;
    if (!load(&lines, &exists))
        return false;
    int b = 0;
    int e = 0;
    if (!findSection(lines, trimBlanks(section), &b, &e))
        return true;
    const QString k = trimBlanks(key);
    for (int i = b + 1; i < e; ++i) {
        const Parsed p = parse(lines.at(i).raw, false);
        if (p.kind == Kind::Key && sameName(p.name, k)) {
            lines.removeAt(i);
            return save(lines);
        }
    }
    return true;
}

bool IniFile::removeSection(const QString& section)
{
    QList<Line> lines;
    bool exists = false;
    if (!load(&lines, &exists))
        return false;
    const QString s = trimBlanks(section);
    bool inside = false;
    bool firstGone = false;
    QList<Line> kept;
    for (int i = 0; i < lines.size(); ++i) {
        const Parsed p = parse(lines.at(i).raw, i == 0);
        if (p.kind == Kind::Section)
            inside = sameName(p.name, s);
        if (!inside)
            kept.append(lines.at(i));
        else if (i == 0)
            firstGone = true;
    }
    if (kept.size() == lines.size())
        return true;
    // The byte-order mark belongs to the file, not to its first line: when that line
    // goes, the mark moves on to the first line that stays.
    if (firstGone && lines.first().raw.startsWith(kBom) && !kept.isEmpty())
        kept.first().raw.prepend(kBom);
    return save(kept);
}

int GetPrivateProfileString(const QString& section, const QString& key, const QString& defVal,
                            QString* buffer, int size, const QString& fileName)
{
    buffer->clear();
    if (size <= 0)
        return 0;
    const std::optional<QString> v = IniFile(fileName).value(section, key);
    // Windows drops trailing blanks from the default it hands back.
    const QString text = cutTo(v ? *v : trimTrailingBlanks(defVal), size - 1);
    *buffer = text + QChar(0);
    return int(text.size());
}

int GetPrivateProfileSectionNames(QString* buffer, int size, const QString& fileName)
{
    buffer->clear();
    if (size <= 0)
        return 0;
    QString full;
    for (const QString& name : IniFile(fileName).sectionNames()) {
        full += name;
        full += QChar(0);
    }
    if (full.size() + 1 <= size) {
        *buffer = full + QChar(0);
        return int(full.size());
    }
    const QString cut = cutTo(full, size - 2);
    *buffer = cut + QChar(0) + QChar(0);
    return int(cut.size());
}

qint32 GetPrivateProfileInt(const QString& section, const QString& key, qint32 defVal,
                            const QString& fileName)
{
    const std::optional<QString> v = IniFile(fileName).value(section, key);
    if (!v || v->isEmpty())
        return defVal;
    const QString& s = *v;
    qsizetype i = 0;
    while (i < s.size() && isBlank(s.at(i)))
        ++i;
    bool negative = false;
    if (i < s.size() && (s.at(i) == u'-' || s.at(i) == u'+')) {
        negative = s.at(i) == u'-';
        ++i;
    }
    quint32 acc = 0;  // wraps modulo 2^32 like the Windows conversion
    for (; i < s.size() && s.at(i) >= u'0' && s.at(i) <= u'9'; ++i)
        acc = acc * 10u + quint32(s.at(i).unicode() - u'0');
    if (negative)
        acc = 0u - acc;
    return qint32(acc);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& data,
                               const QString& fileName)
{
    if (section.isNull())
        return true;  // the flush request: every write has gone to the file already
    IniFile ini(fileName);
    if (key.isNull())
        return ini.removeSection(section);
    if (data.isNull())
        return ini.removeKey(section, key);
    return ini.setValue(section, key, data);
}

quint16 LeadingLangId(const QString& text)
{
    auto asciiDigit = [&text](qsizetype at) { return at < text.size() && text[at] >= u'0' && text[at] <= u'9'; };
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    const qsizetype start = i;
    while (asciiDigit(i))
        ++i;
    if (i < text.size() && text[i] == QLatin1Char('.')) {
        ++i;
        while (asciiDigit(i))
            ++i;
    }
    const QString number = text.mid(start, i - start);
    if (number.isEmpty() || number == QLatin1String("."))
        return 0;
    bool ok = false;
    const double value = number.toDouble(&ok);
    if (!ok)
        return 0;
    const double rounded = std::nearbyint(negative ? -value : value);  // half to even
    if (rounded < 0 || rounded > 65535)
        return 0;
    return quint16(rounded);
}
