// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The extended message box: its arrangement in twips with fixed window-system metrics
// (frame 3 and caption 23 pixels on a 1920 x 1080 screen), and its behaviour while open.

#include "localeui/localizeform.h"
#include "locale/modLocale.h"
#include "msgbox/frmMsgBoxEx.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

namespace {

constexpr double kFrameX = 45;    // 3 pixels
constexpr double kCaption = 345;  // 23 pixels
constexpr double kScreenW = 1920 * 15.0;

BoxMetrics fixedMetrics(int screenHeightPx = 1080)
{
    BoxMetrics m;
    m.twipsPerPixelX = m.twipsPerPixelY = 15;
    m.dialogFrameX = m.dialogFrameY = 3;
    m.captionHeight = 23;
    m.screenPixels = QRect(0, 0, 1920, screenHeightPx);
    m.screenWidth = 1920 * 15.0;
    m.screenHeight = screenHeightPx * 15.0;
    return m;
}

double widthOf(const QFont& font, const QString& text)
{
    return QFontMetrics(font).horizontalAdvance(text) * 15.0;
}

// Runs a modal ShowBox and answers it from inside the nested loop. Should the answer
// leave the box open (a failed check), the box is hidden right after, so that ShowBox
// returns -1 instead of waiting for ever.
qint32 showModal(frmMsgBoxEx& box, std::function<void()> answer, QWidget* owner = nullptr)
{
    QTimer::singleShot(0, &box, [&box, answer = std::move(answer)] {
        answer();
        QTimer::singleShot(0, &box, [&box] {
            if (box.isVisible())
                box.hide();
        });
    });
    return box.ShowBox(owner, 1);
}

// Modal: showModal's result. Modeless: ShowBox's result (0), the answer given after it.
qint32 showAndAnswer(frmMsgBoxEx& box, int showMode, std::function<void()> answer)
{
    if (showMode == 1)
        return showModal(box, std::move(answer));
    const qint32 result = box.ShowBox(nullptr, 0);
    if (result == 0)
        answer();
    return result;
}

// Data rows for a case that holds in both show modes.
void addShowModes()
{
    QTest::addColumn<int>("showMode");
    QTest::newRow("modal") << 1;
    QTest::newRow("modeless") << 0;
}

// A close request from the window frame (close box, Alt+F4): the window system hands the
// box's window a close event, which reaches the box as a spontaneous one. Returns whether
// the close was let through.
bool frameClose(QWidget& box)
{
    QWindow* window = box.windowHandle();
    if (!window)
        return false;
    QCloseEvent request;
    QCoreApplication::sendEvent(window, &request);
    return request.isAccepted();
}

// The button values OnButtonClick reported, in order.
QList<int> valuesOf(const QSignalSpy& clicks)
{
    QList<int> out;
    for (const QList<QVariant>& args : clicks)
        out << args.at(0).toInt();
    return out;
}

QVariantList ids(std::initializer_list<int> list)
{
    QVariantList out;
    for (int id : list)
        out << id;
    return out;
}

} // namespace

class tst_MsgBox : public QObject {
    Q_OBJECT
    QList<int> m_beeps;

private slots:
    void initTestCase()
    {
        InitLocale(kLangEnglish, QStringLiteral("/nonexistent/LangRes.dll"));
        frmMsgBoxEx::SetBeepHandler([this](int type) { m_beeps << type; });
    }
    void init()
    {
        BoxMetrics::SetOverride(fixedMetrics());
        m_beeps.clear();
    }
    void cleanupTestCase() { BoxMetrics::SetOverride(std::nullopt); }

    void createdFields()
    {
        frmMsgBoxEx box;
        QCOMPARE(box.m_strTitle.toString(), QStringLiteral("Tolvane"));
        QCOMPARE(box.m_MsgIcon, 0);
        for (const QVariant* text : {&box.m_strLargeMsg, &box.m_strSmallMsg, &box.m_strCheck, &box.m_strExpand})
            QCOMPARE(text->toString(), QString());
        QVERIFY(box.m_varOptions.toList().isEmpty());
        QCOMPARE(box.m_lCheckVal, 0);
        QCOMPARE(box.m_bExpand, false);
        QCOMPARE(box.m_bHideCloseButton, false);
        QVERIFY(box.accessKeys().isEmpty());
        QCOMPARE(box.m_lDefault, -1);
        QCOMPARE(box.m_lCancel, -1);
        QCOMPARE(box.m_lOptValue, -1);
        QCOMPARE(box.m_strOpenExpand.toInt(), 5002);
        QCOMPARE(box.m_strCloseExpand.toInt(), 5003);
        QVERIFY(!box.m_varButtons.isValid());
    }

    void iconAndTextPlaces_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<double>("textLeft");
        QTest::addColumn<double>("optLeft");
        QTest::newRow("information icon") << 0 << 1025.0 << 1275.0;
        QTest::newRow("wait icon") << 4 << 1025.0 << 1275.0;
        QTest::newRow("no icon") << 5 << kFrameX + 300 << 450.0;
    }
    void iconAndTextPlaces()
    {
        QFETCH(int, icon);
        QFETCH(double, textLeft);
        QFETCH(double, optLeft);
        frmMsgBoxEx box;
        box.m_MsgIcon = icon;
        box.m_strLargeMsg = QStringLiteral("Settings were written.");
        box.m_varButtons = ids({5004});
        box.m_varOptions = QStringList{QStringLiteral("One"), QStringLiteral("Two")};
        box.m_lOptValue = 0;
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        for (int k = 0; k < 5; ++k)
            QCOMPARE(box.imgMsg(k)->isVisible(), k == icon);
        if (icon != 5)
            QCOMPARE(box.twipsRect(box.imgMsg(icon)), QRectF(345, 300, 480, 480));
        QCOMPARE(box.twipsRect(box.lblMain()).left(), textLeft);
        QCOMPARE(box.twipsRect(box.Opt(0)).left(), optLeft);
        QCOMPARE(box.twipsRect(box.Opt(1)).left(), optLeft);
        box.Cmd(0)->click();
    }

    void smallMessageIndentedUnderLarge()
    {
        frmMsgBoxEx box;
        box.m_MsgIcon = 5;
        box.m_strLargeMsg = QStringLiteral("Large");
        box.m_strSmallMsg = QStringLiteral("Small");
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.twipsRect(box.lblMsg()).left(), kFrameX + 300 + 200);
        QCOMPARE(box.twipsRect(box.lblMsg()).top(),
                 box.twipsRect(box.lblMain()).bottom() + 200);
        box.Cmd(0)->click();
    }

    void largeMessageWidth_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("wide");
        QTest::newRow("short") << QStringLiteral("Reboot the controller.") << false;
        QTest::newRow("wider than half the screen")
            << QString(QStringLiteral("The controller did not answer in time. ")).repeated(12) << true;
    }
    void largeMessageWidth()
    {
        QFETCH(QString, text);
        QFETCH(bool, wide);
        frmMsgBoxEx box;
        box.m_strLargeMsg = text;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const QRectF r = box.twipsRect(box.lblMain());
        const double w = widthOf(box.lblMain()->font(), text);
        const double lineH = QFontMetrics(box.lblMain()->font()).height() * 15.0;
        if (wide) {
            QVERIFY(w + 30 > kScreenW / 2);
            QCOMPARE(r.width(), kScreenW / 2);
            QVERIFY2(r.height() >= 2 * lineH, "the long message wraps onto more lines");
        } else {
            QCOMPARE(r.width(), w + 30);
            QVERIFY(r.height() < 2 * lineH);
        }
        // The label starts right of the icon; the window leaves 300 twips right of it (the
        // single button's row, 150 + 1500 + 150, is narrower) and adds both frames.
        QCOMPARE(r.left(), 1025.0);
        QCOMPARE(box.windowWidthTwips(), std::nearbyint(1025 + r.width() + 300) + 2 * kFrameX);
        box.Cmd(0)->click();
    }

    void threeNarrowButtons()
    {
        frmMsgBoxEx box;
        box.m_varButtons = ids({5009, 5010, 5005});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.CmdCount(), 3);
        const double innerW = box.windowWidthTwips() - 2 * kFrameX;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(box.twipsRect(box.Cmd(i)).width(), 1500.0);
            QCOMPARE(box.twipsRect(box.Cmd(i)).height(), 375.0);
        }
        for (int i = 0; i < 2; ++i)
            QCOMPARE(box.twipsRect(box.Cmd(i + 1)).left() - box.twipsRect(box.Cmd(i)).right(), 150.0);
        QCOMPARE(box.twipsRect(box.Cmd(2)).right(), innerW - 150);
        // Applied at 15 twips per pixel: 100 pixels wide, 10 apart.
        QCOMPARE(box.Cmd(0)->width(), 100);
        QCOMPARE(box.Cmd(1)->x() - (box.Cmd(0)->x() + 100), 10);
        box.Cmd(2)->click();
    }

    void wideButtonGrows()
    {
        frmMsgBoxEx box;
        const QString caption = QStringLiteral("Write the settings to the controller now");
        box.m_varButtons = QVariantList{caption};
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const double w = widthOf(box.Cmd(0)->font(), caption) + 400;
        QVERIFY(w > 1500);
        QCOMPARE(box.twipsRect(box.Cmd(0)).width(), w);
        box.Cmd(0)->click();
    }

    void lowerBand()
    {
        frmMsgBoxEx box;
        box.m_strLargeMsg = QStringLiteral("Apply the change?");
        box.m_strExpand = QStringLiteral("Address 127.0.0.2 -> 127.0.0.3");
        box.m_strCheck = 5001;
        box.m_varButtons = ids({5009, 5010});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const QRectF exp = box.twipsRect(box.lblExpand());
        const QRectF chk = box.twipsRect(box.Chk());
        QCOMPARE(exp.left(), kFrameX + 150);
        QCOMPARE(chk.left(), kFrameX + 150);
        QCOMPARE(chk.top(), exp.bottom() + 200);
        QCOMPARE(chk.height(), 255.0);
        QCOMPARE(chk.width(), 255 * 1.5 + widthOf(box.font(), QStringLiteral("Don't show this message again.")));
        QCOMPARE(box.twipsRect(box.Cmd(0)).top(), exp.top());
        // The panel ends 200 above the lower band.
        QCOMPARE(exp.top(), box.panelHeightTwips() + 200);
        // The separator lies 150 below the lowest control of the band.
        QCOMPARE(box.lineYTwips(0), chk.bottom() + 150);
        QCOMPARE(box.lineYTwips(1), box.lineYTwips(0) + 15);
        QCOMPARE(box.twipsRect(box.lblExpanded()).top(), box.lineYTwips(0) + 150);
        QCOMPARE(box.twipsRect(box.lblExpanded()).left(), 120.0);
        box.Cmd(1)->click();
    }

    // The lower band's left part is as wide as the wider expander caption (+ 400), even
    // while the narrower one shows; the expander itself takes its caption's width.
    void expanderCaptionsWidenTheBand()
    {
        frmMsgBoxEx box;
        box.m_MsgIcon = 5;
        box.m_strExpand = QStringLiteral("d");
        box.m_strOpenExpand = QStringLiteral("More");
        box.m_strCloseExpand = QStringLiteral("Hide every technical detail of this error again");
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const double open = widthOf(box.font(), QStringLiteral("More"));
        const double close = widthOf(box.font(), box.m_strCloseExpand.toString());
        QCOMPARE(box.twipsRect(box.lblExpand()).width(), open);
        const double leftW = kFrameX + 150 + close + 400;
        QCOMPARE(box.windowWidthTwips(), 1500 + leftW + 150 + 2 * kFrameX);
        QCOMPARE(box.twipsRect(box.Cmd(0)).right(), box.windowWidthTwips() - 2 * kFrameX - 150);
        QTest::mouseClick(box.lblExpand(), Qt::LeftButton);
        QCOMPARE(box.twipsRect(box.lblExpand()).width(), close);
        QCOMPARE(box.windowWidthTwips(), 1500 + leftW + 150 + 2 * kFrameX);
        box.Cmd(0)->click();
    }

    // Details wider than everything else set the width: 120 + text + 150.
    void wideDetailsWidenTheWindow()
    {
        frmMsgBoxEx box;
        box.m_MsgIcon = 5;
        const QString details = QString(QStringLiteral("0123456789 ")).repeated(20);
        box.m_strExpand = details;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const double w = widthOf(box.font(), details);
        QCOMPARE(box.twipsRect(box.lblExpanded()).width(), w);
        QCOMPARE(box.windowWidthTwips(), 120 + w + 150 + 2 * kFrameX);
        box.Cmd(0)->click();
    }

    void detailsToggleTwice()
    {
        frmMsgBoxEx box;
        box.m_strLargeMsg = QStringLiteral("The controller reports an error.");
        box.m_strExpand = QStringLiteral("Error code 0x1234\nRaised by the servo amplifier.");
        box.m_varButtons = ids({5011});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const double collapsed = box.windowHeightTwips();
        const int collapsedPx = box.height();
        QCOMPARE(box.clientHeightTwips(), box.lineYTwips(0));
        QCOMPARE(box.lblExpand()->text(), QStringLiteral("Show details"));
        // Only the left button toggles.
        QTest::mouseClick(box.lblExpand(), Qt::RightButton);
        QCOMPARE(box.windowHeightTwips(), collapsed);
        QTest::mouseClick(box.lblExpand(), Qt::LeftButton);
        QVERIFY(box.m_bExpand);
        QCOMPARE(box.lblExpand()->text(), QStringLiteral("Hide details"));
        const double expanded = box.twipsRect(box.lblExpanded()).bottom() + 390 + 150 + 45;
        QCOMPARE(box.windowHeightTwips(), expanded);
        QCOMPARE(box.height(), int(std::nearbyint((expanded - 435) / 15)));
        QVERIFY(box.height() > collapsedPx);
        QTest::mouseClick(box.lblExpand(), Qt::LeftButton);
        QVERIFY(!box.m_bExpand);
        QCOMPARE(box.windowHeightTwips(), collapsed);
        QCOMPARE(box.height(), collapsedPx);
        QCOMPARE(box.lblExpand()->text(), QStringLiteral("Show details"));
        box.Cmd(0)->click();
    }

    void startsExpanded()
    {
        frmMsgBoxEx box;
        box.m_strSmallMsg = QStringLiteral("Text");
        box.m_strExpand = QStringLiteral("Details");
        box.m_bExpand = true;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.clientHeightTwips(), box.twipsRect(box.lblExpanded()).bottom() + 150);
        QCOMPARE(box.lblExpand()->text(), QStringLiteral("Hide details"));
        box.Cmd(0)->click();
    }

    void noDetailsEndsAtSeparator()
    {
        frmMsgBoxEx box;
        box.m_strLargeMsg = QStringLiteral("Done.");
        box.m_bExpand = true; // no details: the flag is cleared
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QVERIFY(!box.m_bExpand);
        QVERIFY(!box.lblExpand()->isVisible());
        QVERIFY(!box.lblExpanded()->isVisible());
        QCOMPARE(box.clientHeightTwips(), box.lineYTwips(0));
        QCOMPARE(box.windowHeightTwips(), box.lineYTwips(0) + 390 + 45);
        QCOMPARE(box.height(), int(box.lineYTwips(0) / 15));
        box.Cmd(0)->click();
    }

    void screenHeightLimit()
    {
        BoxMetrics::SetOverride(fixedMetrics(600));
        frmMsgBoxEx box;
        QStringList lines;
        for (int i = 0; i < 80; ++i)
            lines << QStringLiteral("Line %1 of a very long report").arg(i);
        box.m_strSmallMsg = lines.join(QLatin1Char('\n'));
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const double screenH = 600 * 15.0;
        QCOMPARE(box.panelHeightTwips(), screenH - 375 - 400 - kFrameX - kCaption);
        QVERIFY(box.twipsRect(box.lblMsg()).bottom() > box.panelHeightTwips());
        // Below the panel: 200, the button (375), 150 to the separator, then caption and
        // frames (390 above, 45 below): 5 twips short of the screen's height.
        QCOMPARE(box.windowHeightTwips(), box.panelHeightTwips() + 200 + 375 + 150 + 390 + 45);
        QCOMPARE(box.windowHeightTwips(), screenH - 5);
        box.Cmd(0)->click();
    }

    void widthTakesTheButtonRowAndBand()
    {
        frmMsgBoxEx box;
        box.m_MsgIcon = 5;
        box.m_strCheck = QStringLiteral("x");
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const QRectF chk = box.twipsRect(box.Chk());
        const double leftW = std::nearbyint(chk.right() + 400);
        QCOMPARE(box.windowWidthTwips(), std::max(300.0, 1500 + leftW + 150) + 2 * kFrameX);
        box.Cmd(0)->click();
    }

    void titles_data()
    {
        QTest::addColumn<QVariant>("title");
        QTest::addColumn<QString>("shown");
        QTest::newRow("text") << QVariant(QStringLiteral("Controller")) << QStringLiteral("Controller");
        QTest::newRow("number shows as digits") << QVariant(5004) << QStringLiteral("5004");
    }
    void titles()
    {
        QFETCH(QVariant, title);
        QFETCH(QString, shown);
        frmMsgBoxEx box;
        box.m_strTitle = title;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.windowTitle(), shown);
        box.Cmd(0)->click();
    }

    void textsResolvedInPlace()
    {
        frmMsgBoxEx box;
        box.m_strLargeMsg = 5001;
        box.m_strCheck = 5000;
        box.m_strExpand = QStringLiteral("d");
        box.m_varButtons = ids({5012});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.m_strLargeMsg.toString(), QStringLiteral("Don't show this message again."));
        QCOMPARE(box.m_strCheck.toString(), QStringLiteral("Process all items in the same way."));
        QCOMPARE(box.m_strOpenExpand.toString(), QStringLiteral("Show details"));
        QCOMPARE(box.m_strCloseExpand.toString(), QStringLiteral("Hide details"));
        QCOMPARE(box.Cmd(0)->text(), QString::fromUtf8("Advanced &settings\u2026"));
        box.Cmd(0)->click();
    }

    void buttonValues_data()
    {
        QTest::addColumn<QVariant>("buttons");
        QTest::addColumn<int>("press");
        QTest::addColumn<int>("value");
        QTest::newRow("id 5009") << QVariant(ids({5009, 5010})) << 0 << 5009;
        QTest::newRow("id 5010") << QVariant(ids({5009, 5010})) << 1 << 5010;
        QTest::newRow("text at index 2")
            << QVariant(QStringList{QStringLiteral("Keep"), QStringLiteral("Drop"), QStringLiteral("Later")})
            << 2 << 2;
        QTest::newRow("text beside ids") << QVariant(QVariantList{5004, QStringLiteral("Other")}) << 1 << 1;
        QTest::newRow("digits as text are a text") << QVariant(QVariantList{QStringLiteral("5009")}) << 0 << 0;
    }
    void buttonValues()
    {
        QFETCH(QVariant, buttons);
        QFETCH(int, press);
        QFETCH(int, value);
        frmMsgBoxEx box;
        box.m_varButtons = buttons;
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        const qint32 result = showModal(box, [&] { box.Cmd(press)->click(); });
        QCOMPARE(result, value);
        QCOMPARE(valuesOf(clicks), QList<int>{value});
        QVERIFY(!box.isVisible());
        QVERIFY(!box.isLoaded());
    }

    void cancelButton_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("escape") << QStringLiteral("escape");
        QTest::newRow("close box") << QStringLiteral("close");
    }
    void cancelButton()
    {
        QFETCH(QString, how);
        frmMsgBoxEx box;
        box.m_varButtons = ids({5009, 5010, 5005});
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        const qint32 result = showModal(box, [&] {
            QVERIFY(box.windowFlags() & Qt::WindowCloseButtonHint);
            if (how == QLatin1String("escape")) {
                QTest::keyClick(box.focusWidget() ? box.focusWidget() : &box, Qt::Key_Escape);
            } else {
                // The close request is refused and answered just after by a click.
                QVERIFY(!frameClose(box));
                QVERIFY(box.isVisible());
                QCOMPARE(clicks.size(), 0);
            }
        });
        QCOMPARE(box.m_lCancel, 2);
        QCOMPARE(result, 5005);
        QCOMPARE(valuesOf(clicks), QList<int>{5005});
    }

    // Two close requests before the first is answered still make one click.
    void repeatedCloseRequests_data() { addShowModes(); }
    void repeatedCloseRequests()
    {
        QFETCH(int, showMode);
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004, 5005});
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        auto closeTwice = [&] {
            QVERIFY(!frameClose(box));
            QVERIFY(!frameClose(box));
        };
        QCOMPARE(showAndAnswer(box, showMode, closeTwice), showMode == 1 ? 5005 : 0);
        QTRY_VERIFY(!box.isLoaded());
        QCoreApplication::processEvents();
        QCOMPARE(valuesOf(clicks), QList<int>{5005});
    }

    void explicitCancelIndex()
    {
        frmMsgBoxEx box;
        box.m_varButtons = QStringList{QStringLiteral("Stop"), QStringLiteral("Go on")};
        box.m_lCancel = 0;
        const qint32 result = showModal(box, [&] { QTest::keyClick(&box, Qt::Key_Escape); });
        QCOMPARE(result, 0);
    }

    void noCancelButton_data()
    {
        QTest::addColumn<QVariant>("buttons");
        QTest::addColumn<int>("cancel");
        QTest::addColumn<bool>("hideClose");
        QTest::newRow("no 5005") << QVariant(ids({5009, 5010})) << -1 << false;
        QTest::newRow("cancel index beyond the buttons") << QVariant(ids({5009, 5010})) << 5 << false;
        QTest::newRow("hidden close box") << QVariant(ids({5009, 5005})) << -1 << true;
    }
    void noCancelButton()
    {
        QFETCH(QVariant, buttons);
        QFETCH(int, cancel);
        QFETCH(bool, hideClose);
        frmMsgBoxEx box;
        box.m_varButtons = buttons;
        box.m_lCancel = cancel;
        box.m_bHideCloseButton = hideClose;
        const qint32 result = showModal(box, [&] {
            QVERIFY(!(box.windowFlags() & Qt::WindowCloseButtonHint));
            QVERIFY(!(box.windowFlags() & Qt::WindowSystemMenuHint));
            if (!hideClose) {
                QTest::keyClick(&box, Qt::Key_Escape); // nothing to press
                QVERIFY(box.isVisible());
            }
            box.Cmd(0)->click();
        });
        QCOMPARE(result, 5009);
        // After the box is gone it has its close box again for the next show.
        QVERIFY(box.windowFlags() & Qt::WindowCloseButtonHint);
    }

    // Without a cancel button a close forced by the window manager is let through.
    void closeWithoutCancelButton_data() { addShowModes(); }
    void closeWithoutCancelButton()
    {
        QFETCH(int, showMode);
        frmMsgBoxEx box;
        box.m_varButtons = ids({5009, 5010});
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        QCOMPARE(showAndAnswer(box, showMode, [&] { QVERIFY(frameClose(box)); }), showMode == 1 ? -1 : 0);
        QCoreApplication::processEvents();
        QCOMPARE(clicks.size(), 0);
        QVERIFY(!box.isVisible());
        QVERIFY(!box.isLoaded());
        QCOMPARE(box.CmdCount(), 1);
    }

    void enterKey_data()
    {
        QTest::addColumn<int>("defaultButton");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("clickDetails");  // a click into the details text before Enter
        QTest::addColumn<int>("value");
        QTest::newRow("focused button") << 0 << QStringLiteral("Cmd_1") << false << 5010;
        QTest::newRow("default from check box") << 1 << QStringLiteral("Chk") << false << 5010;
        QTest::newRow("first button focused at start") << -1 << QString() << false << 5009;
        // The selectable details keep no focus of their own: Enter still presses the button.
        QTest::newRow("focused button after a click into the details") << 0 << QStringLiteral("Cmd_1") << true
                                                                        << 5010;
        QTest::newRow("first button after a click into the details") << -1 << QString() << true << 5009;
    }
    void enterKey()
    {
        QFETCH(int, defaultButton);
        QFETCH(QString, focus);
        QFETCH(bool, clickDetails);
        QFETCH(int, value);
        frmMsgBoxEx box;
        box.m_varButtons = ids({5009, 5010, 5005});
        box.m_lDefault = defaultButton;
        box.m_strCheck = 5001;
        box.m_strExpand = QStringLiteral("Controller record @CNF_RAW_COM, 256 bytes");
        box.m_bExpand = true;
        const qint32 result = showModal(box, [&] {
            QWidget* target = focus.isEmpty() ? box.focusWidget() : box.findChild<QWidget*>(focus);
            QVERIFY(target);
            target->setFocus();
            if (clickDetails) {
                QVERIFY(box.lblExpanded()->isVisible());
                QTest::mouseClick(box.lblExpanded(), Qt::LeftButton, {}, QPoint(4, 4));
                // Keys go where the box's focus is now.
                QCOMPARE(box.focusWidget(), target);
                target = box.focusWidget();
            }
            QTest::keyClick(target, Qt::Key_Return);
        });
        QCOMPARE(result, value);
    }

    void optionGating_data()
    {
        QTest::addColumn<int>("optValue");
        QTest::newRow("none chosen") << -1;
        QTest::newRow("option 1 chosen") << 1;
    }
    void optionGating()
    {
        QFETCH(int, optValue);
        frmMsgBoxEx box;
        box.m_varOptions = QStringList{QStringLiteral("Ethernet"), QStringLiteral("RS232C"), QStringLiteral("Open")};
        box.m_lOptValue = optValue;
        box.m_varButtons = ids({5004, 5005});
        const qint32 result = showModal(box, [&] {
            QCOMPARE(box.OptCount(), 3);
            if (optValue < 0) {
                QVERIFY(!box.Cmd(0)->isEnabled());
                QVERIFY(box.Cmd(1)->isEnabled());
                QTest::keyClick(&box, Qt::Key_O); // OK is not there yet
                QVERIFY(box.isVisible());
                QTest::mouseClick(box.Opt(2), Qt::LeftButton);
            } else {
                QVERIFY(box.Opt(1)->isChecked());
            }
            QVERIFY(box.Cmd(0)->isEnabled());
            QVERIFY(box.Cmd(1)->isEnabled());
            box.Cmd(0)->click();
        });
        QCOMPARE(result, 5004);
        QCOMPARE(box.m_lOptValue, optValue < 0 ? 2 : 1);
    }

    void optionsWithoutCancelLockEveryButton()
    {
        frmMsgBoxEx box;
        box.m_varOptions = QStringList{QStringLiteral("A"), QStringLiteral("B")};
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QVERIFY(!box.Cmd(0)->isEnabled());
        box.Opt(0)->click();
        QVERIFY(box.Cmd(0)->isEnabled());
        QCOMPARE(box.m_lOptValue, 0);
        box.Cmd(0)->click();
    }

    void accessKeys_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::newRow("plain") << int(Qt::NoModifier);
        QTest::newRow("shift") << int(Qt::ShiftModifier);
        QTest::newRow("alt") << int(Qt::AltModifier);
        QTest::newRow("ctrl") << int(Qt::ControlModifier);
    }
    void accessKeys()
    {
        QFETCH(int, modifiers);
        frmMsgBoxEx box;
        box.m_varButtons = QVariantList{5009, QStringLiteral("&Yellow"), 5005};
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        const qint32 result = showModal(box, [&] {
            QCOMPARE(box.accessKeys().value(QStringLiteral("y")), box.Cmd(0));
            QCOMPARE(box.accessKeys().value(QStringLiteral("c")), box.Cmd(2));
            QTest::keyClick(box.focusWidget() ? box.focusWidget() : &box, Qt::Key_Y,
                            Qt::KeyboardModifiers(modifiers));
        });
        QCOMPARE(result, 5009);
        QCOMPARE(valuesOf(clicks), QList<int>{5009});
    }

    // In Japanese the captions carry their access key in brackets: "いいえ(&N)".
    void japaneseCaptions()
    {
        InitLocale(kLangJapanese, QStringLiteral("/nonexistent/LangRes.dll"));
        struct BackToEnglish {
            ~BackToEnglish() { InitLocale(kLangEnglish, QStringLiteral("/nonexistent/LangRes.dll")); }
        } restore;
        frmMsgBoxEx box;
        box.m_strExpand = QStringLiteral("x");
        box.m_varButtons = ids({5009, 5010, 5005});
        QString yes, expander;
        const qint32 result = showModal(box, [&] {
            yes = box.Cmd(0)->text();
            expander = box.lblExpand()->text();
            QTest::keyClick(&box, Qt::Key_N);
        });
        QCOMPARE(result, 5010);
        QCOMPARE(yes, QString::fromUtf8("はい(&Y)"));
        QCOMPARE(expander, QString::fromUtf8("詳細を表示する"));
        QCOMPARE(box.m_strCloseExpand.toString(), QString::fromUtf8("詳細を隠す"));
    }

    void accessKeysForOptionsAndCheck()
    {
        frmMsgBoxEx box;
        box.m_varOptions = QStringList{QStringLiteral("&Ethernet"), QStringLiteral("&RS232C")};
        box.m_strCheck = QStringLiteral("&Don't ask again");
        box.m_varButtons = QVariantList{5004, QStringLiteral("&Retry later"), 5005};
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        // Options come first, so the button's "&R" does not take the key.
        QCOMPARE(box.accessKeys().value(QStringLiteral("r")), box.Opt(1));
        QTest::keyClick(&box, Qt::Key_R);
        QCOMPARE(box.m_lOptValue, 1);
        QTest::keyClick(&box, Qt::Key_D);
        QCOMPARE(box.m_lCheckVal, 1);
        QTest::keyClick(&box, Qt::Key_D);
        QCOMPARE(box.m_lCheckVal, 0);
        QTest::keyClick(&box, Qt::Key_Z); // no control: nothing happens
        QVERIFY(box.isVisible());
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        QTest::keyClick(&box, Qt::Key_O);
        QCOMPARE(valuesOf(clicks), QList<int>{5004});
        QVERIFY(!box.isVisible());
    }

    void checkStateRoundTrip()
    {
        frmMsgBoxEx box;
        box.m_strCheck = 5001;
        box.m_lCheckVal = 1;
        box.m_varButtons = ids({5004});
        const qint32 result = showModal(box, [&] {
            QVERIFY(box.Chk()->isChecked());
            box.Chk()->click();
            box.Cmd(0)->click();
        });
        QCOMPARE(result, 5004);
        QCOMPARE(box.m_lCheckVal, 0);
    }

    void modeless()
    {
        frmMsgBoxEx box;
        box.m_varButtons = ids({5009, 5010});
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        QList<bool> visibleAtEvent;
        connect(&box, &frmMsgBoxEx::OnButtonClick, this, [&] { visibleAtEvent << box.isVisible(); });
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QVERIFY(box.isVisible());
        QCOMPARE(clicks.size(), 0);
        box.Cmd(1)->click();
        QCOMPARE(valuesOf(clicks), QList<int>{5010});
        QCOMPARE(visibleAtEvent, QList<bool>{true});
        QVERIFY(!box.isVisible());
        QVERIFY(!box.isLoaded());
        QCOMPARE(box.CmdCount(), 1);
        // The object outlives the unload and lays out afresh.
        box.m_varButtons = ids({5004, 5005, 5011});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.CmdCount(), 3);
        QCOMPARE(box.Cmd(2)->text(), QStringLiteral("C&lose"));
        QTest::keyClick(&box, Qt::Key_Escape);
        QCOMPARE(valuesOf(clicks), (QList<int>{5010, 5005}));
        QVERIFY(!box.isVisible());
    }

    void modelessCloseBox()
    {
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004, 5005});
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QVERIFY(!frameClose(box));
        QVERIFY(box.isVisible());
        QTRY_COMPARE(valuesOf(clicks), QList<int>{5005});
        QVERIFY(!box.isVisible());
    }

    // close() from the program unloads the box even with a cancel button: no click, no
    // value, and a modal ShowBox ends with -1.
    void programCloseIsNotRefused_data() { addShowModes(); }
    void programCloseIsNotRefused()
    {
        QFETCH(int, showMode);
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004, 5005});
        QSignalSpy clicks(&box, &frmMsgBoxEx::OnButtonClick);
        bool closed = false;
        QCOMPARE(showAndAnswer(box, showMode, [&] { closed = box.close(); }), showMode == 1 ? -1 : 0);
        QVERIFY(closed);
        QVERIFY(!box.isVisible());
        QVERIFY(!box.isLoaded());
        QCoreApplication::processEvents(); // a posted click would arrive here
        QCOMPARE(clicks.size(), 0);
        // The object stays usable.
        QCOMPARE(showModal(box, [&] { box.Cmd(1)->click(); }), 5005);
    }

    void secondShowOfOpenBox()
    {
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.ShowBox(nullptr, 0), -1);
        QCOMPARE(box.ShowBox(nullptr, 1), -1);
        QVERIFY(box.isVisible());
        QCOMPARE(box.CmdCount(), 1);
        box.Cmd(0)->click();
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        box.Cmd(0)->click();
    }

    void failures_data()
    {
        QTest::addColumn<QVariant>("buttons");
        QTest::addColumn<int>("icon");
        QTest::addColumn<int>("optValue");
        QTest::addColumn<int>("showMode");
        QTest::newRow("buttons missing") << QVariant() << 0 << -1 << 1;
        QTest::newRow("buttons not a list") << QVariant(QStringLiteral("OK")) << 0 << -1 << 1;
        QTest::newRow("no buttons") << QVariant(QVariantList{}) << 0 << -1 << 0;
        QTest::newRow("icon 6") << QVariant(ids({5004})) << 6 << -1 << 1;
        QTest::newRow("icon -1") << QVariant(ids({5004})) << -1 << -1 << 0;
        QTest::newRow("option beyond the options") << QVariant(ids({5004})) << 0 << 2 << 1;
        QTest::newRow("unknown show mode") << QVariant(ids({5004})) << 0 << -1 << 2;
    }
    void failures()
    {
        QFETCH(QVariant, buttons);
        QFETCH(int, icon);
        QFETCH(int, optValue);
        QFETCH(int, showMode);
        frmMsgBoxEx box;
        box.m_varButtons = buttons;
        box.m_MsgIcon = icon;
        box.m_varOptions = QStringList{QStringLiteral("A"), QStringLiteral("B")};
        box.m_lOptValue = optValue;
        QCOMPARE(box.ShowBox(nullptr, showMode), -1);
        QVERIFY(!box.isVisible());
        QVERIFY(!box.isLoaded());
        QCOMPARE(box.CmdCount(), 1);
        QCOMPARE(box.OptCount(), 1);
        // Corrected, the same object shows.
        box.m_varButtons = ids({5004, 5005});
        box.m_MsgIcon = 0;
        box.m_lOptValue = 1;
        QCOMPARE(showModal(box, [&] { box.Cmd(0)->click(); }), 5004);
    }

    void beepByKind_data()
    {
        QTest::addColumn<int>("icon");
        QTest::addColumn<QList<int>>("beeps");
        QTest::newRow("information") << 0 << QList<int>{64};
        QTest::newRow("warning") << 1 << QList<int>{48};
        QTest::newRow("error") << 2 << QList<int>{16};
        QTest::newRow("question") << 3 << QList<int>{32};
        QTest::newRow("wait") << 4 << QList<int>{};
        QTest::newRow("no icon") << 5 << QList<int>{};
    }
    void beepByKind()
    {
        QFETCH(int, icon);
        QFETCH(QList<int>, beeps);
        frmMsgBoxEx box;
        box.m_MsgIcon = icon;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(m_beeps, beeps);
        box.Cmd(0)->click();
    }

    // Showing the box over its owner must not move the owner's keyboard focus: once the
    // box is answered, the user goes on in the field they were in.
    void ownerKeepsItsFocus()
    {
        QWidget owner;
        owner.setGeometry(200, 150, 600, 400);
        auto* first = new QLineEdit(&owner);
        auto* second = new QLineEdit(&owner);
        second->move(0, 40);
        owner.show();
        owner.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&owner));
        first->setFocus();
        QCOMPARE(QApplication::focusWidget(), first);
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004});
        QWidget* ownerFocusInside = nullptr;
        const qint32 result = showModal(box, [&] {
            ownerFocusInside = owner.focusWidget();
            box.Cmd(0)->click();
        }, &owner);
        QCOMPARE(result, 5004);
        QCOMPARE(ownerFocusInside, first);
        QCOMPARE(owner.focusWidget(), first);
        QVERIFY(first->isEnabled());
    }

    void ownerCentresTheBox()
    {
        QWidget owner;
        owner.setGeometry(200, 150, 600, 400);
        owner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&owner));
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004});
        const qint32 result = showModal(box, [&] {
            QVERIFY(box.windowHandle());
            QCOMPARE(box.windowHandle()->transientParent(), owner.windowHandle());
            // The whole window (frames and caption included) is centred over the owner.
            const QPoint mid = box.pos() + QPoint(int(box.windowWidthTwips() / 30), int(box.windowHeightTwips() / 30));
            QVERIFY2((mid - owner.frameGeometry().center()).manhattanLength() <= 2,
                     qPrintable(QStringLiteral("box centre %1,%2").arg(mid.x()).arg(mid.y())));
            box.Cmd(0)->click();
        }, &owner);
        QCOMPARE(result, 5004);
        // The owner keeps the box object: it was never re-parented.
        QCOMPARE(box.parentWidget(), nullptr);
    }

    void tabOrderStartsWithTheButtons()
    {
        frmMsgBoxEx box;
        box.m_varOptions = QStringList{QStringLiteral("A")};
        box.m_lOptValue = 0;
        box.m_varButtons = ids({5009, 5010, 5005});
        box.m_lDefault = 1;
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.focusWidget(), box.Cmd(0));
        QVERIFY(box.Cmd(1)->isDefault());
        QCOMPARE(box.Cmd(0)->nextInFocusChain(), box.Cmd(1));
        box.Cmd(0)->click();
    }
    void secondShowInsideModalLoop()
    {
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004, 5005});
        qint32 inner = 0;
        const qint32 result = showModal(box, [&] {
            inner = box.ShowBox(nullptr, 1);
            QVERIFY(box.isVisible());
            box.Cmd(1)->click();
        });
        QCOMPARE(inner, -1);
        QCOMPARE(result, 5005);
    }

    void checkValueOutOfRangeFails()
    {
        frmMsgBoxEx box;
        box.m_strCheck = 5001;
        box.m_lCheckVal = 7;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), -1);
        QVERIFY(!box.isVisible());
    }

    void pointerRestoredAfterTheBox()
    {
        ChangeMousePointer(11);
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004});
        qint16 inside = -1;
        const qint32 result = showModal(box, [&] {
            inside = ScreenMousePointer();
            box.Cmd(0)->click();
        });
        QCOMPARE(result, 5004);
        QCOMPARE(inside, qint16(0));
        QCOMPARE(ScreenMousePointer(), qint16(11));
        QCOMPARE(UnChangeMousePointer(), qint16(0));
    }

    void look()
    {
        frmMsgBoxEx box;
        box.m_MsgIcon = 3;
        box.m_strLargeMsg = QStringLiteral("Large");
        box.m_strSmallMsg = QStringLiteral("Small");
        box.m_strExpand = QStringLiteral("Details");
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QCOMPARE(box.lblMain()->font().pointSizeF(), 15.75);
        QCOMPARE(box.lblMain()->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QCOMPARE(box.lblMsg()->font().pointSizeF(), box.font().pointSizeF());
        QCOMPARE(box.lblExpand()->font().pointSizeF(), 9.0);
        QVERIFY(box.lblExpand()->font().underline());
        QCOMPARE(box.lblExpand()->palette().color(QPalette::WindowText), box.palette().color(QPalette::Highlight));
        const std::optional<QCursor> hand = GetHandCursor();
        QCOMPARE(box.lblExpand()->cursor().shape(), hand ? hand->shape() : Qt::PointingHandCursor);
        QCOMPARE(box.picBase()->palette().color(QPalette::Window), QColor(255, 255, 255));
        QVERIFY(box.picBase()->autoFillBackground());
        QCOMPARE(box.lnExpand(0)->palette().color(QPalette::Window), QColor(213, 213, 213));
        QCOMPARE(box.lnExpand(1)->palette().color(QPalette::Window), QColor(255, 255, 255));
        // The chosen icon is a 32 x 32 picture.
        QCOMPARE(box.imgMsg(3)->size(), QSize(32, 32));
        QVERIFY(!box.imgMsg(3)->pixmap().isNull());
        QVERIFY(!(box.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(box.windowFlags() & Qt::WindowMaximizeButtonHint));
        box.Cmd(0)->click();
    }

    void hiddenOwnerCentresOnScreen()
    {
        QWidget owner;
        frmMsgBoxEx box;
        box.m_varButtons = ids({5004});
        QWindow* parent = reinterpret_cast<QWindow*>(1);
        QPoint pos;
        const qint32 result = showModal(box, [&] {
            parent = box.windowHandle() ? box.windowHandle()->transientParent() : nullptr;
            pos = box.pos();
            box.Cmd(0)->click();
        }, &owner);
        QCOMPARE(result, 5004);
        QCOMPARE(parent, nullptr);
        // Centred in the fixed 1920 x 1080 screen, frame and caption included.
        QCOMPARE(pos.x(), int(std::nearbyint((1920 * 15.0 - box.windowWidthTwips()) / 2 / 15)));
        QCOMPARE(pos.y(), int(std::nearbyint((1080 * 15.0 - box.windowHeightTwips()) / 2 / 15)));
    }
    void textBlockCentredOnIcon_data()
    {
        QTest::addColumn<bool>("large");
        QTest::addColumn<bool>("small");
        QTest::addColumn<bool>("centred");
        // Both messages together are taller than the icon: they start at its top.
        QTest::newRow("both messages") << true << true << false;
        QTest::newRow("large message only") << true << false << true;
        QTest::newRow("small message only") << false << true << true;
    }
    void textBlockCentredOnIcon()
    {
        QFETCH(bool, large);
        QFETCH(bool, small);
        QFETCH(bool, centred);
        frmMsgBoxEx box;
        box.m_MsgIcon = 1;
        box.m_strLargeMsg = large ? QStringLiteral("Check") : QString();
        box.m_strSmallMsg = small ? QStringLiteral("Short") : QString();
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const QRectF main = box.twipsRect(box.lblMain());
        const QRectF msg = box.twipsRect(box.lblMsg());
        QCOMPARE(box.lblMain()->isVisible(), large);
        QCOMPARE(box.lblMsg()->isVisible(), small);
        const double blockTop = large ? main.top() : msg.top();
        const double blockBottom = small ? msg.bottom() : main.bottom();
        const double blockH = blockBottom - blockTop;
        if (large && small)
            QCOMPARE(msg.top(), main.bottom() + 200);
        if (centred) {
            // The block's middle is the icon's middle (to the rounding of half a twip);
            // the panel ends 200 below the icon, then 100 more.
            QCOMPARE(blockTop, 300 + std::nearbyint((480 - blockH) / 2));
            QCOMPARE(box.panelHeightTwips(), 300 + 480 + 200 + 100.0);
        } else {
            QVERIFY(blockH + 200 > 480);
            QCOMPARE(blockTop, 300.0);
            QCOMPARE(box.panelHeightTwips(), blockBottom + 200 + 100);
        }
        QCOMPARE(box.twipsRect(box.Cmd(0)).top(), box.panelHeightTwips() + 200);
        box.Cmd(0)->click();
    }

    // The widest of the texts sets the window's width: 300 twips right of a message or an
    // option (whose width is its text + 300), plus both frames.
    void wideTextsWidenTheWindow_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("extra");
        QTest::newRow("small message indented under the large one") << QStringLiteral("lblMsg") << kFrameX + 300 + 200 << 30.0;
        QTest::newRow("option") << QStringLiteral("Opt_0") << 450.0 << 300.0;
    }
    void wideTextsWidenTheWindow()
    {
        QFETCH(QString, control);
        QFETCH(double, left);
        QFETCH(double, extra);
        const QString wide = QString(QStringLiteral("Settings ")).repeated(10);
        frmMsgBoxEx box;
        box.m_MsgIcon = 5;
        box.m_strLargeMsg = QStringLiteral("Hi");
        if (control == QLatin1String("lblMsg"))
            box.m_strSmallMsg = wide;
        else
            box.m_varOptions = QStringList{wide};
        box.m_lOptValue = 0;
        box.m_varButtons = ids({5004});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        QWidget* w = box.findChild<QWidget*>(control);
        QVERIFY(w);
        const QRectF r = box.twipsRect(w);
        const double textW = widthOf(box.font(), wide);
        QVERIFY(textW > 1800 && textW + 30 < kScreenW / 2);
        QCOMPARE(r.left(), left);
        QCOMPARE(r.width(), textW + extra);
        QCOMPARE(box.windowWidthTwips(), left + textW + extra + 300 + 2 * kFrameX);
    }

    void optionRows()
    {
        frmMsgBoxEx box;
        box.m_MsgIcon = 5;
        box.m_strLargeMsg = QStringLiteral("Choose");
        box.m_varOptions = QVariantList{QStringLiteral("First"), 5000, QStringLiteral("Third")};
        box.m_varButtons = ids({5004, 5005});
        QCOMPARE(box.ShowBox(nullptr, 0), 0);
        const QRectF main = box.twipsRect(box.lblMain());
        const QFontMetrics fm(box.font());
        QCOMPARE(box.Opt(1)->text(), QStringLiteral("Process all items in the same way."));
        QCOMPARE(box.twipsRect(box.Opt(0)).top(), std::nearbyint(main.bottom() + 200));
        for (int i = 0; i < 3; ++i) {
            const QRectF r = box.twipsRect(box.Opt(i));
            QCOMPARE(r.width(), fm.horizontalAdvance(box.Opt(i)->text()) * 15.0 + 300);
            QCOMPARE(r.height(), fm.lineSpacing() * 15.0 + 15);
            if (i < 2)
                QCOMPARE(box.twipsRect(box.Opt(i + 1)).top(), std::nearbyint(r.bottom() + 150));
        }
        // 200 below the last option, then 100 more: the panel's end.
        QCOMPARE(box.panelHeightTwips(), std::nearbyint(box.twipsRect(box.Opt(2)).bottom() + 150) - 150 + 200 + 100);
        box.Cmd(1)->click();
    }
};

QTEST_MAIN(tst_MsgBox)
#include "tst_msgbox.moc"
