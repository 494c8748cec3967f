// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard window without a controller: its controls, option handlers, lists, layout
// rule, keyboard order and texts in both languages.

#include "apptestutil.h"
#include "controller/commlink.h"
#include "controller/engine.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QTabWidget>
#include <QTest>
#include <memory>

using namespace apptest;

class tst_AppWindow : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_config;

    // A window whose address field holds a loopback address nobody listens on, so a
    // stray Next could never leave this machine.
    std::unique_ptr<frmMain> MakeWindow()
    {
        auto w = std::make_unique<frmMain>();
        SetIP(*w, "uctIPAddress1", {127, 0, 3, 1});
        return w;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        UseConfigHome(m_config);
        WriteLangId(QStringLiteral("1033"));
    }

    void startState()
    {
        auto w = std::make_unique<frmMain>();
        QCOMPARE(GetIP(*w, "uctIPAddress1"), (std::array<quint8, 4>{192, 168, 0, 1}));
        SetIP(*w, "uctIPAddress1", {127, 0, 3, 1});
        QCOMPARE(w->windowTitle(), QStringLiteral("RC Tolvane"));
        QCOMPARE(w->currentStep(), 0);
        QVERIFY(!w->changed());
        QVERIFY(Find<QRadioButton>(*w, "optDevice_0")->isChecked());
        QVERIFY(!Find<QRadioButton>(*w, "optDevice_1")->isChecked());
        QVERIFY(Find<QWidget>(*w, "uctIPAddress1")->isEnabled());
        struct ListState {
            const char* name;
            QString text;
            bool enabled;
        };
        const ListState lists[] = {
            {"cmbBaudRate1", "38400", false}, {"cmbParity1", "None", false},
            {"cmbDataLength1", "8", false},   {"cmbStopbit1", "1", false},
            {"cmbDevice", "Ethernet", true},  {"cmbBaudRate4", "38400", true},
            {"cmbParity4", "None", false},    {"cmbDataLength4", "8", false},
            {"cmbStopbit4", "1", false},      {"cmbDelimiter4", "CR", false},
        };
        for (const ListState& l : lists) {
            auto* combo = Find<QComboBox>(*w, l.name);
            QVERIFY2(combo, l.name);
            QCOMPARE(combo->currentText(), l.text);
            // Pages not shown yet are switched off as a whole; the list's own state counts.
            QCOMPARE(combo->isEnabledTo(combo->parentWidget()), l.enabled);
            QVERIFY2(!combo->isEditable(), l.name);
        }
        QVERIFY(!Find<QComboBox>(*w, "cmbPort1")->isEnabled());
        QVERIFY(Find<QRadioButton>(*w, "optToken_2")->isChecked());
        for (const char* name : {"optToken_0", "optToken_1", "optToken_3", "optToken_4", "optToken_5"})
            QVERIFY2(!Find<QRadioButton>(*w, name)->isChecked(), name);
        auto* uctIP = Find<QWidget>(*w, "uctIP");
        QVERIFY(uctIP->isEnabledTo(uctIP->parentWidget()));
        QCOMPARE(GetIP(*w, "uctIP"), (std::array<quint8, 4>{192, 168, 0, 1}));
        QVERIFY(Find<QPushButton>(*w, "cmdBack")->isHidden());
        QCOMPARE(Find<QLabel>(*w, "lblTitle")->text(), LStr(1034));
        QCOMPARE(Find<QLabel>(*w, "lblExplanation1")->text(), LStr(102));
        QCOMPARE(Find<QTabWidget>(*w, "tabWizard")->currentIndex(), 0);
    }

    void deviceOption_data()
    {
        QTest::addColumn<int>("element");
        QTest::addColumn<bool>("ipEnabled");
        QTest::addColumn<bool>("serialEnabled");
        QTest::addColumn<int>("explanation");
        QTest::newRow("RS232C") << 1 << false << true << 103;
        QTest::newRow("Ethernet again") << 0 << true << false << 102;
    }
    void deviceOption()
    {
        QFETCH(int, element);
        QFETCH(bool, ipEnabled);
        QFETCH(bool, serialEnabled);
        QFETCH(int, explanation);
        auto w = MakeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // Go through the other option first so that the click really changes the choice.
        ClickOption(Find<QRadioButton>(*w, element ? "optDevice_0" : "optDevice_1"));
        auto* option = Find<QRadioButton>(*w, element ? "optDevice_1" : "optDevice_0");
        ClickOption(option);
        QVERIFY(option->isChecked());
        QCOMPARE(Find<QWidget>(*w, "uctIPAddress1")->isEnabled(), ipEnabled);
        QCOMPARE(Find<QComboBox>(*w, "cmbPort1")->isEnabled(), serialEnabled);
        QCOMPARE(Find<QComboBox>(*w, "cmbBaudRate1")->isEnabled(), serialEnabled);
        for (const char* name : {"cmbParity1", "cmbDataLength1", "cmbStopbit1"})
            QVERIFY2(!Find<QComboBox>(*w, name)->isEnabled(), name);
        QCOMPARE(Find<QLabel>(*w, "lblExplanation1")->text(), LStr(explanation));
        QVERIFY(!Find<QLabel>(*w, "lblExplanation1")->text().isEmpty());
    }

    // Closing before the controller was ever reached asks nothing of the controller; the
    // engine's objects are released.
    void closeBeforeConnecting_data()
    {
        QTest::addColumn<bool>("cancel");
        QTest::newRow("Cancel") << true;
        QTest::newRow("close box") << false;
    }
    void closeBeforeConnecting()
    {
        QFETCH(bool, cancel);
        MsgBoxRecorder boxes;
        auto w = MakeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(w->link() && w->link()->ok());
        QStringList calls;
        w->link()->engine()->setTraceHook([&calls](const QString& line) { calls << line; });
        if (cancel)
            Click(*w, "cmdCancel");
        else
            w->close();
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(calls, QStringList());
        QVERIFY(!w->link());
        QCOMPARE(boxes.calls.size(), 0);  // no question on the way out
    }

    void deviceOptionOutOfRange()
    {
        auto w = MakeWindow();
        const QString before = Find<QLabel>(*w, "lblExplanation1")->text();
        w->optDevice_Click(2);
        w->optDevice_Click(-1);
        QVERIFY(Find<QWidget>(*w, "uctIPAddress1")->isEnabled());
        QCOMPARE(Find<QLabel>(*w, "lblExplanation1")->text(), before);
    }

    void tokenOption_data()
    {
        QTest::addColumn<int>("element");
        for (int i = 0; i < 6; ++i)
            QTest::addRow("optToken_%d", i) << i;
    }
    void tokenOption()
    {
        QFETCH(int, element);
        auto w = MakeWindow();
        auto* uctIP = Find<QWidget>(*w, "uctIP");
        SetIP(*w, "uctIP", {10, 1, 2, 3});
        const QByteArray name = "optToken_" + QByteArray::number(element);
        auto* option = Find<QRadioButton>(*w, name.constData());
        // The token page is shown so that the click reaches the button.
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto* tabs = Find<QTabWidget>(*w, "tabWizard");
        tabs->setTabEnabled(4, true);
        tabs->setCurrentIndex(4);
        ClickOption(Find<QRadioButton>(*w, element == 2 ? "optToken_0" : "optToken_2"));
        ClickOption(option);
        QVERIFY(option->isChecked());
        QCOMPARE(uctIP->isEnabled(), element == 2);
        // Disabling keeps the address.
        QCOMPARE(GetIP(*w, "uctIP"), (std::array<quint8, 4>{10, 1, 2, 3}));
    }

    void fillComboAppends()
    {
        QComboBox list;
        list.addItem(QStringLiteral("first"), 7);
        frmMain::FillCombo(&list, {"a", "b", "c"}, {10, 20, 30}, 2, false);
        QCOMPARE(list.count(), 4);
        QCOMPARE(list.itemText(0), QStringLiteral("first"));
        QCOMPARE(list.itemData(0).toInt(), 7);
        QCOMPARE(list.itemText(3), QStringLiteral("c"));
        QCOMPARE(list.itemData(3).toInt(), 30);
        QCOMPARE(list.currentIndex(), 2);
        QCOMPARE(list.currentText(), QStringLiteral("b"));
        QVERIFY(!list.isEnabled());
        frmMain::FillCombo(nullptr, {"x"}, {1}, 0, true);  // no list: nothing happens
    }

    void selectComboItem_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<bool>("found");
        QTest::addColumn<int>("position");
        QTest::newRow("missing keeps the selection") << 5 << false << 2;
        QTest::newRow("present") << 1 << true << 1;
        QTest::newRow("first match wins") << 0 << true << 0;
    }
    void selectComboItem()
    {
        QFETCH(int, value);
        QFETCH(bool, found);
        QFETCH(int, position);
        QComboBox list;
        frmMain::FillCombo(&list, {"zero", "one", "two", "zero again"}, {0, 1, 2, 0}, 2, true);
        QCOMPARE(frmMain::SelectComboItem(&list, value), found);
        QCOMPARE(list.currentIndex(), position);
        QVERIFY(!frmMain::SelectComboItem(nullptr, value));
    }

    void layoutRule()
    {
        auto w = MakeWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto* header = Find<QWidget>(*w, "picHeader");
        auto* tabs = Find<QWidget>(*w, "tabWizard");
        auto* navi = Find<QWidget>(*w, "frmNavi");
        // Designed sizes in twips, 15 to a pixel.
        QCOMPARE(header->height() * 15, 735);
        QCOMPARE(tabs->height() * 15, 4560);
        QCOMPARE(navi->height() * 15, 435);
        const int width = w->width();
        QCOMPARE(width, qRound(7665 / 15.0));
        const double T = frmMain::kTabStripTwips;
        const int n = qRound(735 + 4560 - T);
        const int expectTabsTop = qRound((735 - T - 100) / 15.0);
        const int expectNaviTop = qRound((n - T - 50) / 15.0);
        const int expectHeight = qRound((n + 435 + 150) / 15.0) - frmMain::kFrameExtraPx;

        tabs->move(0, 100);
        navi->move(0, 0);
        w->Form_Resize();
        QCOMPARE(tabs->y(), expectTabsTop);
        QCOMPARE(navi->y(), expectNaviTop);
        QCOMPARE(w->height(), expectHeight);
        QCOMPARE(w->width(), width);

        // A resize of the window runs the rule again: the height comes back, the width
        // stays as it is.
        w->setMinimumHeight(0);
        w->setMaximumHeight(QWIDGETSIZE_MAX);
        w->resize(width, expectHeight + 120);
        QTRY_COMPARE(w->height(), expectHeight);
        QCOMPARE(w->width(), width);
        // The buttons lie inside the client area, below the pages.
        QVERIFY(navi->geometry().bottom() < w->height());
        QVERIFY(Find<QWidget>(*w, "cmdNext")->mapTo(w.get(), QPoint(0, 0)).y() + 25 <= w->height());
        const QWidget* frame = Find<QWidget>(*w, "frmToken");
        QVERIFY(frame->mapTo(w.get(), QPoint(0, frame->height())).y() <= navi->y());
        QVERIFY(frame->mapTo(w.get(), QPoint(0, 0)).y() >= header->geometry().bottom());
    }

    void designedPositions_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("twips");
        QTest::newRow("cmdBack") << "cmdBack" << QRect(3450, 0, 1320, 375);
        QTest::newRow("cmdNext") << "cmdNext" << QRect(4769, 0, 1320, 375);
        QTest::newRow("cmdCancel") << "cmdCancel" << QRect(6217, 0, 1320, 375);
        QTest::newRow("cmdFind") << "cmdFind" << QRect(120, 0, 1320, 375);
        QTest::newRow("frmStep1") << "frmStep1" << QRect(120, 480, 7455, 3675);
        QTest::newRow("frmToken") << "frmToken" << QRect(120, 480, 7455, 3735);
        QTest::newRow("optToken_5") << "optToken_5" << QRect(300, 2460, 3975, 255);
        QTest::newRow("cmbStopbit1") << "cmbStopbit1" << QRect(1920, 3120, 2415, 300);
        QTest::newRow("lblPort_0") << "lblPort_0" << QRect(480, 1755, 1395, 255);
        QTest::newRow("lblExplanation3") << "lblExplanation3" << QRect(4560, 600, 2715, 2895);
    }
    void designedPositions()
    {
        QFETCH(QString, name);
        QFETCH(QRect, twips);
        auto w = MakeWindow();
        auto* control = w->findChild<QWidget*>(name);
        QVERIFY(control);
        const QRect expected(qRound(twips.x() / 15.0), qRound(twips.y() / 15.0),
                             qRound(twips.width() / 15.0), qRound(twips.height() / 15.0));
        QCOMPARE(control->geometry(), expected);
    }

    // Tab walks each page from top to bottom, then Next, Back and Cancel (and Find on
    // the connection page), and round again; of a group of option buttons only the chosen one is a stop, and disabled
    // controls are passed over.
    void keyboardOrder_data()
    {
        QTest::addColumn<int>("page");
        QTest::addColumn<bool>("backShown");
        QTest::addColumn<QStringList>("order");
        QTest::newRow("connection, Ethernet")
            << 0 << false << QStringList{"optDevice_0", "uctIPAddress1", "cmdNext", "cmdCancel", "cmdFind"};
        QTest::newRow("connection, RS232C")
            << 0 << false
            << QStringList{"optDevice_1", "cmbPort1", "cmbBaudRate1", "cmdNext", "cmdCancel", "cmdFind"};
        QTest::newRow("permission") << 1 << true << QStringList{"cmbDevice", "cmdNext", "cmdBack", "cmdCancel"};
        QTest::newRow("Ethernet")
            << 2 << true << QStringList{"uctIPAddress3", "uctSubnetMask", "cmdNext", "cmdBack", "cmdCancel"};
        QTest::newRow("RS232C") << 3 << true << QStringList{"cmbBaudRate4", "cmdNext", "cmdBack", "cmdCancel"};
        QTest::newRow("token, Ethernet")
            << 4 << true << QStringList{"optToken_2", "uctIP", "cmdNext", "cmdBack", "cmdCancel"};
        QTest::newRow("token, COM3") << 4 << true << QStringList{"optToken_4", "cmdNext", "cmdBack", "cmdCancel"};
    }
    void keyboardOrder()
    {
        QFETCH(int, page);
        QFETCH(bool, backShown);
        QFETCH(QStringList, order);
        auto w = MakeWindow();
        // Present the page as the flow would (the flow itself needs a controller).
        auto* tabs = Find<QTabWidget>(*w, "tabWizard");
        for (int i = 0; i < tabs->count(); ++i)
            tabs->setTabEnabled(i, i == page);
        tabs->setCurrentIndex(page);
        Find<QPushButton>(*w, "cmdBack")->setVisible(backShown);
        Find<QPushButton>(*w, "cmdFind")->setVisible(page == 0);
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto* first = w->findChild<QWidget*>(order.first());
        if (auto* option = qobject_cast<QRadioButton*>(first))
            option->setChecked(true);
        first->setFocus();
        QTRY_VERIFY(first->hasFocus() || first->isAncestorOf(QApplication::focusWidget()));
        // The control of a page frame or the button band that holds the focus (an IP
        // control's fields count as it).
        auto current = [&]() {
            for (QWidget* f = QApplication::focusWidget(); f && f->parentWidget(); f = f->parentWidget())
                if (f->parentWidget()->objectName().startsWith(QLatin1String("frm")))
                    return f->objectName();
            return QString();
        };
        QStringList seen{current()};
        for (int presses = 0; presses < 30 && seen.size() < order.size() + 1; ++presses) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            if (current() != seen.last())
                seen << current();
        }
        QCOMPARE(seen.mid(0, order.size()), order);
        QCOMPARE(seen.value(order.size()), order.first());  // and round again
    }

    // Pages change only through Next and Back: the page container's own keys (Ctrl+Tab,
    // Ctrl+Shift+Tab) switch nothing on the page the window opens with.
    void pageKeysSwitchNothing_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << int(Qt::ControlModifier);
        QTest::newRow("Ctrl+Shift+Tab") << int(Qt::Key_Backtab) << int(Qt::ControlModifier | Qt::ShiftModifier);
        QTest::newRow("Ctrl+PageDown") << int(Qt::Key_PageDown) << int(Qt::ControlModifier);
    }
    void pageKeysSwitchNothing()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        MsgBoxRecorder boxes;
        auto w = MakeWindow();
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto* tabs = Find<QTabWidget>(*w, "tabWizard");
        for (const char* name : {"optDevice_0", "uctIPAddress1", "cmdNext"}) {
            auto* target = w->findChild<QWidget*>(QLatin1String(name));
            target->setFocus();
            QTRY_VERIFY(target->hasFocus() || target->isAncestorOf(QApplication::focusWidget()));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
            QCOMPARE(tabs->currentIndex(), 0);
            QCOMPARE(w->currentStep(), 0);
        }
        QCOMPARE(boxes.calls.size(), 0);
    }

    void enterAndEscapePressNothing_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::newRow("Enter on Next") << "cmdNext" << int(Qt::Key_Return);
        QTest::newRow("keypad Enter on Next") << "cmdNext" << int(Qt::Key_Enter);
        QTest::newRow("Escape on Next") << "cmdNext" << int(Qt::Key_Escape);
        QTest::newRow("Enter on Cancel") << "cmdCancel" << int(Qt::Key_Return);
        QTest::newRow("Escape on an option") << "optDevice_0" << int(Qt::Key_Escape);
    }
    void enterAndEscapePressNothing()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        MsgBoxRecorder boxes;
        auto w = MakeWindow();
        for (const char* name : {"cmdNext", "cmdBack", "cmdCancel"}) {
            QVERIFY(!Find<QPushButton>(*w, name)->isDefault());
            QVERIFY(!Find<QPushButton>(*w, name)->autoDefault());
        }
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto* target = w->findChild<QWidget*>(button);
        target->setFocus();
        QTRY_VERIFY(target->hasFocus());
        QTest::keyClick(target, Qt::Key(key));
        QVERIFY(w->isVisible());
        QCOMPARE(w->currentStep(), 0);
        QCOMPARE(boxes.calls.size(), 0);
    }

    // The language comes from the settings file's leading number; 0 (no number, or one
    // that is no language id) lets the system choose: Japanese here (LANG=ja_JP.UTF-8).
    void startupLanguage_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("writeFile");
        QTest::addColumn<int>("expectLang");
        QTest::newRow("1041") << "1041" << true << int(kLangJapanese);
        QTest::newRow("1033") << "1033" << true << int(kLangEnglish);
        QTest::newRow("empty value") << "" << true << int(kLangJapanese);
        QTest::newRow("no file") << "" << false << int(kLangJapanese);
        QTest::newRow("leading number") << " 1033 English" << true << int(kLangEnglish);
        QTest::newRow("fraction rounds") << "1032.6" << true << int(kLangEnglish);
        QTest::newRow("no number") << "English" << true << int(kLangJapanese);
        QTest::newRow("beyond 16 bits") << "66569" << true << int(kLangJapanese);
        QTest::newRow("negative") << "-1033" << true << int(kLangJapanese);
    }
    void startupLanguage()
    {
        QFETCH(QString, value);
        QFETCH(bool, writeFile);
        QFETCH(int, expectLang);
        QCOMPARE(int(SystemDefaultLangID()), int(kLangJapanese));
        if (writeFile)
            WriteLangId(value);
        else
            RemoveSettingsFile();
        auto w = MakeWindow();
        QCOMPARE(int(CurrentLanguage()), expectLang);
        const QString next = Find<QPushButton>(*w, "cmdNext")->text();
        QCOMPARE(next, expectLang == kLangJapanese ? QStringLiteral("次へ(&N)") : QStringLiteral("&Next"));
        QCOMPARE(Find<QLabel>(*w, "lblTitle")->text(), LStr(1034));
        WriteLangId(QStringLiteral("1033"));
    }

    void textsResolved_data()
    {
        QTest::addColumn<QString>("langId");
        QTest::addColumn<int>("expectLang");
        QTest::newRow("English") << "1033" << int(kLangEnglish);
        QTest::newRow("Japanese") << "1041" << int(kLangJapanese);
    }
    void textsResolved()
    {
        QFETCH(QString, langId);
        QFETCH(int, expectLang);
        WriteLangId(langId);
        auto w = MakeWindow();
        QCOMPARE(int(CurrentLanguage()), expectLang);
        // Visit every page so that every explanation and caption has been set.
        for (int step = 0; step < 5; ++step) {
            auto* tabs = Find<QTabWidget>(*w, "tabWizard");
            tabs->setCurrentIndex(step);
        }
        QStringList texts;
        for (QWidget* child : w->findChildren<QWidget*>()) {
            if (auto* label = qobject_cast<QLabel*>(child))
                texts << label->text();
            if (auto* button = qobject_cast<QAbstractButton*>(child))
                texts << button->text();
            if (auto* group = qobject_cast<QGroupBox*>(child))
                texts << group->title();
            if (auto* combo = qobject_cast<QComboBox*>(child))
                for (int i = 0; i < combo->count(); ++i)
                    texts << combo->itemText(i);
        }
        auto* tabs = Find<QTabWidget>(*w, "tabWizard");
        for (int i = 0; i < tabs->count(); ++i)
            texts << tabs->tabText(i);
        for (const QString& text : texts)
            QVERIFY2(!text.contains(QLatin1Char('#')), qPrintable(text));
        // Every tagged caption found its text.
        struct Tagged {
            const char* name;
            int id;
        };
        const Tagged tagged[] = {
            {"cmdBack", 1000},    {"cmdNext", 1001},     {"cmdCancel", 1002},  {"optDevice_0", 1022},
            {"optDevice_1", 1023}, {"lblIPAddress", 1025}, {"lblPort_0", 1026}, {"lblStopbit", 1030},
            {"lblExplain", 1024}, {"lblEtherNet", 1020},  {"lblSubNet", 1016},  {"lblDelimiter", 1009},
            {"optToken_0", 1039}, {"optToken_5", 1044},   {"Label1", 1038},     {"Label6", 1037},
        };
        for (const Tagged& t : tagged) {
            auto* widget = w->findChild<QWidget*>(QLatin1String(t.name));
            QVERIFY2(widget, t.name);
            QString text;
            if (auto* label = qobject_cast<QLabel*>(widget))
                text = label->text();
            else if (auto* button = qobject_cast<QAbstractButton*>(widget))
                text = button->text();
            QVERIFY2(!text.isEmpty(), t.name);
            QCOMPARE(text, LStr(t.id));
        }
        QCOMPARE(Find<QGroupBox>(*w, "frmStep1")->title(), LStr(1021));
        QCOMPARE(Find<QGroupBox>(*w, "frmToken")->title(), LStr(1035));
        QCOMPARE(tabs->tabText(4), LStr(1036));
        QCOMPARE(w->windowTitle(), QStringLiteral("RC Tolvane"));
        // No caption is cut off: each one-line label is as wide as its text, and every
        // page title fits the title label.
        for (QLabel* label : w->findChildren<QLabel*>()) {
            if (label->wordWrap() || label->text().isEmpty())
                continue;
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
            // The design keeps 45 twips between a caption's text and the control after it.
            for (QWidget* sibling : label->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
                const bool sameRow = sibling->y() < label->y() + label->height()
                                     && label->y() < sibling->y() + sibling->height();
                if (sibling != label && sameRow && sibling->x() > label->x())
                    QVERIFY2(label->x() + label->sizeHint().width() + 3 <= sibling->x(), qPrintable(label->text()));
            }
        }
        // The captions of the line's lists stay in line, each page's column by itself.
        const QStringList columns[] = {{"lblPort_0", "lblBaudRate", "lblParity", "lblDataLength", "lblStopbit"},
                                       {"Label2", "Label3", "Label4", "Label5", "lblDelimiter"}};
        for (const QStringList& column : columns)
            for (const QString& name : column)
                QCOMPARE(Find<QLabel>(*w, qPrintable(name))->x(), Find<QLabel>(*w, qPrintable(column[0]))->x());
        auto* title = Find<QLabel>(*w, "lblTitle");
        QCOMPARE(title->pos(), QPoint(qRound(180 / 15.0), qRound(150 / 15.0)));
        QVERIFY(title->font().bold());
        QCOMPARE(title->font().pointSize(), 12);
        for (int id : {1031, 1032, 1033, 1034, 1036}) {
            title->setText(LStr(id));
            QVERIFY2(title->sizeHint().width() <= title->width(), qPrintable(title->text()));
            QVERIFY2(title->sizeHint().height() <= title->height(), qPrintable(title->text()));
        }
        WriteLangId(QStringLiteral("1033"));
    }
};

QTEST_MAIN(tst_AppWindow)
#include "tst_app_window.moc"
