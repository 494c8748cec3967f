// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "locale/modLocale.h"

#include "locale/langid.h"
#include "locale/peresources.h"
#include "locale/stringblocks.h"
#include "settings/modFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QMetaType>
#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>

namespace {

// Until InitLocale runs, English from the program's own table.
quint16 g_language = kLangEnglish;
std::unique_ptr<PeStringModule> g_module;

bool isText(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::QString:
    case QMetaType::QChar:
    case QMetaType::QByteArray:
        return true;
    default:
        return false;
    }
}

// A number of any kind as a 32-bit id; nullopt when it is none or out of range.
// Fractions round half to even, as the original conversion does.
std::optional<qint32> toId(const QVariant& v)
{
    switch (v.metaType().id()) {
    case QMetaType::Bool:
        return v.toBool() ? -1 : 0;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::SChar:
    case QMetaType::Char:
    case QMetaType::UChar:
    case QMetaType::UShort:
        return v.toInt();
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong: {
        const qlonglong n = v.toLongLong();
        if (n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
            return std::nullopt;
        return qint32(n);
    }
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        const qulonglong n = v.toULongLong();
        if (n > qulonglong(std::numeric_limits<qint32>::max()))
            return std::nullopt;
        return qint32(n);
    }
    case QMetaType::Double:
    case QMetaType::Float: {
        const double d = std::nearbyint(v.toDouble());
        if (!std::isfinite(d) || d < std::numeric_limits<qint32>::min() || d > std::numeric_limits<qint32>::max())
            return std::nullopt;
        return qint32(d);
    }
    default:
        return std::nullopt;
    }
}

QString textOf(const QVariant& v)
{
    if (v.metaType().id() == QMetaType::QByteArray)
        return QString::fromUtf8(v.toByteArray());
    return v.toString();
}

// A value put into a placeholder. Lists, maps and objects have no text form.
QString valueText(const QVariant& v)
{
    if (!v.isValid())
        throw std::invalid_argument("LFormat: an empty value has no text");
    switch (v.metaType().id()) {
    case QMetaType::QVariantList:
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
    case QMetaType::QStringList:
    case QMetaType::QObjectStar:
        throw std::invalid_argument("LFormat: a value of this kind has no text");
    default:
        break;
    }
    if (isText(v))
        return textOf(v);
    if (!v.canConvert<QString>())
        throw std::invalid_argument(std::string("LFormat: cannot convert a value of type ")
                                    + (v.typeName() ? v.typeName() : "?") + " to text");
    return v.toString();
}

QString applyValues(QString text, const QVariantList& values)
{
    for (qsizetype k = 0; k < values.size(); ++k)
        text = ReplaceArg(text, int(k + 1), valueText(values.at(k)));
    return text;
}

} // namespace

QString StringFromBlock(const unsigned char* data, qsizetype size, int index)
{
    if (!data || size <= 0 || index < 0 || index > 15)
        return QString();
    auto readLength = [&](qsizetype at) -> qsizetype {
        if (at + 2 > size)
            return -1;
        return qsizetype(data[at] | (data[at + 1] << 8));
    };
    qsizetype at = 0;
    for (int i = 0; i < index; ++i) {
        const qsizetype length = readLength(at);
        if (length < 0)
            return QString();
        at += 2 + 2 * length;
    }
    const qsizetype length = readLength(at);
    if (length <= 0)
        return QString();
    at += 2;
    if (at + 2 * length > size)
        return QString();
    // The block bytes are little-endian and need not be aligned.
    QString text(length, Qt::Uninitialized);
    for (qsizetype i = 0; i < length; ++i)
        text[i] = QChar(char16_t(data[at + 2 * i] | (data[at + 2 * i + 1] << 8)));
    return text;
}

quint16 CurrentLanguage()
{
    return g_language;
}

quint16 SystemDefaultLangID()
{
    return LangIdFromLocale(QLocale::system());
}

quintptr LoadLangRes(const QString& path)
{
    g_module = PeStringModule::fromFile(path);
    return reinterpret_cast<quintptr>(g_module.get());
}

void FreeLangRes()
{
    g_module.reset();
}

QString WCharsToStr(const char16_t* chars, qint32 count)
{
    if (!chars || count <= 0)
        return QString();
    return QString::fromUtf16(chars, count);
}

QString LoadResStr(quint16 lang, qint32 id)
{
    // The block rule is defined for ids of 0 or more only.
    if (id < 0 || id / 16 + 1 > 0xFFFF)
        return QString();
    const auto blockNo = quint16(id / 16 + 1);
    const int index = id % 16;
    if (g_module) {
        const auto data = g_module->block(blockNo, lang);
        if (!data)
            return QString();
        return StringFromBlock(reinterpret_cast<const unsigned char*>(data->data()), data->size(), index);
    }
    for (const StringBlockRef& b : OwnStringBlocks()) {
        if (b.block == blockNo && b.lang == lang)
            return StringFromBlock(b.data, qsizetype(b.size), index);
    }
    return QString();
}

void InitLocale(quint16 langId, const QString& resPath)
{
    FreeLangRes();
    QString path = resPath;
    if (path.isEmpty())
        path = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("LangRes.dll"));
    LoadLangRes(path);

    // Probe loop: for a setting, the setting, then the system default, then English;
    // for no setting, the system default, then English, then both once more.
    // Language ids are unsigned here, so "below or equal 0" is just 0.
    quint16 attempt = langId;
    bool retried = false;
    for (;;) {
        g_language = attempt > 0 ? attempt : SystemDefaultLangID();
        if (!LoadResStr(g_language, 0).isEmpty())
            return;
        if (attempt > 0) {
            if (retried)
                return;
            retried = true;
            attempt = 0;
        } else {
            attempt = kLangEnglish;
        }
    }
}

QString LStr(const QVariant& id)
{
    if (isText(id))
        return textOf(id);
    const auto number = toId(id);
    if (!number)
        return QString();
    return LoadResStr(g_language, *number);
}

QString ReplaceArg(const QString& text, int argNo, const QString& value)
{
    const QString pattern = QLatin1Char('%') + QString::number(argNo) + QLatin1Char('%');
    QString result = text;
    qsizetype from = 0;
    // Search on after the inserted value, so that a value holding the placeholder
    // itself cannot make the loop endless.
    for (;;) {
        const qsizetype at = result.indexOf(pattern, from, Qt::CaseSensitive);
        if (at < 0)
            break;
        result.replace(at, pattern.size(), value);
        from = at + value.size();
    }
    return result;
}

QString LFormat(const QVariant& id, const QVariantList& values)
{
    return applyValues(LStr(id), values);
}

MsgBoxCall MakeMsgBoxCall(const QVariant& prompt, int style, const QVariant& title, const QVariant& values)
{
    MsgBoxCall call;
    call.style = style;
    QVariantList list;
    if (values.isValid()) {
        if (values.metaType().id() == QMetaType::QVariantList)
            list = values.toList();
        else if (values.metaType().id() == QMetaType::QStringList)
            for (const QString& s : values.toStringList())
                list.append(s);
        else
            list.append(values);
    }
    call.text = applyValues(LStr(prompt), list);
    // A missing title (no value, or a null text) is the executable's name.
    const bool noTitle = !title.isValid() || (title.metaType().id() == QMetaType::QString && title.toString().isNull());
    call.title = noTitle ? AppExeName() : LStr(title);
    return call;
}
