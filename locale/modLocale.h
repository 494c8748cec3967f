// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Texts by resource id, the choice of language and the localized system message box.
// Every routine that takes an id also takes a finished text (a QString inside the
// QVariant) and passes it through unchanged.

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <type_traits>

// Windows language ids of the program's own table.
inline constexpr quint16 kLangEnglish = 1033;
inline constexpr quint16 kLangJapanese = 1041;

// Chooses the current language (probe loop with fallbacks) and loads the language
// module: an empty path means "LangRes.dll" beside the executable.
void InitLocale(quint16 langId, const QString& resPath = QString());
quint16 CurrentLanguage();
// The machine's default language as a Windows language id (from QLocale::system()).
quint16 SystemDefaultLangID();

QString LStr(const QVariant& id);
QString ReplaceArg(const QString& text, int argNo, const QString& value);
// Raises std::invalid_argument when a value cannot be converted to text.
QString LFormat(const QVariant& id, const QVariantList& values);
namespace detail {
template <class T>
QVariant formatArg(const T& v)
{
    // String literals and char pointers become texts; everything else a QVariant of its own.
    if constexpr (std::is_convertible_v<const T&, const char*>)
        return QVariant(QString::fromUtf8(static_cast<const char*>(v)));
    else if constexpr (std::is_same_v<T, QVariant>)
        return v;
    else
        return QVariant::fromValue(v);
}
}  // namespace detail
template <class... Args>
QString LFormat(const QVariant& id, const Args&... args)
{
    return LFormat(id, QVariantList{detail::formatArg(args)...});
}

// Windows message-box style bits and result codes.
namespace MsgBox {
inline constexpr int OK = 0, OKCancel = 1, AbortRetryIgnore = 2, YesNoCancel = 3, YesNo = 4, RetryCancel = 5;
inline constexpr int Critical = 16, Question = 32, Exclamation = 48, Information = 64;
inline constexpr int DefButton1 = 0, DefButton2 = 256, DefButton3 = 512;
inline constexpr int IdOK = 1, IdCancel = 2, IdAbort = 3, IdRetry = 4, IdIgnore = 5, IdYes = 6, IdNo = 7;
}

// What LMsgBox would show; a test's handler answers it instead of a window.
struct MsgBoxCall {
    QString text;   // prompt with values put in; carriage returns kept as they are
    QString title;
    int style = 0;  // Windows style bits
    int buttons() const { return style & 0x0F; }
    int icon() const { return style & 0xF0; }
    int defaultButton() const { return style & 0xF00; }
};
// What LMsgBox shows for these arguments: the prompt's text with the values put in,
// the title (the executable's name when there is none) and the style.
MsgBoxCall MakeMsgBoxCall(const QVariant& prompt, int style, const QVariant& title, const QVariant& values);
// values: none (invalid QVariant), one value, or a QVariantList for placeholders 1, 2, …
// LMsgBox, which shows it, is in localeui/lmsgbox.h.

// The language module: handle 0 means none; lookups then use the program's own table.
quintptr LoadLangRes(const QString& path);
void FreeLangRes();
QString LoadResStr(quint16 lang, qint32 id);
QString WCharsToStr(const char16_t* chars, qint32 count);
