// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The IP address control under the keyboard and the clipboard, as an engineer uses it:
// typing, moving between fields, tabbing through the window, pasting and copying.

#include "controls/announce.h"
#include "controls/uctIPAddressCtrl.h"
#include "locale/modLocale.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QSignalSpy>
#include <QTest>
#include <memory>

class tst_IPAddressInput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void tabIntoControlPutsCaretInFirstField();
    void typeDottedAddress();
    void autoAdvanceAfterThreeDigits_data();
    void autoAdvanceAfterThreeDigits();
    void dotOrBlankMovesOn_data();
    void dotOrBlankMovesOn();
    void backspaceAtStartGoesBack();
    void leftRightCrossFields();
    void homeAndEnd();
    void lettersIgnored();
    void typedValueKeptInRange_data();
    void typedValueKeptInRange();
    void leavingFieldAppliesRange();
    void rangeNoteLeavesWithTheFocus();
    void fullFieldDigitStartsNextField();
    void tabLeavesControl();
    void disabledControlIsSkipped();
    void pasteDottedAddress_data();
    void pasteDottedAddress();
    void pastePlainNumberIntoField();
    void copyGivesDottedAddress();
    void copyPasteBetweenControls();
    void contextMenuWorksOnWholeAddress_data();
    void contextMenuWorksOnWholeAddress();
    void accessibleNames_data();
    void accessibleNames();
    void addressChangedSignal();

private:
    QLineEdit* field(int i) const { return m_ctrl->HostedWindow()->Field(i); }
    int focusedField() const;
    void type(const QString& keys);
    QString address() const;

    std::unique_ptr<QWidget> m_window;
    QStringList m_announced;  // what the control told assistive technology
    QLineEdit* m_before = nullptr;
    uctIPAddressCtrl* m_ctrl = nullptr;
    QLineEdit* m_after = nullptr;
};

void tst_IPAddressInput::initTestCase()
{
    InitLocale(kLangEnglish);
    SetAnnounceHandler([this](QWidget*, const QString& text) { m_announced << text; });
}

void tst_IPAddressInput::init()
{
    m_announced.clear();
    m_window = std::make_unique<QWidget>();
    m_window->resize(240, 120);
    m_before = new QLineEdit(m_window.get());
    m_before->setObjectName(QStringLiteral("before"));
    m_before->setGeometry(10, 10, 160, 21);
    m_ctrl = new uctIPAddressCtrl(m_window.get());
    m_ctrl->setObjectName(QStringLiteral("uctIPAddress1"));
    m_ctrl->move(10, 40);
    m_after = new QLineEdit(m_window.get());
    m_after->setObjectName(QStringLiteral("after"));
    m_after->setGeometry(10, 70, 160, 21);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    m_before->setFocus();
    QTRY_VERIFY(m_before->hasFocus());
}

void tst_IPAddressInput::cleanup()
{
    m_window.reset();
}

int tst_IPAddressInput::focusedField() const
{
    for (int i = 0; i < 4; ++i) {
        if (field(i)->hasFocus())
            return i;
    }
    return -1;
}

void tst_IPAddressInput::type(const QString& keys)
{
    for (QChar c : keys)
        QTest::keyClick(QApplication::focusWidget(), c.toLatin1());
}

QString tst_IPAddressInput::address() const
{
    quint8 a = 0, b = 0, c = 0, d = 0;
    m_ctrl->GetIPAddress(a, b, c, d);
    return QStringLiteral("%1.%2.%3.%4").arg(a).arg(b).arg(c).arg(d);
}

void tst_IPAddressInput::tabIntoControlPutsCaretInFirstField()
{
    m_ctrl->SetIPAddress(192, 168, 0, 1);
    QTest::keyClick(m_before, Qt::Key_Tab);
    QTRY_COMPARE(focusedField(), 0);
    QCOMPARE(field(0)->selectedText(), QStringLiteral("192"));
    // Typing replaces the selected digits.
    type(QStringLiteral("10"));
    QCOMPARE(field(0)->text(), QStringLiteral("10"));
}

void tst_IPAddressInput::typeDottedAddress()
{
    m_ctrl->Clear();
    m_ctrl->setFocus(Qt::OtherFocusReason);
    QTRY_COMPARE(focusedField(), 0);
    type(QStringLiteral("10.1.2.3"));
    QCOMPARE(address(), QStringLiteral("10.1.2.3"));
    QCOMPARE(focusedField(), 3);
    QCOMPARE(m_ctrl->AddressText(), QStringLiteral("10.1.2.3"));
}

void tst_IPAddressInput::autoAdvanceAfterThreeDigits_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<int>("focused");
    QTest::newRow("192168") << QStringLiteral("192168") << QStringLiteral("192|168||") << 2;
    QTest::newRow("1921680") << QStringLiteral("1921680") << QStringLiteral("192|168|0|") << 2;
    QTest::newRow("twelve digits stay in the last field") << QStringLiteral("255255255255")
                                                          << QStringLiteral("255|255|255|255") << 3;
    QTest::newRow("two digits stay") << QStringLiteral("19") << QStringLiteral("19|||") << 0;
}

void tst_IPAddressInput::autoAdvanceAfterThreeDigits()
{
    QFETCH(QString, keys);
    QFETCH(QString, fields);
    QFETCH(int, focused);
    m_ctrl->Clear();
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(keys);
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts << field(i)->text();
    QCOMPARE(texts.join(QLatin1Char('|')), fields);
    QCOMPARE(focusedField(), focused);
}

void tst_IPAddressInput::dotOrBlankMovesOn_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<int>("focused");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QString>("start");  // the address shown before; empty: a blank control
    QTest::newRow("digit then dot") << QStringLiteral("7.") << 1 << QStringLiteral("7|||") << QString();
    QTest::newRow("digit then blank") << QStringLiteral("7 ") << 1 << QStringLiteral("7|||") << QString();
    QTest::newRow("dot on an empty field stays") << QStringLiteral(".") << 0 << QStringLiteral("|||") << QString();
    QTest::newRow("blank on an empty field stays") << QStringLiteral(" ") << 0 << QStringLiteral("|||") << QString();
    QTest::newRow("two dots move once") << QStringLiteral("7..") << 1 << QStringLiteral("7|||") << QString();
    QTest::newRow("dot in the last field stays") << QStringLiteral("1.2.3.4.") << 3 << QStringLiteral("1|2|3|4") << QString();
    // After three digits the caret has passed the separator already; over an address
    // already shown a second move would leave a field with its old digits.
    const QString shown = QStringLiteral("10.20.30.40");
    QTest::newRow("dot after a full field is swallowed") << QStringLiteral("192.1") << 1
                                                         << QStringLiteral("192|1|30|40") << shown;
    QTest::newRow("blank after a full field is swallowed") << QStringLiteral("192 1") << 1
                                                           << QStringLiteral("192|1|30|40") << shown;
    QTest::newRow("only one separator is swallowed") << QStringLiteral("192.7.") << 2
                                                     << QStringLiteral("192|7|30|40") << shown;
    QTest::newRow("a dot later moves on again") << QStringLiteral("1921.") << 2
                                                << QStringLiteral("192|1|30|40") << shown;
}

void tst_IPAddressInput::dotOrBlankMovesOn()
{
    QFETCH(QString, keys);
    QFETCH(int, focused);
    QFETCH(QString, fields);
    QFETCH(QString, start);
    if (start.isEmpty())
        m_ctrl->Clear();
    else
        QVERIFY(m_ctrl->SetAddressText(start));
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(keys);
    QCOMPARE(focusedField(), focused);
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts << field(i)->text();
    QCOMPARE(texts.join(QLatin1Char('|')), fields);
}

void tst_IPAddressInput::backspaceAtStartGoesBack()
{
    m_ctrl->Clear();
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(QStringLiteral("10."));
    QCOMPARE(focusedField(), 1);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QCOMPARE(focusedField(), 0);
    QCOMPARE(field(0)->text(), QStringLiteral("10"));  // moving back deletes nothing
    QCOMPARE(field(0)->cursorPosition(), 2);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QCOMPARE(field(0)->text(), QStringLiteral("1"));
    // At the start of the first field there is nowhere to go.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backspace);
    QCOMPARE(focusedField(), 0);
    QVERIFY(m_ctrl->IsBlank());
}

void tst_IPAddressInput::leftRightCrossFields()
{
    m_ctrl->SetIPAddress(11, 22, 33, 44);
    m_ctrl->SetFieldFocus(1);
    QTRY_COMPARE(focusedField(), 1);
    field(1)->setCursorPosition(1);
    QTest::keyClick(field(1), Qt::Key_Left);  // inside the field
    QCOMPARE(focusedField(), 1);
    QCOMPARE(field(1)->cursorPosition(), 0);
    QTest::keyClick(field(1), Qt::Key_Left);  // at its start: to the end of field 0
    QCOMPARE(focusedField(), 0);
    QCOMPARE(field(0)->cursorPosition(), 2);
    QTest::keyClick(field(0), Qt::Key_Right);  // at its end: to the start of field 1
    QCOMPARE(focusedField(), 1);
    QCOMPARE(field(1)->cursorPosition(), 0);
    QTest::keyClick(field(1), Qt::Key_Right);
    QTest::keyClick(field(1), Qt::Key_Right);
    QTest::keyClick(field(1), Qt::Key_Right);
    QCOMPARE(focusedField(), 2);
    // No field beyond the edges.
    m_ctrl->SetFieldFocus(3);
    field(3)->setCursorPosition(2);
    QTest::keyClick(field(3), Qt::Key_Right);
    QCOMPARE(focusedField(), 3);
    m_ctrl->SetFieldFocus(0);
    field(0)->setCursorPosition(0);
    QTest::keyClick(field(0), Qt::Key_Left);
    QCOMPARE(focusedField(), 0);
    QCOMPARE(address(), QStringLiteral("11.22.33.44"));
}

void tst_IPAddressInput::homeAndEnd()
{
    m_ctrl->SetIPAddress(11, 22, 33, 144);
    m_ctrl->SetFieldFocus(2);
    QTRY_COMPARE(focusedField(), 2);
    QTest::keyClick(field(2), Qt::Key_End);
    QCOMPARE(focusedField(), 3);
    QCOMPARE(field(3)->cursorPosition(), 3);
    QTest::keyClick(field(3), Qt::Key_Home);
    QCOMPARE(focusedField(), 0);
    QCOMPARE(field(0)->cursorPosition(), 0);
}

void tst_IPAddressInput::lettersIgnored()
{
    m_ctrl->Clear();
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(QStringLiteral("1a2b-+x"));
    QCOMPARE(field(0)->text(), QStringLiteral("12"));
    QCOMPARE(focusedField(), 0);
}

void tst_IPAddressInput::typedValueKeptInRange_data()
{
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("note");  // what the control says beside the field
    const QString over = QStringLiteral("%1 is not a valid entry. Specify a value between 0 and 255.");
    QTest::newRow("256 becomes 255") << QStringLiteral("256") << QStringLiteral("255") << over.arg(256);
    QTest::newRow("999 becomes 255") << QStringLiteral("999") << QStringLiteral("255") << over.arg(999);
    QTest::newRow("300 becomes 255") << QStringLiteral("300") << QStringLiteral("255") << over.arg(300);
    QTest::newRow("255 stays") << QStringLiteral("255") << QStringLiteral("255") << QString();
    QTest::newRow("010 is ten, not octal") << QStringLiteral("010") << QStringLiteral("10") << QString();
    QTest::newRow("007 is seven") << QStringLiteral("007") << QStringLiteral("7") << QString();
    QTest::newRow("000 is zero") << QStringLiteral("000") << QStringLiteral("0") << QString();
}

void tst_IPAddressInput::typedValueKeptInRange()
{
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(QString, note);
    m_ctrl->Clear();
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(keys);
    QCOMPARE(field(0)->text(), shown);
    QCOMPARE(focusedField(), 1);
    quint8 a = 0, b = 0, c = 0, d = 0;
    m_ctrl->GetIPAddress(a, b, c, d);
    QCOMPARE(QString::number(a), shown);
    QLabel* shownNote = m_ctrl->HostedWindow()->RangeNote();
    QCOMPARE(shownNote->isVisible(), !note.isEmpty());
    if (!note.isEmpty()) {
        QCOMPARE(shownNote->text(), note);
        QCOMPARE(m_announced, QStringList{note});
        // The note sits beside the field and leaves the caret where typing goes on.
        QVERIFY(shownNote->geometry().top() >= field(0)->mapToGlobal(QPoint(0, field(0)->height())).y());
        QCOMPARE(focusedField(), 1);
        type(QStringLiteral("1"));
        QCOMPARE(field(1)->text(), QStringLiteral("1"));
    } else {
        QVERIFY(m_announced.isEmpty());
    }
}

void tst_IPAddressInput::leavingFieldAppliesRange()
{
    m_ctrl->Clear();
    m_ctrl->SetFieldRange(0, 223, 10);
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(QStringLiteral("5"));
    // Read while still typing: already the value the field will take.
    QCOMPARE(address(), QStringLiteral("10.0.0.0"));
    type(QStringLiteral("."));
    QCOMPARE(field(0)->text(), QStringLiteral("10"));
    // Leaving by Tab applies the range as well.
    m_ctrl->SetFieldRange(1, 100, 0);
    type(QStringLiteral("99"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(m_after->hasFocus());
    QCOMPARE(field(1)->text(), QStringLiteral("99"));
    m_ctrl->SetFieldFocus(0);
    QTest::keyClick(field(0), Qt::Key_End);
    QCOMPARE(focusedField(), 3);
    // An empty field stays empty.
    QCOMPARE(field(2)->text(), QString());
}

void tst_IPAddressInput::rangeNoteLeavesWithTheFocus()
{
    QLabel* note = m_ctrl->HostedWindow()->RangeNote();
    m_ctrl->Clear();
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(QStringLiteral("300"));
    QVERIFY(note->isVisible());
    // Readable at a glance: the whole text on at most two lines.
    QVERIFY2(note->height() <= 2 * note->fontMetrics().lineSpacing() + 2 * note->margin() + 4,
             qPrintable(QStringLiteral("%1 x %2").arg(note->width()).arg(note->height())));
    // Moving on inside the control keeps it; leaving the control puts it away, so that
    // it never covers the next control.
    type(QStringLiteral("1."));
    QVERIFY(note->isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(m_after->hasFocus());
    QVERIFY(!note->isVisible());
    // A value corrected as the control is left is said as it is left.
    m_ctrl->SetFieldRange(3, 50, 0);
    m_ctrl->SetFieldFocus(3);
    QTRY_COMPARE(focusedField(), 3);
    type(QStringLiteral("99"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTRY_VERIFY(m_after->hasFocus());
    QVERIFY(note->isVisible());
    QCOMPARE(note->text(), QStringLiteral("99 is not a valid entry. Specify a value between 0 and 50."));
    QCOMPARE(field(3)->text(), QStringLiteral("50"));
}

void tst_IPAddressInput::fullFieldDigitStartsNextField()
{
    m_ctrl->SetIPAddress(111, 2, 3, 4);
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    field(0)->setCursorPosition(3);
    type(QStringLiteral("9"));
    QCOMPARE(focusedField(), 1);
    QCOMPARE(address(), QStringLiteral("111.9.3.4"));
    // With the caret inside a full field, the digit is refused.
    field(1)->setText(QStringLiteral("123"));
    m_ctrl->SetFieldFocus(1);
    field(1)->setCursorPosition(1);
    type(QStringLiteral("5"));
    QCOMPARE(field(1)->text(), QStringLiteral("123"));
}

void tst_IPAddressInput::tabLeavesControl()
{
    m_ctrl->SetFieldFocus(1);
    QTRY_COMPARE(focusedField(), 1);
    QTest::keyClick(field(1), Qt::Key_Tab);
    QTRY_VERIFY(m_after->hasFocus());

    m_ctrl->SetFieldFocus(2);
    QTRY_COMPARE(focusedField(), 2);
    QTest::keyClick(field(2), Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_VERIFY(m_before->hasFocus());

    // Shift+Tab from the next widget enters the control at field 0.
    m_after->setFocus();
    QTRY_VERIFY(m_after->hasFocus());
    QTest::keyClick(m_after, Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_COMPARE(focusedField(), 0);
    // And the control is a single tab stop: one Tab from before reaches after.
    m_before->setFocus();
    QTest::keyClick(m_before, Qt::Key_Tab);
    QTRY_COMPARE(focusedField(), 0);
    QTest::keyClick(field(0), Qt::Key_Tab);
    QTRY_VERIFY(m_after->hasFocus());
}

void tst_IPAddressInput::disabledControlIsSkipped()
{
    m_ctrl->SetEnabled(false);
    QTest::keyClick(m_before, Qt::Key_Tab);
    QTRY_VERIFY(m_after->hasFocus());
    m_ctrl->SetEnabled(true);
    QTest::keyClick(m_after, Qt::Key_Backtab, Qt::ShiftModifier);
    QTRY_COMPARE(focusedField(), 0);
}

void tst_IPAddressInput::pasteDottedAddress_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<int>("intoField");
    QTest::addColumn<QString>("expected");  // empty: nothing changes
    QTest::newRow("leading zeros are decimal") << QStringLiteral("010.001.002.003") << 0 << QStringLiteral("10.1.2.3");
    QTest::newRow("blanks and newline around") << QStringLiteral("  192.168.0.1\n") << 2 << QStringLiteral("192.168.0.1");
    QTest::newRow("all 255") << QStringLiteral("255.255.255.255") << 3 << QStringLiteral("255.255.255.255");
    QTest::newRow("loopback") << QStringLiteral("127.0.4.9") << 1 << QStringLiteral("127.0.4.9");
    QTest::newRow("three parts") << QStringLiteral("1.2.3") << 0 << QString();
    QTest::newRow("five parts") << QStringLiteral("1.2.3.4.5") << 0 << QString();
    QTest::newRow("256") << QStringLiteral("256.1.1.1") << 0 << QString();
    QTest::newRow("four digits") << QStringLiteral("0010.1.1.1") << 0 << QString();
    QTest::newRow("empty part") << QStringLiteral("1..2.3") << 0 << QString();
    QTest::newRow("letters") << QStringLiteral("a.b.c.d") << 0 << QString();
    QTest::newRow("hexadecimal") << QStringLiteral("0x1.2.3.4") << 0 << QString();
    QTest::newRow("negative") << QStringLiteral("-1.2.3.4") << 0 << QString();
    QTest::newRow("full-width digits") << QStringLiteral(u"１.２.３.４") << 0 << QString();
    QTest::newRow("blank inside") << QStringLiteral("1. 2.3.4") << 0 << QString();
    QTest::newRow("empty clipboard") << QString() << 0 << QString();
}

void tst_IPAddressInput::pasteDottedAddress()
{
    QFETCH(QString, clipboard);
    QFETCH(int, intoField);
    QFETCH(QString, expected);
    m_ctrl->SetIPAddress(172, 16, 5, 4);
    QGuiApplication::clipboard()->setText(clipboard);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    m_ctrl->SetFieldFocus(intoField);
    QTRY_COMPARE(focusedField(), intoField);
    QSignalSpy changed(m_ctrl, &uctIPAddressCtrl::AddressChanged);

    QTest::keyClick(field(intoField), Qt::Key_V, Qt::ControlModifier);

    if (expected.isEmpty()) {
        QCOMPARE(address(), QStringLiteral("172.16.5.4"));
        QCOMPARE(changed.count(), 0);
    } else {
        QCOMPARE(address(), expected);
        QCOMPARE(changed.count(), 1);
    }
}

void tst_IPAddressInput::pastePlainNumberIntoField()
{
    m_ctrl->SetIPAddress(1, 2, 3, 4);
    m_ctrl->SetFieldFocus(2);
    QTRY_COMPARE(focusedField(), 2);
    QGuiApplication::clipboard()->setText(QStringLiteral("42"));
    QTest::keyClick(field(2), Qt::Key_V, Qt::ControlModifier);  // replaces the selected "3"
    QCOMPARE(address(), QStringLiteral("1.2.42.4"));
    QGuiApplication::clipboard()->setText(QStringLiteral("4242"));
    field(2)->selectAll();
    QTest::keyClick(field(2), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(address(), QStringLiteral("1.2.42.4"));
}

void tst_IPAddressInput::copyGivesDottedAddress()
{
    m_ctrl->SetIPAddress(192, 168, 0, 1);
    m_ctrl->SetFieldFocus(1);
    QTRY_COMPARE(focusedField(), 1);
    field(1)->setCursorPosition(1);  // nothing selected
    QGuiApplication::clipboard()->setText(QStringLiteral("old"));
    QTest::keyClick(field(1), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("192.168.0.1"));

    // A selection inside a field copies just that selection.
    field(1)->selectAll();
    QTest::keyClick(field(1), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("168"));

    // A blank field copies as 0 so that the copy pastes back; a blank control copies nothing.
    field(2)->clear();
    field(1)->deselect();
    QTest::keyClick(field(1), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("192.168.0.1"));
    field(3)->clear();
    QTest::keyClick(field(1), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("192.168.0.0"));
    m_ctrl->Clear();
    QGuiApplication::clipboard()->setText(QStringLiteral("old"));
    QTest::keyClick(field(1), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("old"));
}

void tst_IPAddressInput::copyPasteBetweenControls()
{
    auto* other = new uctIPAddressCtrl(m_window.get());
    other->move(10, 95);
    other->show();
    m_ctrl->SetIPAddress(10, 200, 30, 4);
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    field(0)->deselect();
    QTest::keyClick(field(0), Qt::Key_C, Qt::ControlModifier);
    other->SetFieldFocus(3);
    QTRY_VERIFY(other->HostedWindow()->Field(3)->hasFocus());
    QTest::keyClick(other->HostedWindow()->Field(3), Qt::Key_V, Qt::ControlModifier);
    quint8 a = 0, b = 0, c = 0, d = 0;
    other->GetIPAddress(a, b, c, d);
    QCOMPARE(QStringLiteral("%1.%2.%3.%4").arg(a).arg(b).arg(c).arg(d), QStringLiteral("10.200.30.4"));
}

void tst_IPAddressInput::contextMenuWorksOnWholeAddress_data()
{
    QTest::addColumn<QString>("action");  // the entry's text before its shortcut
    QTest::addColumn<QString>("clipboardBefore");
    QTest::addColumn<QString>("addressAfter");
    QTest::addColumn<QString>("clipboardAfter");
    QTest::newRow("paste a dotted address") << QStringLiteral("&Paste") << QStringLiteral("010.1.2.3")
                                            << QStringLiteral("10.1.2.3") << QStringLiteral("010.1.2.3");
    QTest::newRow("paste refuses junk") << QStringLiteral("&Paste") << QStringLiteral("1.2.x.4")
                                        << QStringLiteral("172.16.5.4") << QStringLiteral("1.2.x.4");
    QTest::newRow("copy with nothing selected") << QStringLiteral("&Copy") << QStringLiteral("old")
                                                << QStringLiteral("172.16.5.4") << QStringLiteral("172.16.5.4");
}

void tst_IPAddressInput::contextMenuWorksOnWholeAddress()
{
    QFETCH(QString, action);
    QFETCH(QString, clipboardBefore);
    QFETCH(QString, addressAfter);
    QFETCH(QString, clipboardAfter);
    m_ctrl->SetIPAddress(172, 16, 5, 4);
    QGuiApplication::clipboard()->setText(clipboardBefore);
    m_ctrl->SetFieldFocus(1);
    QTRY_COMPARE(focusedField(), 1);
    field(1)->deselect();

    // The menu runs its own loop: pick the entry from inside it, then close it.
    bool found = false;
    bool enabled = false;
    QTimer picker;
    picker.setInterval(10);
    connect(&picker, &QTimer::timeout, this, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* entry : menu->actions()) {
            if (entry->text().section(QLatin1Char('\t'), 0, 0) == action) {
                found = true;
                enabled = entry->isEnabled();
                if (enabled)
                    entry->trigger();
            }
        }
        menu->close();
    });
    picker.start();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(4, 4), field(1)->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(field(1), &event);
    picker.stop();

    QVERIFY(found);
    QVERIFY(enabled);
    QCOMPARE(address(), addressAfter);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboardAfter);
}

void tst_IPAddressInput::accessibleNames_data()
{
    QTest::addColumn<QString>("caption");  // the text of the label whose buddy it is
    QTest::addColumn<QString>("ownName");  // an accessible name set on the control
    QTest::addColumn<QString>("format");   // what each field is called, %1 its octet
    QTest::newRow("no label") << QString() << QString() << QStringLiteral("Octet %1 of 4");
    QTest::newRow("label names it") << QStringLiteral("IP &Address") << QString()
                                    << QStringLiteral("IP Address, octet %1 of 4");
    QTest::newRow("own name first") << QStringLiteral("IP Address") << QStringLiteral("Gateway")
                                    << QStringLiteral("Gateway, octet %1 of 4");
}

void tst_IPAddressInput::accessibleNames()
{
    QFETCH(QString, caption);
    QFETCH(QString, ownName);
    QFETCH(QString, format);
    if (!caption.isEmpty()) {
        auto* label = new QLabel(caption, m_window.get());
        label->setBuddy(m_ctrl);
        label->show();
    }
    m_ctrl->setAccessibleName(ownName);
    QTest::keyClick(m_before, Qt::Key_Tab);  // names are settled by the time it has the focus
    QTRY_COMPARE(focusedField(), 0);
    for (int i = 0; i < 4; ++i) {
        const QString name = format.arg(i + 1);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(field(i));
        QVERIFY(iface);
        QCOMPARE(iface->text(QAccessible::Name), name);
        QCOMPARE(iface->role(), QAccessible::EditableText);
    }
}

void tst_IPAddressInput::addressChangedSignal()
{
    m_ctrl->Clear();
    QSignalSpy changed(m_ctrl, &uctIPAddressCtrl::AddressChanged);
    m_ctrl->SetFieldFocus(0);
    QTRY_COMPARE(focusedField(), 0);
    type(QStringLiteral("12"));
    QCOMPARE(changed.count(), 2);
    type(QStringLiteral("x."));  // neither changes the address
    QCOMPARE(changed.count(), 2);
    m_ctrl->SetIPAddress(12, 0, 0, 0);
    QCOMPARE(changed.count(), 3);  // the blank fields became 0: one signal
    m_ctrl->SetIPAddress(12, 0, 0, 0);
    QCOMPARE(changed.count(), 3);
}

QTEST_MAIN(tst_IPAddressInput)
#include "tst_ipaddressinput.moc"
