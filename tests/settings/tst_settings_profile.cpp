// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// clsProfile over real files: reading, writing and deleting with the Windows
// private-profile rules, byte-exact preservation of everything a write does not touch,
// the 200000-character buffer limits and the atomic replacement of the file.

#include "settings/clsProfile.h"
#include "settings/inifile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

enum class Op { Write, DeleteKey, DeleteSection };

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool writeBytes(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

} // namespace

Q_DECLARE_METATYPE(Op)

class tst_SettingsProfile : public QObject {
    Q_OBJECT

private slots:
    // The language id of the [LangID] ID value: its leading number, rounded half to
    // even; 0 (the system chooses) for anything that is no 16-bit id.
    void leadingLangId_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("langId");
        QTest::newRow("Japanese") << "1041" << 1041;
        QTest::newRow("blanks and text around") << " \t1033 English" << 1033;
        QTest::newRow("plus sign") << "+1041" << 1041;
        QTest::newRow("fraction rounds up") << "1032.6" << 1033;
        QTest::newRow("half to even, down") << "1032.5" << 1032;
        QTest::newRow("half to even, up") << "1033.5" << 1034;
        QTest::newRow("fraction alone") << ".7" << 1;
        QTest::newRow("dot after the number") << "1041." << 1041;
        QTest::newRow("highest id") << "65535" << 65535;
        QTest::newRow("beyond 16 bits") << "65536" << 0;
        QTest::newRow("1033 beyond 16 bits") << "66569" << 0;
        QTest::newRow("negative") << "-1033" << 0;
        QTest::newRow("minus zero") << "-0" << 0;
        QTest::newRow("no number") << "English" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("dot alone") << "." << 0;
        QTest::newRow("exponent is text") << "1e3" << 1;
        QTest::newRow("hexadecimal is text") << "0x409" << 0;
        QTest::newRow("full-width digits") << QString::fromUtf8("１０４１") << 0;
    }
    void leadingLangId()
    {
        QFETCH(QString, value);
        QFETCH(int, langId);
        QCOMPARE(int(LeadingLangId(value)), langId);
    }

    void init();

    void defaultFileName();
    void fileNameCanBeReplaced();

    void getString_data();
    void getString();
    void getInt_data();
    void getInt();
    void getSectNames_data();
    void getSectNames();

    void writes_data();
    void writes();
    void deleteSectionHidesItFromSectNames();
    void writeThenReadBack();
    void destructionLeavesFileAsWritten();

    void longValueIsCut_data();
    void longValueIsCut();
    void longSectionListIsCut();

    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void readOnlyFileIsNotReplaced();
    void hostileFileReadsAsNone_data();
    void hostileFileReadsAsNone();
    void writeIntoMissingFolderFails();
    void writeThroughLinkKeepsLink();

private:
    QString iniPath() const { return m_dir->filePath(QStringLiteral("test.ini")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_SettingsProfile::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_SettingsProfile::defaultFileName()
{
    const clsProfile profile;
    // The program's folder, the separator, the executable's name and ".ini".
    QCOMPARE(profile.FileName(),
             QDir::toNativeSeparators(QCoreApplication::applicationDirPath()
                                      + QStringLiteral("/tst_settings_profile.ini")));
}

void tst_SettingsProfile::fileNameCanBeReplaced()
{
    QVERIFY(writeBytes(iniPath(), "[LangID]\nID=1041\n"));
    clsProfile profile;
    QCOMPARE(profile.GetString(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("0")),
             QStringLiteral("0"));
    profile.FileName(iniPath());
    QCOMPARE(profile.FileName(), iniPath());
    QCOMPARE(profile.GetString(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("0")),
             QStringLiteral("1041"));
}

void tst_SettingsProfile::getString_data()
{
    QTest::addColumn<QByteArray>("content");  // null: no file at all
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("defVal");      // null: the argument left out
    QTest::addColumn<QString>("expected");

    const QByteArray lang("[LangID]\nID=1041\n");
    QTest::newRow("exact names") << lang << "LangID" << "ID" << "0" << "1041";
    QTest::newRow("section in other case") << lang << "langid" << "ID" << "0" << "1041";
    QTest::newRow("key in other case") << lang << "LANGID" << "id" << "0" << "1041";
    QTest::newRow("blanks around the value removed")
        << QByteArray("[S]\nk =  \t v  x \t \n") << "S" << "k" << "" << "v  x";
    QTest::newRow("blanks around names ignored")
        << QByteArray("  [  S  ]  \n   k   = 1\n") << "S" << "k" << "" << "1";
    QTest::newRow("value is everything after the first =")
        << QByteArray("[S]\nk=a=b==c\n") << "S" << "k" << "" << "a=b==c";
    QTest::newRow("double quotes taken off")
        << QByteArray("[S]\nk=\" a b \"\n") << "S" << "k" << "" << " a b ";
    QTest::newRow("single quotes taken off")
        << QByteArray("[S]\nk='x'\n") << "S" << "k" << "" << "x";
    QTest::newRow("only one pair of quotes taken off")
        << QByteArray("[S]\nk=\"\"x\"\"\n") << "S" << "k" << "" << "\"x\"";
    QTest::newRow("unmatched quotes kept")
        << QByteArray("[S]\nk=\"x'\n") << "S" << "k" << "" << "\"x'";
    QTest::newRow("lone quote kept") << QByteArray("[S]\nk=\"\n") << "S" << "k" << "" << "\"";
    QTest::newRow("comment is not a key")
        << QByteArray("[S]\n;k=1\n") << "S" << ";k" << "none" << "none";
    QTest::newRow("comment line between keys")
        << QByteArray("[S]\n; k=1\nk=2\n") << "S" << "k" << "" << "2";
    QTest::newRow("missing file with defVal 0") << QByteArray() << "LangID" << "ID" << "0" << "0";
    QTest::newRow("missing file without defVal") << QByteArray() << "LangID" << "ID" << QString()
                                                 << "";
    QTest::newRow("empty file with defVal 0") << QByteArray("") << "LangID" << "ID" << "0" << "0";
    QTest::newRow("missing section with defVal 0")
        << QByteArray("[Other]\nID=5\n") << "LangID" << "ID" << "0" << "0";
    QTest::newRow("missing section without defVal")
        << QByteArray("[Other]\nID=5\n") << "LangID" << "ID" << QString() << "";
    QTest::newRow("missing key with defVal 0")
        << QByteArray("[LangID]\nOther=5\n") << "LangID" << "ID" << "0" << "0";
    QTest::newRow("missing key without defVal")
        << QByteArray("[LangID]\nOther=5\n") << "LangID" << "ID" << QString() << "";
    QTest::newRow("empty value ignores defVal")
        << QByteArray("[LangID]\nID=\n") << "LangID" << "ID" << "0" << "";
    QTest::newRow("blank value ignores defVal")
        << QByteArray("[LangID]\nID=   \n") << "LangID" << "ID" << "0" << "";
    QTest::newRow("key without = gives defVal")
        << QByteArray("[S]\nk\n") << "S" << "k" << "d" << "d";
    QTest::newRow("defVal loses trailing blanks")
        << QByteArray("[S]\n") << "S" << "k" << "  d  " << "  d";
    QTest::newRow("key of the next section not seen")
        << QByteArray("[A]\nx=1\n[B]\nk=2\n") << "A" << "k" << "0" << "0";
    QTest::newRow("first section of a name counts")
        << QByteArray("[A]\nk=1\n[a]\nk=2\nonly=3\n") << "A" << "only" << "0" << "0";
    QTest::newRow("first key of a name counts")
        << QByteArray("[A]\nk=1\nK=2\n") << "A" << "k" << "" << "1";
    QTest::newRow("CRLF line endings")
        << QByteArray("[A]\r\nk=v\r\n") << "A" << "k" << "" << "v";
    QTest::newRow("last line without ending")
        << QByteArray("[A]\nk=v") << "A" << "k" << "" << "v";
    QTest::newRow("byte-order mark before the first section")
        << QByteArray("\xEF\xBB\xBF[LangID]\nID=1033\n") << "LangID" << "ID" << "0" << "1033";
    QTest::newRow("UTF-8 text")
        << QByteArray("[S]\nk=\xE6\x97\xA5\xE6\x9C\xAC\n") << "S" << "k" << ""
        << QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC");
    QTest::newRow("full-width space is not a blank")
        << QByteArray("[S]\nk=\xE3\x80\x80x\n") << "S" << "k" << ""
        << QString::fromUtf8("\xE3\x80\x80x");
    QTest::newRow("header without closing bracket")
        << QByteArray("[S\nk=1\n") << "S" << "k" << "" << "1";
    QTest::newRow("keys before any section belong to none")
        << QByteArray("k=1\n[S]\n") << "S" << "k" << "0" << "0";
}

void tst_SettingsProfile::getString()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, defVal);
    QFETCH(QString, expected);
    if (!content.isNull())
        QVERIFY(writeBytes(iniPath(), content));
    clsProfile profile;
    profile.FileName(iniPath());
    const QString got = defVal.isNull() ? profile.GetString(section, key)
                                        : profile.GetString(section, key, defVal);
    QCOMPARE(got, expected);
    QCOMPARE(QFile::exists(iniPath()), !content.isNull());  // reading never makes a file
}

void tst_SettingsProfile::getInt_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("defVal");
    QTest::addColumn<int>("expected");

    QTest::newRow("plain number") << QByteArray("[S]\nk=1041\n") << 7 << 1041;
    QTest::newRow("negative number") << QByteArray("[S]\nk=-25\n") << 7 << -25;
    QTest::newRow("plus sign") << QByteArray("[S]\nk=+25\n") << 7 << 25;
    QTest::newRow("number then text") << QByteArray("[S]\nk=12abc\n") << 7 << 12;
    QTest::newRow("number then blank and more") << QByteArray("[S]\nk=12 34\n") << 7 << 12;
    QTest::newRow("text without digit gives 0") << QByteArray("[S]\nk=abc\n") << 7 << 0;
    QTest::newRow("sign without digit gives 0") << QByteArray("[S]\nk=-\n") << 7 << 0;
    QTest::newRow("hexadecimal is not read") << QByteArray("[S]\nk=0x10\n") << 7 << 0;
    QTest::newRow("quoted number") << QByteArray("[S]\nk=\"42\"\n") << 7 << 42;
    QTest::newRow("blank inside quotes skipped") << QByteArray("[S]\nk=\" 42\"\n") << 7 << 42;
    QTest::newRow("missing key gives defVal") << QByteArray("[S]\nx=1\n") << 7 << 7;
    QTest::newRow("missing key, defVal left out") << QByteArray("[S]\nx=1\n") << -1 << 0;
    QTest::newRow("missing file gives defVal") << QByteArray() << -3 << -3;
    QTest::newRow("empty value gives defVal") << QByteArray("[S]\nk=\n") << 7 << 7;
    QTest::newRow("largest 32-bit number") << QByteArray("[S]\nk=2147483647\n") << 7 << 2147483647;
    QTest::newRow("wraps past 32 bits") << QByteArray("[S]\nk=4294967297\n") << 7 << 1;
    QTest::newRow("2^31 wraps to the smallest")
        << QByteArray("[S]\nk=2147483648\n") << 7 << int(-2147483647 - 1);
}

void tst_SettingsProfile::getInt()
{
    QFETCH(QByteArray, content);
    QFETCH(int, defVal);
    QFETCH(int, expected);
    if (!content.isNull())
        QVERIFY(writeBytes(iniPath(), content));
    clsProfile profile;
    profile.FileName(iniPath());
    // defVal -1 stands for "argument left out" in this table.
    const qint32 got = defVal == -1 ? profile.GetInt(QStringLiteral("s"), QStringLiteral("K"))
                                    : profile.GetInt(QStringLiteral("s"), QStringLiteral("K"), defVal);
    QCOMPARE(got, expected);
}

void tst_SettingsProfile::getSectNames_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("missing file") << QByteArray() << QStringList();
    QTest::newRow("empty file") << QByteArray("") << QStringList();
    QTest::newRow("comments only") << QByteArray("; [A]\n\nk=1\n") << QStringList();
    QTest::newRow("A and B in order") << QByteArray("[A]\nx=1\n[B]\n") << QStringList{"A", "B"};
    QTest::newRow("file order, not sorted")
        << QByteArray("[Zulu]\n[alpha]\n[Mike]\n") << QStringList{"Zulu", "alpha", "Mike"};
    QTest::newRow("spelling as in the file")
        << QByteArray("[  LangID ]\nID=1\n") << QStringList{"LangID"};
    QTest::newRow("empty section name not listed")
        << QByteArray("[]\n[A]\n") << QStringList{"A"};
    QTest::newRow("every header listed") << QByteArray("[A]\n[B]\n[a]\n")
                                         << QStringList{"A", "B", "a"};
}

void tst_SettingsProfile::getSectNames()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, expected);
    if (!content.isNull())
        QVERIFY(writeBytes(iniPath(), content));
    clsProfile profile;
    profile.FileName(iniPath());
    QCOMPARE(profile.GetSectNames(), expected);
}

void tst_SettingsProfile::writes_data()
{
    QTest::addColumn<QByteArray>("before");  // null: no file
    QTest::addColumn<Op>("op");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("data");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QByteArray>("after");   // null: still no file

    const QByteArray base("; Tolvane settings\r\n"
                          "\r\n"
                          "[LangID]\r\n"
                          "  ; which language\r\n"
                          "ID = 1033\r\n"
                          "Other=x\r\n"
                          "; trailing note\r\n"
                          "\r\n"
                          "[Misc]\r\n"
                          "a=1\r\n");

    QTest::newRow("value replaced in place")
        << base << Op::Write << "LangID" << "ID" << "1041" << true
        << QByteArray(base).replace("ID = 1033", "ID=1041");
    QTest::newRow("key keeps its spelling from the file")
        << base << Op::Write << "langid" << "id" << "0" << true
        << QByteArray(base).replace("ID = 1033", "ID=0");
    QTest::newRow("new key after the last key of its section")
        << base << Op::Write << "LangID" << "New" << "v" << true
        << QByteArray(base).replace("Other=x\r\n", "Other=x\r\nNew=v\r\n");
    QTest::newRow("new key in the last section")
        << base << Op::Write << "Misc" << "b" << "2" << true << base + "b=2\r\n";
    QTest::newRow("new section at the end")
        << base << Op::Write << "Extra" << "k" << "v" << true << base + "[Extra]\r\nk=v\r\n";
    QTest::newRow("new key in a section without keys")
        << QByteArray("[A]\n\n; c\n[B]\nx=1\n") << Op::Write << "A" << "k" << "v" << true
        << QByteArray("[A]\nk=v\n\n; c\n[B]\nx=1\n");
    QTest::newRow("last line without ending gets one")
        << QByteArray("[A]\nx=1") << Op::Write << "B" << "k" << "v" << true
        << QByteArray("[A]\nx=1\n[B]\nk=v\n");
    QTest::newRow("new key after a last line without ending")
        << QByteArray("[A]\nx=1") << Op::Write << "A" << "k" << "v" << true
        << QByteArray("[A]\nx=1\nk=v\n");
    QTest::newRow("new file") << QByteArray() << Op::Write << "LangID" << "ID" << "1041" << true
                              << QByteArray("[LangID]\nID=1041\n");
    QTest::newRow("empty data writes an empty value")
        << QByteArray("[A]\nk=1\n") << Op::Write << "A" << "k" << "" << true
        << QByteArray("[A]\nk=\n");
    QTest::newRow("key without = gets the value")
        << QByteArray("[A]\nflag\nz=1\n") << Op::Write << "A" << "FLAG" << "on" << true
        << QByteArray("[A]\nflag=on\nz=1\n");
    QTest::newRow("same value leaves every byte")
        << QByteArray("[A]\nk=1\n") << Op::Write << "A" << "k" << "1" << true
        << QByteArray("[A]\nk=1\n");
    QTest::newRow("bytes that are not UTF-8 survive")
        << QByteArray("; \xFF\xFE odd\n[A]\nk=1\n") << Op::Write << "A" << "k" << "2" << true
        << QByteArray("; \xFF\xFE odd\n[A]\nk=2\n");
    QTest::newRow("key name that is not UTF-8 keeps its bytes")
        << QByteArray("[A]\n  Schl\xFCssel = 1\n") << Op::Write << "A"
        << QString::fromUtf8("Schl\xEF\xBF\xBDssel") << "2" << true
        << QByteArray("[A]\nSchl\xFCssel=2\n");
    QTest::newRow("byte-order mark kept")
        << QByteArray("\xEF\xBB\xBF[A]\nk=1\n") << Op::Write << "a" << "K" << "2" << true
        << QByteArray("\xEF\xBB\xBF[A]\nk=2\n");
    QTest::newRow("UTF-8 value written as UTF-8")
        << QByteArray("[A]\n") << Op::Write << "A" << "k"
        << QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC") << true
        << QByteArray("[A]\nk=\xE6\x97\xA5\xE6\x9C\xAC\n");
    QTest::newRow("line break in data refused")
        << base << Op::Write << "LangID" << "ID" << "1\r\n[Evil]" << false << base;
    QTest::newRow("= in key refused") << base << Op::Write << "LangID" << "a=b" << "1" << false
                                      << base;
    QTest::newRow("[ at the start of a key refused")
        << base << Op::Write << "LangID" << "[x" << "1" << false << base;
    QTest::newRow("; at the start of a key refused")
        << base << Op::Write << "LangID" << ";x" << "1" << false << base;
    QTest::newRow("] in section refused") << base << Op::Write << "a]b" << "k" << "1" << false
                                          << base;
    QTest::newRow("empty key refused") << base << Op::Write << "LangID" << "" << "1" << false
                                       << base;

    QTest::newRow("delete key keeps comments and blanks")
        << base << Op::DeleteKey << "LANGID" << "id" << QString() << true
        << QByteArray(base).replace("ID = 1033\r\n", "");
    QTest::newRow("delete missing key changes nothing")
        << base << Op::DeleteKey << "LangID" << "nope" << QString() << true << base;
    QTest::newRow("delete key of missing section changes nothing")
        << base << Op::DeleteKey << "Nope" << "ID" << QString() << true << base;
    QTest::newRow("delete key in missing file makes no file")
        << QByteArray() << Op::DeleteKey << "LangID" << "ID" << QString() << true << QByteArray();
    QTest::newRow("delete the last line without ending")
        << QByteArray("[A]\nx=1\nk=2") << Op::DeleteKey << "A" << "k" << QString() << true
        << QByteArray("[A]\nx=1\n");

    QTest::newRow("delete section with its keys, comments and blanks")
        << base << Op::DeleteSection << "langid" << QString() << QString() << true
        << QByteArray("; Tolvane settings\r\n\r\n[Misc]\r\na=1\r\n");
    QTest::newRow("delete last section")
        << base << Op::DeleteSection << "Misc" << QString() << QString() << true
        << base.left(base.indexOf("[Misc]"));
    QTest::newRow("delete every section of the name")
        << QByteArray("[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n") << Op::DeleteSection << "A" << QString()
        << QString() << true << QByteArray("[B]\ny=2\n");
    QTest::newRow("delete first section keeps the byte-order mark")
        << QByteArray("\xEF\xBB\xBF[A]\nx=1\n[B]\ny=2\n") << Op::DeleteSection << "a" << QString()
        << QString() << true << QByteArray("\xEF\xBB\xBF[B]\ny=2\n");
    QTest::newRow("delete missing section changes nothing")
        << base << Op::DeleteSection << "Nope" << QString() << QString() << true << base;
    QTest::newRow("delete section in missing file makes no file")
        << QByteArray() << Op::DeleteSection << "A" << QString() << QString() << true
        << QByteArray();
}

void tst_SettingsProfile::writes()
{
    QFETCH(QByteArray, before);
    QFETCH(Op, op);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, data);
    QFETCH(bool, result);
    QFETCH(QByteArray, after);
    if (!before.isNull())
        QVERIFY(writeBytes(iniPath(), before));
    clsProfile profile;
    profile.FileName(iniPath());
    bool got = false;
    switch (op) {
    case Op::Write:
        got = profile.WriteString(section, key, data);
        break;
    case Op::DeleteKey:
        got = profile.DeleteKey(section, key);
        break;
    case Op::DeleteSection:
        got = profile.DeleteSection(section);
        break;
    }
    QCOMPARE(got, result);
    QCOMPARE(QFile::exists(iniPath()), !after.isNull());
    if (!after.isNull())
        QCOMPARE(readBytes(iniPath()), after);
    // Nothing but the settings file is left in its folder (no temporary files).
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden),
             after.isNull() ? QStringList() : QStringList{QStringLiteral("test.ini")});
}

void tst_SettingsProfile::deleteSectionHidesItFromSectNames()
{
    QVERIFY(writeBytes(iniPath(), "[A]\nx=1\ny=2\n[B]\nz=3\n"));
    clsProfile profile;
    profile.FileName(iniPath());
    QCOMPARE(profile.GetSectNames(), (QStringList{"A", "B"}));
    QVERIFY(profile.DeleteSection(QStringLiteral("A")));
    QCOMPARE(profile.GetSectNames(), QStringList{"B"});
    QCOMPARE(profile.GetString(QStringLiteral("A"), QStringLiteral("x"), QStringLiteral("gone")),
             QStringLiteral("gone"));
    QCOMPARE(profile.GetString(QStringLiteral("B"), QStringLiteral("z")), QStringLiteral("3"));
}

void tst_SettingsProfile::writeThenReadBack()
{
    clsProfile profile;
    profile.FileName(iniPath());
    QVERIFY(profile.WriteString(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("1041")));
    QVERIFY(profile.WriteString(QStringLiteral("Second"), QStringLiteral("Name"),
                                QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80")));
    // A second object on the same file sees the values at once: nothing is cached.
    clsProfile other;
    other.FileName(iniPath());
    QCOMPARE(other.GetInt(QStringLiteral("langid"), QStringLiteral("id")), 1041);
    QCOMPARE(other.GetString(QStringLiteral("second"), QStringLiteral("name")),
             QString::fromUtf8("\xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80"));
    QCOMPARE(other.GetSectNames(), (QStringList{"LangID", "Second"}));
    QVERIFY(profile.DeleteKey(QStringLiteral("LangID"), QStringLiteral("ID")));
    QCOMPARE(other.GetInt(QStringLiteral("LangID"), QStringLiteral("ID"), 5), 5);
    QCOMPARE(other.GetSectNames(), (QStringList{"LangID", "Second"}));  // the section stays
}

void tst_SettingsProfile::destructionLeavesFileAsWritten()
{
    const QByteArray content("; keep\n[A]\nk=1\n");
    QVERIFY(writeBytes(iniPath(), content));
    {
        clsProfile profile;
        profile.FileName(iniPath());
        QVERIFY(profile.WriteString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("2")));
        profile.Flush();
    }
    QCOMPARE(readBytes(iniPath()), QByteArray("; keep\n[A]\nk=2\n"));
}

void tst_SettingsProfile::longValueIsCut_data()
{
    // The call is offered 199999 characters, the terminating NUL included, so at most
    // 199998 characters of a value come back.
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("expectedLength");

    auto pattern = [](int n) {
        QString s;
        s.reserve(n);
        for (int i = 0; i < n; ++i)
            s += QChar(u'a' + i % 26);
        return s;
    };
    QTest::newRow("199997 characters whole") << pattern(199997) << 199997;
    QTest::newRow("199998 characters whole") << pattern(199998) << 199998;
    QTest::newRow("199999 characters cut by one") << pattern(199999) << 199998;
    QTest::newRow("250000 characters cut") << pattern(250000) << 199998;
    // A character outside the basic plane is two UTF-16 units; it is not split.
    QTest::newRow("pair across the limit dropped whole")
        << pattern(199997) + QString::fromUtf8("\xF0\x9F\x98\x80") + pattern(10) << 199997;
    QTest::newRow("pair just inside the limit kept")
        << pattern(199996) + QString::fromUtf8("\xF0\x9F\x98\x80") + pattern(10) << 199998;
}

void tst_SettingsProfile::longValueIsCut()
{
    QFETCH(QString, value);
    QFETCH(int, expectedLength);
    QVERIFY(writeBytes(iniPath(), "[S]\nk=" + value.toUtf8() + "\n"));
    clsProfile profile;
    profile.FileName(iniPath());
    const QString got = profile.GetString(QStringLiteral("S"), QStringLiteral("k"));
    QCOMPARE(got.size(), qsizetype(expectedLength));
    QCOMPARE(got, value.left(expectedLength));
}

void tst_SettingsProfile::longSectionListIsCut()
{
    // 30000 names of 9 characters, each followed by a NUL: 300000 characters. The list
    // that comes back holds 199997 characters: 19999 whole names and 7 characters of the
    // 20000th, which is cut as Windows cuts it.
    QByteArray content;
    for (int i = 0; i < 30000; ++i)
        content += QStringLiteral("[Sect%1]\n").arg(i, 5, 10, QLatin1Char('0')).toLatin1();
    QVERIFY(writeBytes(iniPath(), content));
    clsProfile profile;
    profile.FileName(iniPath());
    const QStringList names = profile.GetSectNames();
    QCOMPARE(names.size(), qsizetype(20000));
    QCOMPARE(names.first(), QStringLiteral("Sect00000"));
    QCOMPARE(names.at(19998), QStringLiteral("Sect19998"));
    QCOMPARE(names.last(), QStringLiteral("Sect199"));
}

void tst_SettingsProfile::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("read-only folder") << "readonly";
    QTest::newRow("file size limit reached while writing") << "fsize";
}

void tst_SettingsProfile::failedWriteKeepsOldFile()
{
    QFETCH(QString, how);
    const QByteArray old("; settings\n[LangID]\nID=1033\n");
    QVERIFY(writeBytes(iniPath(), old));
    clsProfile profile;
    profile.FileName(iniPath());
    const QString big(4096, QLatin1Char('x'));  // makes the new file larger than the old
    bool result = true;
#ifndef Q_OS_UNIX
    QSKIP("needs POSIX permissions and resource limits");
#else
    if (how == QLatin1String("readonly")) {
        if (::geteuid() == 0)
            QSKIP("running as root: a read-only folder does not stop root from replacing the "
                  "file; the file-size-limit row shows the same with root");
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner));
        result = profile.WriteString(QStringLiteral("LangID"), QStringLiteral("ID"), big);
        QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    } else {
        // The kernel refuses to grow any file past RLIMIT_FSIZE, root included: the
        // temporary copy cannot be completed, so the save cannot be committed.
        struct sigaction ignore {};
        struct sigaction previous {};
        ignore.sa_handler = SIG_IGN;
        QCOMPARE(::sigaction(SIGXFSZ, &ignore, &previous), 0);
        struct rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit small = saved;
        small.rlim_cur = 1024;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        result = profile.WriteString(QStringLiteral("LangID"), QStringLiteral("ID"), big);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        ::sigaction(SIGXFSZ, &previous, nullptr);
    }
#endif
    QVERIFY(!result);
    QCOMPARE(readBytes(iniPath()), old);
    QCOMPARE(profile.GetString(QStringLiteral("LangID"), QStringLiteral("ID")), QStringLiteral("1033"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList{"test.ini"});
}

void tst_SettingsProfile::readOnlyFileIsNotReplaced()
{
    const QByteArray old("[LangID]\nID=1033\n");
    QVERIFY(writeBytes(iniPath(), old));
    QVERIFY(QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    clsProfile profile;
    profile.FileName(iniPath());
    QVERIFY(!profile.WriteString(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("1041")));
    QVERIFY(!profile.DeleteKey(QStringLiteral("LangID"), QStringLiteral("ID")));
    QVERIFY(!profile.DeleteSection(QStringLiteral("LangID")));
    QCOMPARE(readBytes(iniPath()), old);
    QCOMPARE(profile.GetInt(QStringLiteral("LangID"), QStringLiteral("ID")), 1033);
    // Writable again: the write goes through.
    QVERIFY(QFile::setPermissions(iniPath(), QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(profile.WriteString(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("1041")));
    QCOMPARE(profile.GetInt(QStringLiteral("LangID"), QStringLiteral("ID")), 1041);
}

void tst_SettingsProfile::hostileFileReadsAsNone_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("langId");  // what [LangID] ID reads as
    const QByteArray lang("[LangID]\nID=1041\n");
    QTest::newRow("100 MB of empty lines") << "file" << lang + QByteArray(100 * 1024 * 1024, '\n') << 0;
    QTest::newRow("one 10 MB line") << "file" << lang + QByteArray(10 * 1024 * 1024, 'x') << 0;
    QTest::newRow("one byte over 1 MiB") << "file" << lang + QByteArray(1024 * 1024 + 1 - lang.size(), ' ') << 0;
    QTest::newRow("exactly 1 MiB") << "file" << lang + QByteArray(1024 * 1024 - lang.size(), ' ') << 1041;
    QTest::newRow("binary bytes after the key")
        << "file" << lang + QByteArray("\0\xff\xfe\x01[\0=\n\r\r\x80", 12) + QByteArray(4096, '\0') << 1041;
    QTest::newRow("named pipe") << "fifo" << QByteArray() << 0;
    QTest::newRow("folder") << "folder" << QByteArray() << 0;
}

// What a damaged disk or a mistake may leave where the settings file belongs: it is
// read as no file, at once, and nothing is written over it.
void tst_SettingsProfile::hostileFileReadsAsNone()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(int, langId);
    if (kind == QLatin1String("file"))
        QVERIFY(writeBytes(iniPath(), content));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(iniPath()).constData(), 0600), 0);
    else
        QVERIFY(QDir().mkdir(iniPath()));
    clsProfile profile;
    profile.FileName(iniPath());
    QCOMPARE(profile.GetInt(QStringLiteral("LangID"), QStringLiteral("ID")), langId);
    const bool readable = langId != 0;
    QCOMPARE(profile.WriteString(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("1033")), readable);
    const QFileInfo after(iniPath());
    if (kind == QLatin1String("fifo"))
        QVERIFY(!after.isFile() && after.exists());
    else if (kind == QLatin1String("folder"))
        QVERIFY(after.isDir());
    else if (!readable)
        QCOMPARE(after.size(), qint64(content.size()));
}

void tst_SettingsProfile::writeIntoMissingFolderFails()
{
    clsProfile profile;
    profile.FileName(m_dir->filePath(QStringLiteral("missing/test.ini")));
    QVERIFY(!profile.WriteString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("v")));
    QVERIFY(!QFileInfo::exists(m_dir->filePath(QStringLiteral("missing"))));
    QCOMPARE(profile.GetString(QStringLiteral("A"), QStringLiteral("k"), QStringLiteral("0")),
             QStringLiteral("0"));
}

void tst_SettingsProfile::writeThroughLinkKeepsLink()
{
    // A user may keep the real file elsewhere and link it in; the write goes to the
    // real file and the link stays a link.
    const QString real = m_dir->filePath(QStringLiteral("real.ini"));
    QVERIFY(writeBytes(real, "[LangID]\nID=1033\n"));
    QVERIFY(QFile::link(real, iniPath()));
    clsProfile profile;
    profile.FileName(iniPath());
    QVERIFY(profile.WriteString(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("1041")));
    QVERIFY(QFileInfo(iniPath()).isSymLink());
    QCOMPARE(readBytes(real), QByteArray("[LangID]\nID=1041\n"));
}

QTEST_GUILESS_MAIN(tst_SettingsProfile)
#include "tst_settings_profile.moc"
