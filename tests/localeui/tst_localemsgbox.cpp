// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// The real system message box behind LMsgBox: buttons, icon, default and escape
// answer from the Windows style bits, and the result codes it gives back.

#include "locale/modLocale.h"
#include "localeui/lmsgbox.h"
#include "localeui/systemmsgbox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

const QString kNoModule = QStringLiteral("/nonexistent/tolvane-test/LangRes.dll");

QList<int> codesOf(const SystemMsgBox& box)
{
    QList<int> codes;
    for (const auto& [button, code] : box.orderedButtons())
        codes << code;
    return codes;
}

// Acts on the modal box as soon as the event loop of LMsgBox runs.
void whenShown(std::function<void(SystemMsgBox*)> act)
{
    QTimer::singleShot(0, qApp, [act] {
        auto* box = qobject_cast<SystemMsgBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        act(box);
    });
}

QAbstractButton* buttonWithCode(SystemMsgBox* box, int code)
{
    for (const auto& [button, c] : box->orderedButtons()) {
        if (c == code)
            return button;
    }
    return nullptr;
}

} // namespace

class tst_LocaleMsgBox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { InitLocale(kLangEnglish, kNoModule); }
    void built_data();
    void built();
    void captionsFollowLanguage();
    void textShownWithLineBreaks();
    void answers_data();
    void answers();
    void escapeIgnoredWithoutCancel_data();
    void escapeIgnoredWithoutCancel();
};

void tst_LocaleMsgBox::built_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("defaultCode");
    QTest::addColumn<bool>("canEscape");
    QTest::addColumn<int>("escapeCode");

    using namespace MsgBox;
    QTest::newRow("OK") << OK << QList<int>{IdOK} << int(QMessageBox::NoIcon) << IdOK << true << IdOK;
    QTest::newRow("OK/Cancel, critical") << (OKCancel | Critical) << QList<int>{IdOK, IdCancel}
                                         << int(QMessageBox::Critical) << IdOK << true << IdCancel;
    QTest::newRow("Abort/Retry/Ignore, default 3") << (AbortRetryIgnore | Exclamation | DefButton3)
                                                   << QList<int>{IdAbort, IdRetry, IdIgnore} << int(QMessageBox::Warning)
                                                   << IdIgnore << false << 0;
    QTest::newRow("Yes/No/Cancel, default 2") << (YesNoCancel | Question | DefButton2)
                                              << QList<int>{IdYes, IdNo, IdCancel} << int(QMessageBox::Question)
                                              << IdNo << true << IdCancel;
    QTest::newRow("Yes/No, information") << (YesNo | Information) << QList<int>{IdYes, IdNo}
                                         << int(QMessageBox::Information) << IdYes << false << 0;
    QTest::newRow("Retry/Cancel, default 2") << (RetryCancel | DefButton2) << QList<int>{IdRetry, IdCancel}
                                             << int(QMessageBox::NoIcon) << IdCancel << true << IdCancel;
    QTest::newRow("default 3 of two is the first") << (YesNo | DefButton3) << QList<int>{IdYes, IdNo}
                                                   << int(QMessageBox::NoIcon) << IdYes << false << 0;
    QTest::newRow("unknown buttons: lone OK") << 9 << QList<int>{IdOK} << int(QMessageBox::NoIcon) << IdOK << true << IdOK;
}

void tst_LocaleMsgBox::built()
{
    QFETCH(int, style);
    QFETCH(QList<int>, codes);
    QFETCH(int, icon);
    QFETCH(int, defaultCode);
    QFETCH(bool, canEscape);
    QFETCH(int, escapeCode);

    MsgBoxCall call;
    call.text = QStringLiteral("Prompt");
    call.title = QStringLiteral("Title");
    call.style = style;
    SystemMsgBox box(call);
    QCOMPARE(codesOf(box), codes);
    QCOMPARE(box.buttons().size(), codes.size());
    QCOMPARE(int(box.icon()), icon);
    QCOMPARE(box.resultFor(box.defaultButton()), defaultCode);
    QCOMPARE(box.canEscape(), canEscape);
    if (canEscape)
        QCOMPARE(box.resultFor(nullptr), escapeCode);
    QCOMPARE(box.windowTitle(), QStringLiteral("Title"));
}

void tst_LocaleMsgBox::captionsFollowLanguage()
{
    MsgBoxCall call;
    call.style = MsgBox::YesNoCancel;
    InitLocale(kLangJapanese, kNoModule);
    {
        SystemMsgBox box(call);
        const auto buttons = box.orderedButtons();
        QCOMPARE(buttons.at(0).first->text(), QString::fromUtf8("はい(&Y)"));
        QCOMPARE(buttons.at(1).first->text(), QString::fromUtf8("いいえ(&N)"));
        QCOMPARE(buttons.at(2).first->text(), QString::fromUtf8("キャンセル(&C)"));
    }
    InitLocale(kLangEnglish, kNoModule);
    SystemMsgBox box(call);
    QCOMPARE(box.orderedButtons().at(0).first->text(), QStringLiteral("&Yes"));
}

void tst_LocaleMsgBox::textShownWithLineBreaks()
{
    QCOMPARE(MsgBoxDisplayText(QStringLiteral("a\rb\r\nc\nd")), QStringLiteral("a\nb\nc\nd"));
    MsgBoxCall call;
    call.text = QStringLiteral("Error occurred.\rError Code [0x<b>1</b>]");
    SystemMsgBox box(call);
    QCOMPARE(box.text(), QStringLiteral("Error occurred.\nError Code [0x<b>1</b>]"));
    // Markup is shown as written.
    QCOMPARE(box.textFormat(), Qt::PlainText);
}

void tst_LocaleMsgBox::answers_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("press");  // a result code to click, or 0 for Escape
    QTest::addColumn<int>("expected");

    using namespace MsgBox;
    QTest::newRow("click OK") << OK << IdOK << IdOK;
    QTest::newRow("Escape on lone OK") << OK << 0 << IdOK;
    QTest::newRow("Escape on OK/Cancel") << OKCancel << 0 << IdCancel;
    QTest::newRow("click Cancel") << OKCancel << IdCancel << IdCancel;
    QTest::newRow("click Retry") << AbortRetryIgnore << IdRetry << IdRetry;
    QTest::newRow("click No") << YesNoCancel << IdNo << IdNo;
    QTest::newRow("Escape on Yes/No/Cancel") << YesNoCancel << 0 << IdCancel;
    QTest::newRow("click Yes") << YesNo << IdYes << IdYes;
    QTest::newRow("Escape on Retry/Cancel") << RetryCancel << 0 << IdCancel;
}

void tst_LocaleMsgBox::answers()
{
    QFETCH(int, style);
    QFETCH(int, press);
    QFETCH(int, expected);
    SetMsgBoxHandler({});
    whenShown([press](SystemMsgBox* box) {
        if (press == 0)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            buttonWithCode(box, press)->click();
    });
    QCOMPARE(LMsgBox(QStringLiteral("Question\rtwo lines"), style, QStringLiteral("T")), expected);
}

void tst_LocaleMsgBox::escapeIgnoredWithoutCancel_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("press");
    QTest::newRow("Yes/No") << MsgBox::YesNo << int(MsgBox::IdNo);
    QTest::newRow("Abort/Retry/Ignore") << MsgBox::AbortRetryIgnore << int(MsgBox::IdAbort);
}

void tst_LocaleMsgBox::escapeIgnoredWithoutCancel()
{
    QFETCH(int, style);
    QFETCH(int, press);
    bool stillOpen = false;
    whenShown([&stillOpen, press](SystemMsgBox* box) {
        QTest::keyClick(box, Qt::Key_Escape);
        box->close();
        stillOpen = box->isVisible();
        buttonWithCode(box, press)->click();
    });
    QCOMPARE(LMsgBox(QStringLiteral("Must be answered"), style), press);
    QVERIFY(stillOpen);
}

QTEST_MAIN(tst_LocaleMsgBox)
#include "tst_localemsgbox.moc"
