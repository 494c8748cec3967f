// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// The choice of language at start-up on machines of several default languages. CTest
// runs this test once per system locale (LC_ALL); TOLVANE_TEST_SYSLANG names the
// Windows language id that locale stands for.

#include "locale/langid.h"
#include "locale/modLocale.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>

namespace {

QString modulePath(const QString& name)
{
    if (name == QLatin1String("none"))
        return QStringLiteral("/nonexistent/tolvane-test/LangRes.dll");
    if (name == QLatin1String("beside"))
        return QString();  // InitLocale's default: LangRes.dll beside the executable
    return QStringLiteral(TOLVANE_LOCALE_MODULES "/") + name + QStringLiteral(".dll");
}

struct Case {
    quint16 system;
    const char* name;
    quint16 setting;
    const char* module;
    quint16 language;
    const char* next;  // what id 101 then reads, UTF-8
};

// Modules: "none", "langres" (en, fr, ja), "langres_en" (en only), "langres_noprobe"
// (strings without id 0), "langres_nostrings", "beside" (langres as LangRes.dll
// next to this test).
const Case kCases[] = {
    // Japanese machine.
    {1041, "setting ja", 1041, "none", 1041, "次へ(&N)"},
    {1041, "setting fr falls to system ja", 1036, "none", 1041, "次へ(&N)"},
    {1041, "no setting takes system", 0, "none", 1041, "次へ(&N)"},
    {1041, "setting en", 1033, "none", 1033, "&Next"},
    {1041, "module has fr", 1036, "langres", 1036, "&Suivant"},
    {1041, "module lacks ja, has en", 1041, "langres_en", 1033, "&Next (English module)"},
    {1041, "module lacks zh and ja", 2052, "langres_en", 1033, "&Next (English module)"},
    {1041, "module without probe", 1041, "langres_noprobe", 1033, "&Next (no probe)"},
    {1041, "module without strings", 0, "langres_nostrings", 1033, ""},
    {1041, "setting zh, module ja", 2052, "langres", 1041, "次へ(&N)【モジュール】"},
    {1041, "module beside the program", 1036, "beside", 1036, "&Suivant"},
    // French machine.
    {1036, "no setting gives English", 0, "none", 1033, "&Next"},
    {1036, "no setting, module has fr", 0, "langres", 1036, "&Suivant"},
    {1036, "setting ja", 1041, "none", 1041, "次へ(&N)"},
    {1036, "setting ja, module en only", 1041, "langres_en", 1033, "&Next (English module)"},
    {1036, "setting zh", 2052, "none", 1033, "&Next"},
    {1036, "setting fr, own table", 1036, "none", 1033, "&Next"},
    {1036, "setting ja, module beside", 1041, "beside", 1041, "次へ(&N)【モジュール】"},
    // English (US) machine.
    {1033, "no setting", 0, "none", 1033, "&Next"},
    {1033, "setting ja", 1041, "none", 1041, "次へ(&N)"},
    {1033, "setting fr, module", 1036, "langres", 1036, "&Suivant"},
    {1033, "setting fr, no module", 1036, "none", 1033, "&Next"},
    {1033, "no setting, module", 0, "langres", 1033, "&Next (module)"},
    // German machine.
    {1031, "no setting", 0, "none", 1033, "&Next"},
    {1031, "no setting, module", 0, "langres", 1033, "&Next (module)"},
    {1031, "setting ja, module without probe", 1041, "langres_noprobe", 1033, "&Next (no probe)"},
};

} // namespace

class tst_LocaleFallback : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void systemLanguage();
    void choice_data();
    void choice();
    void secondCallFreesModule();
    void localeMapping_data();
    void localeMapping();

private:
    quint16 m_system = 0;
};

void tst_LocaleFallback::initTestCase()
{
    m_system = quint16(qEnvironmentVariableIntValue("TOLVANE_TEST_SYSLANG"));
    QVERIFY2(m_system != 0, "TOLVANE_TEST_SYSLANG is not set");
    // The module beside this test is a copy of langres.dll.
    QVERIFY(QFile::exists(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("LangRes.dll"))));
}

void tst_LocaleFallback::systemLanguage()
{
    QCOMPARE(SystemDefaultLangID(), m_system);
}

void tst_LocaleFallback::choice_data()
{
    QTest::addColumn<int>("setting");
    QTest::addColumn<QString>("module");
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("next");
    for (const Case& c : kCases) {
        if (c.system != m_system)
            continue;
        QTest::newRow(c.name) << int(c.setting) << QString::fromLatin1(c.module) << int(c.language)
                              << QString::fromUtf8(c.next);
    }
}

void tst_LocaleFallback::choice()
{
    QFETCH(int, setting);
    QFETCH(QString, module);
    QFETCH(int, language);
    QFETCH(QString, next);
    InitLocale(quint16(setting), modulePath(module));
    QCOMPARE(int(CurrentLanguage()), language);
    QCOMPARE(LStr(101), next);
}

void tst_LocaleFallback::secondCallFreesModule()
{
    InitLocale(1036, modulePath(QStringLiteral("langres")));
    QCOMPARE(LStr(101), QStringLiteral("&Suivant"));
    InitLocale(kLangJapanese, modulePath(QStringLiteral("none")));
    QCOMPARE(CurrentLanguage(), kLangJapanese);
    QCOMPARE(LStr(101), QString::fromUtf8("次へ(&N)"));
}

void tst_LocaleFallback::localeMapping_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("id");
    QTest::newRow("en_US") << "en_US" << 1033;
    QTest::newRow("ja_JP") << "ja_JP" << 1041;
    QTest::newRow("fr_FR") << "fr_FR" << 1036;
    QTest::newRow("de_DE") << "de_DE" << 1031;
    QTest::newRow("en_GB") << "en_GB" << 2057;
    QTest::newRow("fr_CA") << "fr_CA" << 3084;
    QTest::newRow("de_AT") << "de_AT" << 3079;
    QTest::newRow("zh_CN") << "zh_CN" << 2052;
    QTest::newRow("zh_TW") << "zh_TW" << 1028;
    QTest::newRow("ko_KR") << "ko_KR" << 1042;
    QTest::newRow("pt_BR") << "pt_BR" << 1046;
    QTest::newRow("es_ES") << "es_ES" << 3082;
    QTest::newRow("ja language only") << "ja" << 1041;
    QTest::newRow("fr of another territory") << "fr_SN" << 1036;
    QTest::newRow("en of another territory") << "en_JP" << 1033;
    QTest::newRow("C locale") << "C" << 1033;
}

void tst_LocaleFallback::localeMapping()
{
    QFETCH(QString, locale);
    QFETCH(int, id);
    QCOMPARE(int(LangIdFromLocale(QLocale(locale))), id);
}

QTEST_GUILESS_MAIN(tst_LocaleFallback)
#include "tst_localefallback.moc"
