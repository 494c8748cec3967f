// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The folder routines: the application-data folder, the trailing separator, whether a
// folder exists, and making a folder path without touching the current directory.

#include "settings/modFile.h"
#include "settings/serialports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class tst_SettingsFolders : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addBackslash_data();
    void addBackslash();

    void folderExists_data();
    void folderExists();

    void createFolderPath_data();
    void createFolderPath();
    void createFolderPathRootOnly();

    void appDataFollowsXdgConfigHome();
    void appDataDefaultsToDotConfig();
    void appDataIgnoresRelativeXdg();
    void unknownFolderIdIsEmpty_data();
    void unknownFolderIdIsEmpty();
    void settingsFolderIsTolvaneUnderAppData();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_savedCwd;
    QByteArray m_savedXdg;
    QByteArray m_savedHome;
};

void tst_SettingsFolders::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_savedCwd = QDir::currentPath();
    m_savedXdg = qgetenv("XDG_CONFIG_HOME");
    m_savedHome = qgetenv("HOME");
}

void tst_SettingsFolders::cleanup()
{
    QDir::setCurrent(m_savedCwd);
    if (m_savedXdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_savedXdg);
    qputenv("HOME", m_savedHome);
}

void tst_SettingsFolders::addBackslash_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    // Written with "/" and turned into the platform's separator, as AddBackslash uses it.
    auto n = [](const char* p) { return QDir::toNativeSeparators(QString::fromLatin1(p)); };
    QTest::newRow("without separator") << n("/home/user/Data") << n("/home/user/Data/");
    QTest::newRow("with separator unchanged") << n("/home/user/Data/") << n("/home/user/Data/");
    QTest::newRow("empty stays empty") << QString() << QString();
    QTest::newRow("root unchanged") << n("/") << n("/");
    QTest::newRow("relative name") << n("Tolvane") << n("Tolvane/");
}

void tst_SettingsFolders::addBackslash()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(AddBackslash(path), expected);
}

void tst_SettingsFolders::folderExists_data()
{
    QTest::addColumn<QString>("relative");   // made under the temporary folder
    QTest::addColumn<QString>("kind");       // what to make there first
    QTest::addColumn<bool>("expected");
    QTest::newRow("missing folder") << "missing" << "" << false;
    QTest::newRow("empty existing folder") << "empty" << "dir" << true;
    QTest::newRow("empty existing folder with separator") << "empty/" << "dir" << true;
    QTest::newRow("a file is not a folder") << "file.txt" << "file" << false;
    QTest::newRow("link to a folder") << "link" << "dirlink" << true;
    QTest::newRow("dangling link") << "link" << "danglinglink" << false;
}

void tst_SettingsFolders::folderExists()
{
    QFETCH(QString, relative);
    QFETCH(QString, kind);
    QFETCH(bool, expected);
    QDir base(m_dir->path());
    const QString name = QString(relative).remove(u'/');
    if (kind == QLatin1String("dir")) {
        QVERIFY(base.mkdir(name));
    } else if (kind == QLatin1String("file")) {
        QFile f(base.filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("dirlink")) {
        QVERIFY(base.mkdir(QStringLiteral("target")));
        QVERIFY(QFile::link(base.filePath(QStringLiteral("target")), base.filePath(name)));
    } else if (kind == QLatin1String("danglinglink")) {
        QVERIFY(QFile::link(base.filePath(QStringLiteral("gone")), base.filePath(name)));
    }
    QCOMPARE(FolderExists(base.filePath(relative)), expected);
}

void tst_SettingsFolders::createFolderPath_data()
{
    QTest::addColumn<QStringList>("existing");  // folders made first, under the temp folder
    QTest::addColumn<QString>("file");          // a plain file made first ("" for none)
    QTest::addColumn<QString>("path");          // relative to the temp folder
    QTest::addColumn<bool>("relativeCall");     // pass the path relative to the current dir
    QTest::addColumn<bool>("expected");
    QTest::addColumn<QStringList>("existAfter");
    QTest::addColumn<QStringList>("missingAfter");

    const QString longName(300, QLatin1Char('n'));
    QTest::newRow("partly existing path")
        << QStringList{"A"} << "" << "A/B/C" << false << true << QStringList{"A/B", "A/B/C"}
        << QStringList();
    QTest::newRow("trailing separator")
        << QStringList{"A"} << "" << "A/B/C/" << false << true << QStringList{"A/B/C"}
        << QStringList();
    QTest::newRow("whole path exists")
        << QStringList{"A", "A/B"} << "" << "A/B" << false << true << QStringList{"A/B"}
        << QStringList();
    QTest::newRow("nothing exists below the temp folder")
        << QStringList() << "" << "X/Y/Z" << false << true << QStringList{"X", "X/Y", "X/Y/Z"}
        << QStringList();
    QTest::newRow("relative to the current folder")
        << QStringList{"A"} << "" << "A/B/C" << true << true << QStringList{"A/B/C"}
        << QStringList();
    QTest::newRow("under a file fails")
        << QStringList{"A"} << "A/file" << "A/file/B/C" << false << false << QStringList{"A"}
        << QStringList{"A/file/B"};
    QTest::newRow("folders before a failing one stay")
        << QStringList{"A"} << "" << "A/new1/new2/" + longName + "/last" << false << false
        << QStringList{"A/new1", "A/new1/new2"} << QStringList{"A/new1/new2/" + longName};
}

void tst_SettingsFolders::createFolderPath()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, file);
    QFETCH(QString, path);
    QFETCH(bool, relativeCall);
    QFETCH(bool, expected);
    QFETCH(QStringList, existAfter);
    QFETCH(QStringList, missingAfter);

    QDir base(m_dir->path());
    for (const QString& d : existing)
        QVERIFY(base.mkpath(d));
    if (!file.isEmpty()) {
        QFile f(base.filePath(file));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    // The current directory is somewhere else than the path, unless the call is relative.
    QDir elsewhere(m_dir->path());
    QVERIFY(elsewhere.mkdir(QStringLiteral("cwd")));
    const QString cwd = relativeCall ? base.absolutePath() : elsewhere.filePath(QStringLiteral("cwd"));
    QVERIFY(QDir::setCurrent(cwd));
    const QString before = QDir::currentPath();

    QCOMPARE(CreateFolderPath(relativeCall ? path : base.filePath(path)), expected);

    QCOMPARE(QDir::currentPath(), before);
    for (const QString& d : existAfter)
        QVERIFY2(QFileInfo(base.filePath(d)).isDir(), qPrintable(d));
    for (const QString& d : missingAfter)
        QVERIFY2(!QFileInfo::exists(base.filePath(d)), qPrintable(d));
    if (!relativeCall)  // nothing made in the current directory
        QCOMPARE(QDir(cwd).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

void tst_SettingsFolders::createFolderPathRootOnly()
{
    const QString before = QDir::currentPath();
    QVERIFY(CreateFolderPath(QDir::rootPath()));
    QCOMPARE(QDir::currentPath(), before);
}

void tst_SettingsFolders::appDataFollowsXdgConfigHome()
{
#ifdef Q_OS_WIN
    qputenv("APPDATA", QFile::encodeName(QDir::toNativeSeparators(m_dir->path())));
    QCOMPARE(GetSpecialFolderPath(26), QDir::toNativeSeparators(m_dir->path()) + u'\\');
    return;
#endif
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path()));
    QCOMPARE(GetSpecialFolderPath(26), m_dir->path() + u'/');
}

void tst_SettingsFolders::appDataDefaultsToDotConfig()
{
#ifdef Q_OS_WIN
    QSKIP("the XDG default applies to Linux only");
#endif
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QFile::encodeName(m_dir->path()));
    QCOMPARE(GetSpecialFolderPath(26), m_dir->path() + QStringLiteral("/.config/"));
}

void tst_SettingsFolders::appDataIgnoresRelativeXdg()
{
#ifdef Q_OS_WIN
    QSKIP("the XDG rule applies to Linux only");
#endif
    // A relative XDG_CONFIG_HOME is invalid and ignored; otherwise the settings would
    // move with the current directory.
    qputenv("XDG_CONFIG_HOME", "relative/config");
    qputenv("HOME", QFile::encodeName(m_dir->path()));
    QCOMPARE(GetSpecialFolderPath(26), m_dir->path() + QStringLiteral("/.config/"));
}

void tst_SettingsFolders::unknownFolderIdIsEmpty_data()
{
    QTest::addColumn<int>("csidl");
    QTest::newRow("id 9999") << 9999;
    QTest::newRow("negative id") << -1;
    QTest::newRow("id 27, next to application data") << 27;
}

void tst_SettingsFolders::unknownFolderIdIsEmpty()
{
    QFETCH(int, csidl);
    QCOMPARE(GetSpecialFolderPath(csidl), QString());
}

void tst_SettingsFolders::settingsFolderIsTolvaneUnderAppData()
{
#ifdef Q_OS_WIN
    QSKIP("checked with the XDG folder on Linux");
#endif
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path()));
    QCOMPARE(SettingsFolder(), m_dir->path() + QStringLiteral("/Tolvane/"));
    // Start-up makes it when it is missing.
    QVERIFY(!FolderExists(SettingsFolder()));
    QVERIFY(CreateFolderPath(SettingsFolder()));
    QVERIFY(FolderExists(SettingsFolder()));
}

QTEST_GUILESS_MAIN(tst_SettingsFolders)
#include "tst_settings_folders.moc"
