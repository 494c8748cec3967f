// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// Localization of whole windows: number tags, type-specific texts, fonts with their
// fallback, and the mouse-pointer stack.

#include "localeui/localizeform.h"
#include "locale/modLocale.h"

#include <QApplication>
#include <QDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

namespace {

const QString kNoModule = QStringLiteral("/nonexistent/tolvane-test/LangRes.dll");

bool installed(const QString& family)
{
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// The family a window ends with when the language's fonts are not installed: id 3 if
// it is, else the platform's general font for "System".
QString fallbackFamily()
{
    const QString id3 = LStr(3);
    if (installed(id3))
        return id3;
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

// Stands in for the IP address control: its font lives in a font object.
class FontObject : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString Name MEMBER name NOTIFY changed)
    Q_PROPERTY(int Charset MEMBER charset NOTIFY changed)
public:
    QString name = QStringLiteral("Initial");
    int charset = -1;
signals:
    void changed();
};

class IpLikeControl : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QObject* Font READ fontObject)
public:
    explicit IpLikeControl(QWidget* parent)
        : QWidget(parent), m_font(new FontObject), m_inner(new QLabel(QStringLiteral("inner#1044"), this))
    {
        m_font->setParent(this);
    }
    QObject* fontObject() const { return m_font; }
    FontObject* m_font;
    QLabel* m_inner;  // the control's own inside
};

// A small design window with every kind of tagged text.
struct TestWindow {
    std::unique_ptr<QWidget> window{new QWidget};
    QRadioButton* radio = nullptr;
    QPushButton* back = nullptr;
    QLabel* typo = nullptr;
    QLabel* twoHashes = nullptr;
    QLabel* letters = nullptr;
    QLabel* missing = nullptr;
    QLabel* plain = nullptr;
    QLabel* bigBold = nullptr;
    QLabel* picture = nullptr;
    QLineEdit* edit = nullptr;
    QGroupBox* group = nullptr;
    QTabWidget* tabs = nullptr;
    QTabBar* tabBar = nullptr;
    QToolBar* toolBar = nullptr;
    QAction* openAction = nullptr;
    QAction* menuAction = nullptr;
    QMenu* menu = nullptr;
    QTreeWidget* tree = nullptr;
    QTableWidget* table = nullptr;
    IpLikeControl* ip = nullptr;
    QDialog* childWindow = nullptr;
    QLabel* childWindowLabel = nullptr;

    TestWindow()
    {
        QWidget* w = window.get();
        w->setWindowTitle(QStringLiteral("Wizard#1004"));
        auto* layout = new QVBoxLayout(w);
        radio = new QRadioButton(QStringLiteral("COM4#1044"), w);
        back = new QPushButton(QStringLiteral("(&B)#1000"), w);
        back->setToolTip(QStringLiteral("tip#1013"));
        back->setProperty("tag", QStringLiteral("x#1012"));
        typo = new QLabel(QStringLiteral("Ethenet#1041"), w);
        typo->setProperty("tag", 5);  // not a text: left alone
        twoHashes = new QLabel(QStringLiteral("Step #2 of #1000"), w);
        letters = new QLabel(QStringLiteral("Port#abc"), w);
        missing = new QLabel(QStringLiteral("Gone#9999"), w);
        plain = new QLabel(QStringLiteral("No tag here"), w);
        bigBold = new QLabel(QStringLiteral("#1003"), w);
        QFont big = bigBold->font();
        big.setPointSize(17);
        big.setBold(true);
        bigBold->setFont(big);
        picture = new QLabel(w);
        QPixmap pm(8, 8);
        pm.fill(Qt::red);
        picture->setPixmap(pm);
        edit = new QLineEdit(QStringLiteral("word#2"), w);
        group = new QGroupBox(QStringLiteral("Frame#1020"), w);
        tabs = new QTabWidget(w);
        tabs->addTab(new QWidget, QStringLiteral("Page#1005"));
        tabs->addTab(new QWidget, QStringLiteral("Page#1006"));
        tabs->setTabToolTip(1, QStringLiteral("#1031"));
        tabBar = new QTabBar(w);
        tabBar->addTab(QStringLiteral("#1039"));
        tabBar->addTab(QStringLiteral("#1040"));
        tabBar->setTabToolTip(0, QStringLiteral("#1042"));
        toolBar = new QToolBar(w);
        openAction = toolBar->addAction(QStringLiteral("Open#1039"));
        openAction->setToolTip(QStringLiteral("tip#1040"));
        menu = new QMenu(w);
        menu->addAction(QStringLiteral("#5009"));
        menu->addAction(QStringLiteral("#5010"));
        QMenu* sub = menu->addMenu(QStringLiteral("#5011"));
        sub->addAction(QStringLiteral("#5004"));
        menuAction = toolBar->addAction(QStringLiteral("Menu#1043"));
        menuAction->setMenu(menu);
        tree = new QTreeWidget(w);
        tree->setHeaderLabels({QStringLiteral("#1017"), QStringLiteral("#1016"), QStringLiteral("Plain")});
        table = new QTableWidget(1, 2, w);
        table->setHorizontalHeaderLabels({QStringLiteral("#1013"), QStringLiteral("#1012")});
        table->setVerticalHeaderLabels({QStringLiteral("#1026")});
        ip = new IpLikeControl(w);
        childWindow = new QDialog(w);
        childWindow->setWindowTitle(QStringLiteral("Other#1000"));
        childWindowLabel = new QLabel(QStringLiteral("Other#1001"), childWindow);
        for (QWidget* c : std::initializer_list<QWidget*>{radio, back, typo, twoHashes, letters, missing, plain, bigBold,
                                                          picture, edit, group, tabs, tabBar, toolBar, tree, table, ip})
            layout->addWidget(c);
    }
};

} // namespace

class tst_LocalizeForm : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void resolveTag_data();
    void resolveTag();
    void texts_data();
    void texts();
    void fontFallback_data();
    void fontFallback();
    void installedFontIsTaken();
    void mdiFrameKeepsFont();
    void osAndHandCursor();
    void pointerStack();
    void pointerStackKeepsCustomCursor();
    void pointerStackEmpty();
};

void tst_LocalizeForm::cleanup()
{
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

void tst_LocalizeForm::resolveTag_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("designer text dropped") << 1033 << "COM4#1044" << "COM4";
    QTest::newRow("misspelt design word") << 1033 << "Ethenet#1041" << "Ethernet";
    QTest::newRow("access key en") << 1033 << "(&B)#1000" << "&Back";
    QTest::newRow("access key ja") << 1041 << "(&B)#1000" << QString::fromUtf8("戻る(&B)");
    QTest::newRow("two hashes, last counts") << 1033 << "a#5#1000" << "&Back";
    QTest::newRow("two hashes, letters last") << 1033 << "a#1000#b" << "a#1000#b";
    QTest::newRow("letters after hash") << 1033 << "Port#abc" << "Port#abc";
    QTest::newRow("empty after hash") << 1033 << "Port#" << "Port#";
    QTest::newRow("no hash") << 1033 << "No tag" << "No tag";
    QTest::newRow("id without text") << 1033 << "Gone#9999" << "";
    QTest::newRow("ordinary text ending in a number") << 1033 << "word#2" << "Tahoma";
    QTest::newRow("blanks around id") << 1033 << "x# 1044 " << "COM4";
    QTest::newRow("negative id") << 1033 << "x#-1" << "";
    QTest::newRow("out of range") << 1033 << "x#99999999999" << "x#99999999999";
    QTest::newRow("empty text") << 1033 << "" << "";
    QTest::newRow("trailing blank kept") << 1033 << "#1007" << "Step 3: ";
}

void tst_LocalizeForm::resolveTag()
{
    QFETCH(int, lang);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    InitLocale(quint16(lang), kNoModule);
    QCOMPARE(ResolveTag(text), expected);
}

void tst_LocalizeForm::texts_data()
{
    QTest::addColumn<int>("lang");
    QTest::newRow("English") << 1033;
    QTest::newRow("Japanese") << 1041;
}

void tst_LocalizeForm::texts()
{
    QFETCH(int, lang);
    InitLocale(quint16(lang), kNoModule);
    QCOMPARE(CurrentLanguage(), quint16(lang));
    auto L = [lang](int id) { return LoadResStr(quint16(lang), id); };

    TestWindow t;
    LocalizeForm(t.window.get());

    QCOMPARE(t.window->windowTitle(), L(1004));
    QCOMPARE(t.radio->text(), L(1044));
    QCOMPARE(t.back->text(), L(1000));
    QCOMPARE(t.back->toolTip(), L(1013));
    QCOMPARE(t.back->property("tag").toString(), L(1012));
    QCOMPARE(t.typo->text(), L(1041));
    QCOMPARE(t.typo->property("tag"), QVariant(5));
    QCOMPARE(t.twoHashes->text(), L(1000));
    QCOMPARE(t.letters->text(), QStringLiteral("Port#abc"));
    QCOMPARE(t.missing->text(), QString());
    QCOMPARE(t.plain->text(), QStringLiteral("No tag here"));
    QVERIFY(!t.picture->pixmap().isNull());
    QCOMPARE(t.edit->text(), L(2));
    QCOMPARE(t.group->title(), L(1020));

    QCOMPARE(t.tabs->tabText(0), L(1005));
    QCOMPARE(t.tabs->tabText(1), L(1006));
    QCOMPARE(t.tabs->tabToolTip(1), L(1031));
    QCOMPARE(t.tabBar->tabText(0), L(1039));
    QCOMPARE(t.tabBar->tabText(1), L(1040));
    QCOMPARE(t.tabBar->tabToolTip(0), L(1042));

    QCOMPARE(t.openAction->text(), L(1039));
    QCOMPARE(t.openAction->toolTip(), L(1040));
    QCOMPARE(t.menuAction->text(), L(1043));
    const QList<QAction*> entries = t.menu->actions();
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0]->text(), L(5009));
    QCOMPARE(entries[1]->text(), L(5010));
    QCOMPARE(entries[2]->text(), L(5011));
    QCOMPARE(entries[2]->menu()->actions().at(0)->text(), L(5004));
    // The tool button shows what its action says.
    auto* openButton = qobject_cast<QToolButton*>(t.toolBar->widgetForAction(t.openAction));
    QVERIFY(openButton);
    QCOMPARE(openButton->text(), L(1039));

    QCOMPARE(t.tree->headerItem()->text(0), L(1017));
    QCOMPARE(t.tree->headerItem()->text(1), L(1016));
    QCOMPARE(t.tree->headerItem()->text(2), QStringLiteral("Plain"));
    QCOMPARE(t.table->horizontalHeaderItem(0)->text(), L(1013));
    QCOMPARE(t.table->horizontalHeaderItem(1)->text(), L(1012));
    QCOMPARE(t.table->verticalHeaderItem(0)->text(), L(1026));

    // Every control carries the language's character set.
    const int charset = L(5).toInt();
    QCOMPARE(charset, lang == 1041 ? 128 : 0);
    QCOMPARE(t.radio->property("charset"), QVariant(charset));
    QCOMPARE(t.tabs->property("charset"), QVariant(charset));
    // The IP address control gets its font through its font object.
    QCOMPARE(t.ip->m_font->charset, charset);
    QCOMPARE(t.ip->m_font->name, t.window->font().family());
    QVERIFY(!t.ip->property("charset").isValid());
    QCOMPARE(t.ip->m_inner->text(), QStringLiteral("inner#1044"));
    QVERIFY(!t.ip->m_inner->property("charset").isValid());
    // A child window is localized on its own, not as part of its owner.
    QCOMPARE(t.childWindow->windowTitle(), QStringLiteral("Other#1000"));
    QCOMPARE(t.childWindowLabel->text(), QStringLiteral("Other#1001"));

    // A second walk changes nothing more: resolved texts carry no tags.
    LocalizeForm(t.window.get());
    QCOMPARE(t.radio->text(), L(1044));
    QCOMPARE(t.window->windowTitle(), L(1004));
}

void tst_LocalizeForm::fontFallback_data()
{
    QTest::addColumn<int>("lang");
    QTest::addColumn<QVariant>("fontName");
    QTest::newRow("English, by version") << 1033 << QVariant();
    QTest::newRow("Japanese, by version") << 1041 << QVariant();
    QTest::newRow("refused name") << 1033 << QVariant(QStringLiteral("No Such Family Tolvane"));
    QTest::newRow("refused name by id") << 1041 << QVariant(1);
}

void tst_LocalizeForm::fontFallback()
{
    QFETCH(int, lang);
    QFETCH(QVariant, fontName);
    InitLocale(quint16(lang), kNoModule);
    const QString chosen = fontName.isValid() ? LStr(fontName) : LStr(2);
    if (installed(chosen))
        QSKIP("the language's font is installed here, so no fallback happens");

    TestWindow t;
    LocalizeForm(t.window.get(), fontName);
    const QString expected = fallbackFamily();
    QCOMPARE(t.window->font().family(), expected);
    // The window's own character set is set on the last fallback only.
    if (!installed(LStr(3)))
        QCOMPARE(t.window->property("charset"), QVariant(LStr(5).toInt()));
    QCOMPARE(t.radio->font().family(), expected);
    QCOMPARE(t.group->font().family(), expected);
    // Only the family changes: size and weight stay.
    QCOMPARE(t.bigBold->font().family(), expected);
    QCOMPARE(t.bigBold->font().pointSize(), 17);
    QVERIFY(t.bigBold->font().bold());
}

void tst_LocalizeForm::installedFontIsTaken()
{
    InitLocale(kLangJapanese, kNoModule);
    const QStringList families = QFontDatabase::families();
    QVERIFY(!families.isEmpty());
    const QString family = families.last();
    TestWindow t;
    LocalizeForm(t.window.get(), family);
    QCOMPARE(t.window->font().family(), family);
    QVERIFY(!t.window->property("charset").isValid());
    QCOMPARE(t.back->font().family(), family);
    QCOMPARE(t.back->property("charset"), QVariant(128));
    QCOMPARE(t.ip->m_font->name, family);
    QCOMPARE(t.ip->m_font->charset, 128);
}

void tst_LocalizeForm::mdiFrameKeepsFont()
{
    InitLocale(kLangEnglish, kNoModule);
    QMainWindow frame;
    frame.setWindowTitle(QStringLiteral("Main#1036"));
    auto* mdi = new QMdiArea;
    frame.setCentralWidget(mdi);
    auto* label = new QLabel(QStringLiteral("x#1038"), mdi);
    QFont own = frame.font();
    own.setFamily(QStringLiteral("Kept Family Tolvane"));
    frame.setFont(own);
    const QString installedFamily = QFontDatabase::families().first();
    LocalizeForm(&frame, installedFamily);
    QCOMPARE(frame.font().family(), QStringLiteral("Kept Family Tolvane"));
    QCOMPARE(frame.windowTitle(), QStringLiteral("Executable Token Settings"));
    QCOMPARE(label->text(), QStringLiteral("IP Address"));
    QCOMPARE(label->font().family(), installedFamily);
}

void tst_LocalizeForm::osAndHandCursor()
{
#ifndef Q_OS_WIN
    QCOMPARE(GetOSMajorVersion(), 10);
#else
    QVERIFY(GetOSMajorVersion() >= 5);
#endif
    const auto hand = GetHandCursor();
    QVERIFY(hand.has_value());
    QCOMPARE(hand->shape(), Qt::PointingHandCursor);
}

void tst_LocalizeForm::pointerStack()
{
    QCOMPARE(ScreenMousePointer(), qint16(0));
    ChangeMousePointer(11);
    QCOMPARE(ScreenMousePointer(), qint16(11));
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    ChangeMousePointer(0);
    QCOMPARE(ScreenMousePointer(), qint16(0));
    QVERIFY(!QGuiApplication::overrideCursor());

    QCOMPARE(UnChangeMousePointer(), qint16(1));
    QCOMPARE(ScreenMousePointer(), qint16(11));
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QCOMPARE(UnChangeMousePointer(), qint16(0));
    QCOMPARE(ScreenMousePointer(), qint16(0));
    QVERIFY(!QGuiApplication::overrideCursor());

    ChangeMousePointer(99);
    QCOMPARE(ScreenMousePointer(), qint16(99));
    QCOMPARE(UnChangeMousePointer(), qint16(0));
    QCOMPARE(ScreenMousePointer(), qint16(0));
}

void tst_LocalizeForm::pointerStackKeepsCustomCursor()
{
    QPixmap pm(16, 16);
    pm.fill(Qt::blue);
    QGuiApplication::setOverrideCursor(QCursor(pm));
    QCOMPARE(ScreenMousePointer(), qint16(99));
    ChangeMousePointer(11);
    QCOMPARE(ScreenMousePointer(), qint16(11));
    QCOMPARE(UnChangeMousePointer(), qint16(0));
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::BitmapCursor);
    QCOMPARE(ScreenMousePointer(), qint16(99));
}

void tst_LocalizeForm::pointerStackEmpty()
{
    // The screen shows the busy pointer, but nothing was pushed.
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    QTest::ignoreMessage(QtWarningMsg, "Error in UnChangeMousePointer");
    QCOMPARE(UnChangeMousePointer(), qint16(0));
    // Nothing changed.
    QCOMPARE(ScreenMousePointer(), qint16(11));

    // One more than was pushed: the extra one only reports.
    ChangeMousePointer(0);
    QCOMPARE(ScreenMousePointer(), qint16(0));
    QCOMPARE(UnChangeMousePointer(), qint16(0));
    QCOMPARE(ScreenMousePointer(), qint16(11));
    QTest::ignoreMessage(QtWarningMsg, "Error in UnChangeMousePointer");
    QCOMPARE(UnChangeMousePointer(), qint16(0));
    QCOMPARE(ScreenMousePointer(), qint16(11));
}

QTEST_MAIN(tst_LocalizeForm)
#include "tst_localizeform.moc"
