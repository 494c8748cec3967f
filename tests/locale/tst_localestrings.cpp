// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// Texts by id from the program's own table, placeholders and the message-box seam.

#include "locale/modLocale.h"
#include "localeui/lmsgbox.h"
#include "locale/stringblocks.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QTest>
#include <stdexcept>

namespace {

// A module path that never exists, so that only the program's own table answers.
const QString kNoModule = QStringLiteral("/nonexistent/tolvane-test/LangRes.dll");

// The 119 ids of the program's own table.
const QList<int> kAllIds = {
    0,    1,    2,    3,    4,    5,    6,    100,  101,  102,  103,  104,  105,  106,  107,
    108,  109,  500,  501,  502,  503,  504,  505,  1000, 1001, 1002, 1003, 1004, 1005, 1006,
    1007, 1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015, 1016, 1017, 1018, 1019, 1020, 1021,
    1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032, 1033, 1034, 1035, 1036,
    1037, 1038, 1039, 1040, 1041, 1042, 1043, 1044, 5000, 5001, 5002, 5003, 5004, 5005, 5006,
    5007, 5008, 5009, 5010, 5011, 5012, 6000, 6001, 6002, 6003, 6004, 6005, 9000, 9001, 9002, 9016,
    9017, 9018, 9019, 9020, 9021, 9022, 9023, 9024, 9025, 9026, 9027, 9028, 9029, 9030, 9031, 9032, 9033,
    9034, 9035, 9036, 9037, 9038, 9039, 9040, 9041, 9042, 9043, 9044};

struct HandlerGuard {
    explicit HandlerGuard(MsgBoxHandler h) { SetMsgBoxHandler(std::move(h)); }
    ~HandlerGuard() { SetMsgBoxHandler({}); }
};

} // namespace

class tst_LocaleStrings : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { SetMsgBoxHandler({}); }

    void lookup_data();
    void lookup();
    void everyIdInBothLanguages_data();
    void everyIdInBothLanguages();
    void exactCountPerLanguage();
    void idKinds_data();
    void idKinds();
    void format_data();
    void format();
    void formatRefusesValueWithoutText();
    void replaceArg_data();
    void replaceArg();
    void wcharsToStr();
    void msgBoxSeam_data();
    void msgBoxSeam();
    void msgBoxDefaultTitle();
    void msgBoxRefusesValueWithoutText();
};

void tst_LocaleStrings::lookup_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("expected");

    QTest::newRow("probe en") << 1033 << 0 << "#RES_NULL#";
    QTest::newRow("probe ja") << 1041 << 0 << "#RES_NULL#";
    QTest::newRow("empty position en") << 1033 << 12 << "";
    QTest::newRow("empty position ja") << 1041 << 12 << "";
    QTest::newRow("no block en") << 1033 << 7000 << "";
    QTest::newRow("no block ja") << 1041 << 7000 << "";
    QTest::newRow("negative id") << 1033 << -1 << "";
    QTest::newRow("huge id") << 1033 << 0x7FFFFFFF << "";
    QTest::newRow("language not in table") << 1036 << 0 << "";
    QTest::newRow("trailing blank en") << 1033 << 1007 << "Step 3: ";
    QTest::newRow("no trailing blank ja") << 1041 << 1007 << QString::fromUtf8("ステップ 3:");
    QTest::newRow("description ja 1015") << 1041 << 1015 << QString::fromUtf8("説明:");
    QTest::newRow("description ja 1008") << 1041 << 1008 << QString::fromUtf8("説明 : ");
    QTest::newRow("ellipsis") << 1033 << 5012 << QString::fromUtf8("Advanced &settings\u2026");
    QTest::newRow("full-width question") << 1041 << 502 << QString::fromUtf8("エラーをクリアしますか？");
    QTest::newRow("font ja") << 1041 << 1 << "MS UI Gothic";
    QTest::newRow("charset ja") << 1041 << 5 << "128";
    QTest::newRow("charset en") << 1033 << 5 << "0";
    QTest::newRow("last of block") << 1033 << 1039 << "Open";
    QTest::newRow("first of block") << 1033 << 1040 << "I/O Port";
    QTest::newRow("maker line same") << 1041 << 6002 << "Tolvane - communication settings wizard for robot controllers";
}

void tst_LocaleStrings::lookup()
{
    QFETCH(int, lang);
    QFETCH(int, id);
    QFETCH(QString, expected);
    InitLocale(quint16(lang), kNoModule);
    QCOMPARE(LoadResStr(quint16(lang), id), expected);
    if (CurrentLanguage() == lang)
        QCOMPARE(LStr(id), expected);
}

void tst_LocaleStrings::everyIdInBothLanguages_data()
{
    QTest::addColumn<int>("id");
    for (int id : kAllIds)
        QTest::addRow("%d", id) << id;
}

void tst_LocaleStrings::everyIdInBothLanguages()
{
    QFETCH(int, id);
    const QString en = LoadResStr(kLangEnglish, id);
    const QString ja = LoadResStr(kLangJapanese, id);
    QVERIFY(!en.isEmpty());
    QVERIFY(!ja.isEmpty());
    // Nothing in the table carries a stray line end or a replacement character.
    QVERIFY(!en.contains(QChar(0xFFFD)) && !ja.contains(QChar(0xFFFD)));
    QVERIFY(!en.contains(QLatin1Char('\n')) && !ja.contains(QLatin1Char('\n')));
}

void tst_LocaleStrings::exactCountPerLanguage()
{
    // Every position of every block of the table, per language.
    QHash<int, QSet<int>> idsByLang;
    for (const StringBlockRef& b : OwnStringBlocks()) {
        for (int pos = 0; pos < 16; ++pos) {
            const int id = (b.block - 1) * 16 + pos;
            if (!LoadResStr(b.lang, id).isEmpty())
                idsByLang[b.lang].insert(id);
        }
    }
    QCOMPARE(idsByLang.size(), 2);
    const QSet<int> expected(kAllIds.begin(), kAllIds.end());
    QCOMPARE(expected.size(), 119);
    QCOMPARE(idsByLang.value(kLangEnglish), expected);
    QCOMPARE(idsByLang.value(kLangJapanese), expected);
}

void tst_LocaleStrings::idKinds_data()
{
    QTest::addColumn<QVariant>("id");
    QTest::addColumn<QString>("expected");
    QTest::newRow("int") << QVariant(1013) << "Baud Rate";
    QTest::newRow("short") << QVariant::fromValue<short>(1013) << "Baud Rate";
    QTest::newRow("unsigned") << QVariant(1013u) << "Baud Rate";
    QTest::newRow("long long") << QVariant(1013LL) << "Baud Rate";
    QTest::newRow("double") << QVariant(1013.0) << "Baud Rate";
    QTest::newRow("double rounds half to even") << QVariant(1012.5) << "Parity";
    QTest::newRow("text passes through") << QVariant(QStringLiteral("Hello #1013")) << "Hello #1013";
    QTest::newRow("numeric text passes through") << QVariant(QStringLiteral("1013")) << "1013";
    QTest::newRow("empty text") << QVariant(QString()) << "";
    QTest::newRow("too large") << QVariant(5e12) << "";
    QTest::newRow("not a number") << QVariant(qQNaN()) << "";
    QTest::newRow("no value") << QVariant() << "";
    QTest::newRow("list") << QVariant(QVariantList{1013}) << "";
}

void tst_LocaleStrings::idKinds()
{
    QFETCH(QVariant, id);
    QFETCH(QString, expected);
    InitLocale(kLangEnglish, kNoModule);
    QCOMPARE(LStr(id), expected);
}

void tst_LocaleStrings::format_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QVariant>("id");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QString>("expected");

    QTest::newRow("error code en") << 1033 << QVariant(501) << QVariantList{QStringLiteral("2A")} << "Error Code [0x2A]";
    QTest::newRow("error code ja") << 1041 << QVariant(501) << QVariantList{QStringLiteral("2A")}
                                   << QString::fromUtf8("エラーコード【0x2A】");
    QTest::newRow("version three") << 1033 << QVariant(6005) << QVariantList{1, 2, 3} << "Version 1.2.3";
    QTest::newRow("version two keeps third") << 1033 << QVariant(6005) << QVariantList{1, 2} << "Version 1.2.%3%";
    QTest::newRow("version ja") << 1041 << QVariant(6005) << QVariantList{1, 2, 3} << QString::fromUtf8("バージョン 1.2.3");
    QTest::newRow("extra values change nothing") << 1033 << QVariant(501) << QVariantList{QStringLiteral("FF"), 7, 8}
                                                 << "Error Code [0xFF]";
    QTest::newRow("no values") << 1033 << QVariant(501) << QVariantList{} << "Error Code [0x%1%]";
    QTest::newRow("placeholder twice") << 1033 << QVariant(QStringLiteral("%1% and %1%")) << QVariantList{QStringLiteral("x")}
                                       << "x and x";
    QTest::newRow("text passthrough") << 1033 << QVariant(QStringLiteral("Port %2% of %1%"))
                                      << QVariantList{QStringLiteral("COM"), 4} << "Port 4 of COM";
    QTest::newRow("1 not inside 10") << 1033 << QVariant(QStringLiteral("%10%|%1%")) << QVariantList{QStringLiteral("a")}
                                     << "%10%|a";
    QTest::newRow("double value") << 1033 << QVariant(QStringLiteral("[%1%]")) << QVariantList{2.5} << "[2.5]";
    QTest::newRow("value with own placeholder") << 1033 << QVariant(QStringLiteral("<%1%>")) << QVariantList{QStringLiteral("%1%")}
                                                << "<%1%>";
    QTest::newRow("missing id gives empty") << 1033 << QVariant(7000) << QVariantList{1} << "";
}

void tst_LocaleStrings::format()
{
    QFETCH(int, lang);
    QFETCH(QVariant, id);
    QFETCH(QVariantList, values);
    QFETCH(QString, expected);
    InitLocale(quint16(lang), kNoModule);
    QCOMPARE(CurrentLanguage(), quint16(lang));
    QCOMPARE(LFormat(id, values), expected);
}

void tst_LocaleStrings::formatRefusesValueWithoutText()
{
    InitLocale(kLangEnglish, kNoModule);
    // One value that is a list (QVariantList{QVariantList{...}} would copy the inner list
    // under clang's reading of list-initialisation).
    const QVariantList listValue{QVariant(QVariantList{1, 2})};
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, LFormat(501, listValue));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument, LFormat(501, QVariantList{QVariant()}));
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             LFormat(501, QVariantList{QVariant::fromValue<QObject*>(this)}));
    // The variadic form feeds the same conversion.
    QCOMPARE(LFormat(6005, 1, 2, 3), QStringLiteral("Version 1.2.3"));
    QCOMPARE(LFormat(501, QStringLiteral("2A")), QStringLiteral("Error Code [0x2A]"));
    QCOMPARE(LFormat(501, "2A"), QStringLiteral("Error Code [0x2A]"));
}

void tst_LocaleStrings::replaceArg_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("argNo");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("simple") << "a%1%b" << 1 << "X" << "aXb";
    QTest::newRow("twice") << "%2%-%2%" << 2 << "v" << "v-v";
    QTest::newRow("no match") << "abc" << 1 << "X" << "abc";
    QTest::newRow("other number") << "%2%" << 1 << "X" << "%2%";
    QTest::newRow("own placeholder") << "%1%" << 1 << "%1%" << "%1%";
    QTest::newRow("own placeholder twice") << "%1%%1%" << 1 << "%1%%1%" << "%1%%1%%1%%1%";
    QTest::newRow("value grows placeholder") << "%1%" << 1 << "a%1%b" << "a%1%b";
    QTest::newRow("empty value") << "[%1%]" << 1 << "" << "[]";
    QTest::newRow("empty value adjacent") << "%1%%1%" << 1 << "" << "";
    QTest::newRow("case and digits exact") << "%01%" << 1 << "X" << "%01%";
    QTest::newRow("placeholder 10") << "%10%%1%" << 10 << "T" << "T%1%";
    QTest::newRow("negative number") << "%-1%" << -1 << "N" << "N";
    QTest::newRow("empty text") << "" << 1 << "X" << "";
}

void tst_LocaleStrings::replaceArg()
{
    QFETCH(QString, text);
    QFETCH(int, argNo);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    QCOMPARE(ReplaceArg(text, argNo, value), expected);
}

void tst_LocaleStrings::wcharsToStr()
{
    const char16_t units[] = {u'C', u'O', u'M', u'4', 0x3010, 0xD83D, 0xDE00};
    QCOMPARE(WCharsToStr(units, 4), QStringLiteral("COM4"));
    QCOMPARE(WCharsToStr(units, 7).size(), 7);
    QCOMPARE(WCharsToStr(units, 5).at(4), QChar(0x3010));
    QCOMPARE(WCharsToStr(units, 0), QString());
    QCOMPARE(WCharsToStr(units, -3), QString());
    QCOMPARE(WCharsToStr(nullptr, 3), QString());
}

void tst_LocaleStrings::msgBoxSeam_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QVariant>("prompt");
    QTest::addColumn<int>("style");
    QTest::addColumn<QVariant>("title");
    QTest::addColumn<QVariant>("values");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("titleShown");
    QTest::addColumn<int>("answer");

    const QString cr = QStringLiteral("\r");
    QTest::newRow("error code with CR, ja") << 1041 << QVariant(LoadResStr(1041, 500) + cr + LoadResStr(1041, 501))
                                            << (MsgBox::Critical | MsgBox::OK) << QVariant(QStringLiteral("Tolvane"))
                                            << QVariant(QStringLiteral("1F"))
                                            << QString::fromUtf8("コントローラでエラーが発生しています。\rエラーコード【0x1F】")
                                            << "Tolvane" << int(MsgBox::IdOK);
    QTest::newRow("id prompt, id title, yes/no") << 1033 << QVariant(502) << (MsgBox::YesNo | MsgBox::Question | MsgBox::DefButton2)
                                                 << QVariant(1004) << QVariant() << "Do you want to clear the error?"
                                                 << "Communication Permission" << int(MsgBox::IdNo);
    QTest::newRow("array values") << 1033 << QVariant(6005) << MsgBox::Information << QVariant(QStringLiteral("About"))
                                  << QVariant(QVariantList{4, 5, 6}) << "Version 4.5.6" << "About" << int(MsgBox::IdOK);
    QTest::newRow("string list values") << 1033 << QVariant(QStringLiteral("%2%/%1%")) << MsgBox::OKCancel
                                        << QVariant(QStringLiteral("T")) << QVariant(QStringList{"a", "b"}) << "b/a" << "T"
                                        << int(MsgBox::IdCancel);
    QTest::newRow("abort retry ignore") << 1033 << QVariant(503) << (MsgBox::AbortRetryIgnore | MsgBox::Exclamation | MsgBox::DefButton3)
                                        << QVariant(QStringLiteral("x")) << QVariant() << "Failed to receive data from the controller."
                                        << "x" << int(MsgBox::IdIgnore);
}

void tst_LocaleStrings::msgBoxSeam()
{
    QFETCH(int, lang);
    QFETCH(QVariant, prompt);
    QFETCH(int, style);
    QFETCH(QVariant, title);
    QFETCH(QVariant, values);
    QFETCH(QString, text);
    QFETCH(QString, titleShown);
    QFETCH(int, answer);

    InitLocale(quint16(lang), kNoModule);
    QList<MsgBoxCall> calls;
    HandlerGuard guard([&](const MsgBoxCall& c) {
        calls.append(c);
        return answer;
    });
    QCOMPARE(LMsgBox(prompt, style, title, values), answer);
    QCOMPARE(calls.size(), 1);
    QCOMPARE(calls[0].text, text);
    QCOMPARE(calls[0].title, titleShown);
    QCOMPARE(calls[0].style, style);
    QCOMPARE(calls[0].buttons(), style & 0x0F);
    QCOMPARE(calls[0].icon(), style & 0xF0);
    QCOMPARE(calls[0].defaultButton(), style & 0xF00);
}

void tst_LocaleStrings::msgBoxDefaultTitle()
{
    InitLocale(kLangEnglish, kNoModule);
    QString seen;
    HandlerGuard guard([&](const MsgBoxCall& c) {
        seen = c.title;
        return MsgBox::IdOK;
    });
    LMsgBox(505, MsgBox::Critical);
    // The executable's name without its extension.
    QCOMPARE(seen, QStringLiteral("tst_localestrings"));
    QCOMPARE(seen, QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
    seen.clear();
    LMsgBox(505, MsgBox::Critical, QVariant(QString()));
    QCOMPARE(seen, QStringLiteral("tst_localestrings"));
    // An explicitly given empty title stays empty.
    LMsgBox(505, MsgBox::Critical, QVariant(QStringLiteral("")));
    QCOMPARE(seen, QString());
}

void tst_LocaleStrings::msgBoxRefusesValueWithoutText()
{
    InitLocale(kLangEnglish, kNoModule);
    int calls = 0;
    HandlerGuard guard([&](const MsgBoxCall&) {
        ++calls;
        return MsgBox::IdOK;
    });
    QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
                             LMsgBox(501, 0, QVariant(), QVariant(QVariantList{QVariantMap{{"a", 1}}})));
    QCOMPARE(calls, 0);
}

QTEST_GUILESS_MAIN(tst_LocaleStrings)
#include "tst_localestrings.moc"
