// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The IP address control's programming interface: packed formats, address, ranges,
// size, visibility, enabled state and the font object.

#include "controls/uctIPAddressCtrl.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <limits>

namespace {

QString fieldTexts(const uctIPAddressCtrl& ctrl)
{
    QStringList texts;
    for (int i = 0; i < 4; ++i)
        texts << ctrl.HostedWindow()->Field(i)->text();
    return texts.join(QLatin1Char('|'));
}

QString address(const uctIPAddressCtrl& ctrl)
{
    quint8 a = 0, b = 0, c = 0, d = 0;
    ctrl.GetIPAddress(a, b, c, d);
    return QStringLiteral("%1.%2.%3.%4").arg(a).arg(b).arg(c).arg(d);
}

}  // namespace

class tst_UctIPAddressCtrl : public QObject
{
    Q_OBJECT

private slots:
    void packing_data();
    void packing();
    void newControlShows127001();
    void clearMakesBlank();
    void partlyBlankReadsZero();
    void setFieldRangeLimitsTypedValues_data();
    void setFieldRangeLimitsTypedValues();
    void setFieldRangeIgnoresBadIndex_data();
    void setFieldRangeIgnoresBadIndex();
    void setFieldRangeReversedBounds();
    void setAddressOutsideRangeTakesBound();
    void resizeGivesFixedSize_data();
    void resizeGivesFixedSize();
    void visibleHidesOnlyTheEntry();
    void enabledDisablesInputAndLooksGrey();
    void enabledIsTheControlsOwnState();
    void setFieldFocusMovesCaret_data();
    void setFieldFocusMovesCaret();
    void fontItalicReadBackAndApplied();
    void fontPropertiesMarkFontChanged();
    void fontObjectChangeRebuildsWithoutCall();
    void fontReplaceAndNull();
    void destroyedFontObjectLeavesDefault();
    void fontHeight_data();
    void fontHeight();
    void rebuildUsesHeightRule_data();
    void rebuildUsesHeightRule();
    void designProperties();
    void readPropertiesWithoutSavedFontTakesContainerFont();
    void fontObjectRefusesBadValues();
    void mulDiv_data();
    void mulDiv();
    void registeredName();
};

void tst_UctIPAddressCtrl::packing_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("third");
    QTest::addColumn<int>("fourth");
    QTest::addColumn<quint32>("packed");
    QTest::newRow("192.168.0.1") << 192 << 168 << 0 << 1 << 0xC0A80001u;
    QTest::newRow("255.255.255.255") << 255 << 255 << 255 << 255 << 0xFFFFFFFFu;
    QTest::newRow("128.0.0.0 top bit only") << 128 << 0 << 0 << 0 << 0x80000000u;
    QTest::newRow("127.255.255.255 below top bit") << 127 << 255 << 255 << 255 << 0x7FFFFFFFu;
    QTest::newRow("0.0.0.0") << 0 << 0 << 0 << 0 << 0x00000000u;
    QTest::newRow("10.20.30.40") << 10 << 20 << 30 << 40 << 0x0A141E28u;
    QTest::newRow("255.255.255.0 mask") << 255 << 255 << 255 << 0 << 0xFFFFFF00u;
}

void tst_UctIPAddressCtrl::packing()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, third);
    QFETCH(int, fourth);
    QFETCH(quint32, packed);

    const qint32 value = uctIPAddressCtrl::PackAddress(quint8(first), quint8(second), quint8(third), quint8(fourth));
    QCOMPARE(quint32(value), packed);
    QCOMPARE(value < 0, first >= 128);

    quint8 a = 1, b = 1, c = 1, d = 1;
    uctIPAddressCtrl::UnpackAddress(value, a, b, c, d);
    QCOMPARE(int(a), first);
    QCOMPARE(int(b), second);
    QCOMPARE(int(c), third);
    QCOMPARE(int(d), fourth);

    // Through the control: set, shown in the fields, read back unchanged.
    uctIPAddressCtrl ctrl;
    ctrl.SetIPAddress(quint8(first), quint8(second), quint8(third), quint8(fourth));
    QCOMPARE(fieldTexts(ctrl), QStringLiteral("%1|%2|%3|%4").arg(first).arg(second).arg(third).arg(fourth));
    QCOMPARE(address(ctrl), QStringLiteral("%1.%2.%3.%4").arg(first).arg(second).arg(third).arg(fourth));
    quint32 raw = 0;
    QCOMPARE(ctrl.HostedWindow()->SendMessage(IPAddressWindow::IPM_GETADDRESS, 0, reinterpret_cast<qintptr>(&raw)), qintptr(4));
    QCOMPARE(raw, packed);
}

void tst_UctIPAddressCtrl::newControlShows127001()
{
    uctIPAddressCtrl ctrl;
    QCOMPARE(fieldTexts(ctrl), QStringLiteral("127|0|0|1"));
    QCOMPARE(address(ctrl), QStringLiteral("127.0.0.1"));
    QVERIFY(!ctrl.IsBlank());
    QVERIFY(ctrl.Enabled());
    QVERIFY(ctrl.Visible());
}

void tst_UctIPAddressCtrl::clearMakesBlank()
{
    uctIPAddressCtrl ctrl;
    ctrl.SetIPAddress(192, 168, 0, 1);
    QSignalSpy changed(&ctrl, &uctIPAddressCtrl::AddressChanged);
    ctrl.Clear();
    QVERIFY(ctrl.IsBlank());
    QCOMPARE(fieldTexts(ctrl), QStringLiteral("|||"));
    QCOMPARE(address(ctrl), QStringLiteral("0.0.0.0"));
    QCOMPARE(changed.count(), 1);
    quint32 raw = 0xFFFFFFFF;
    QCOMPARE(ctrl.HostedWindow()->SendMessage(IPAddressWindow::IPM_GETADDRESS, 0, reinterpret_cast<qintptr>(&raw)), qintptr(0));
    QCOMPARE(raw, 0u);
    // Clearing a blank control changes nothing and says nothing.
    ctrl.Clear();
    QCOMPARE(changed.count(), 1);
}

void tst_UctIPAddressCtrl::partlyBlankReadsZero()
{
    uctIPAddressCtrl ctrl;
    ctrl.SetIPAddress(10, 1, 2, 3);
    ctrl.HostedWindow()->Field(2)->clear();
    QVERIFY(!ctrl.IsBlank());
    QCOMPARE(address(ctrl), QStringLiteral("10.1.0.3"));
}

void tst_UctIPAddressCtrl::setFieldRangeLimitsTypedValues_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("255 above the highest") << QStringLiteral("255") << QStringLiteral("223");
    QTest::newRow("0 below the lowest") << QStringLiteral("0") << QStringLiteral("1");
    QTest::newRow("223 the highest") << QStringLiteral("223") << QStringLiteral("223");
    QTest::newRow("1 the lowest") << QStringLiteral("1") << QStringLiteral("1");
    QTest::newRow("100 inside") << QStringLiteral("100") << QStringLiteral("100");
}

void tst_UctIPAddressCtrl::setFieldRangeLimitsTypedValues()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);

    QWidget window;
    auto* ctrl = new uctIPAddressCtrl(&window);
    auto* after = new QLineEdit(&window);
    after->move(0, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    ctrl->SetFieldRange(0, 223, 1);
    ctrl->SetFieldFocus(0);
    QLineEdit* field0 = ctrl->HostedWindow()->Field(0);
    QTRY_VERIFY(field0->hasFocus());
    QTest::keyClick(field0, Qt::Key_Delete);  // the digits are selected
    QTest::keyClicks(field0, typed);
    after->setFocus();  // leave the field
    QTRY_VERIFY(after->hasFocus());
    QCOMPARE(field0->text(), shown);
    quint8 a = 0, b = 0, c = 0, d = 0;
    ctrl->GetIPAddress(a, b, c, d);
    QCOMPARE(QString::number(a), shown);
}

void tst_UctIPAddressCtrl::setFieldRangeIgnoresBadIndex_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("4") << 4;
    QTest::newRow("-1") << -1;
    QTest::newRow("large") << std::numeric_limits<qint32>::max();
}

void tst_UctIPAddressCtrl::setFieldRangeIgnoresBadIndex()
{
    QFETCH(int, index);
    uctIPAddressCtrl ctrl;
    ctrl.SetIPAddress(0, 255, 0, 255);
    ctrl.SetFieldRange(index, 200, 10);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(int(ctrl.HostedWindow()->FieldMin(i)), 0);
        QCOMPARE(int(ctrl.HostedWindow()->FieldMax(i)), 255);
    }
    QCOMPARE(address(ctrl), QStringLiteral("0.255.0.255"));
    QCOMPARE(ctrl.HostedWindow()->SendMessage(IPAddressWindow::IPM_SETRANGE, 4, uctIPAddressCtrl::PackRange(200, 10)), qintptr(0));
}

void tst_UctIPAddressCtrl::setFieldRangeReversedBounds()
{
    // Lowest and highest given the wrong way round still make a usable range.
    uctIPAddressCtrl ctrl;
    ctrl.SetFieldRange(3, 10, 200);
    QCOMPARE(int(ctrl.HostedWindow()->FieldMin(3)), 10);
    QCOMPARE(int(ctrl.HostedWindow()->FieldMax(3)), 200);
    QCOMPARE(address(ctrl), QStringLiteral("127.0.0.10"));
}

void tst_UctIPAddressCtrl::setAddressOutsideRangeTakesBound()
{
    uctIPAddressCtrl ctrl;
    ctrl.SetFieldRange(0, 223, 1);
    quint8 high = 0, low = 0;
    uctIPAddressCtrl::UnpackRange(uctIPAddressCtrl::PackRange(223, 1), high, low);
    QCOMPARE(int(high), 223);
    QCOMPARE(int(low), 1);
    QCOMPARE(uctIPAddressCtrl::PackRange(223, 1), quint16(0xDF01));
    ctrl.SetIPAddress(255, 1, 2, 3);
    QCOMPARE(address(ctrl), QStringLiteral("223.1.2.3"));
    ctrl.SetIPAddress(0, 1, 2, 3);
    QCOMPARE(address(ctrl), QStringLiteral("1.1.2.3"));
}

void tst_UctIPAddressCtrl::resizeGivesFixedSize_data()
{
    QTest::addColumn<QSize>("asked");
    QTest::newRow("larger") << QSize(500, 80);
    QTest::newRow("design size of uctIPAddress1 (2415 x 375 twips)") << QSize(161, 25);
    QTest::newRow("smaller") << QSize(10, 5);
    QTest::newRow("zero") << QSize(0, 0);
}

void tst_UctIPAddressCtrl::resizeGivesFixedSize()
{
    QFETCH(QSize, asked);
    QWidget window;
    auto* ctrl = new uctIPAddressCtrl(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    ctrl->resize(asked);
    QCOMPARE(ctrl->size(), QSize(160, 21));
    ctrl->setGeometry(QRect(QPoint(7, 9), asked));
    QCOMPARE(ctrl->geometry(), QRect(7, 9, 160, 21));
    QCOMPARE(ctrl->width() * uctIPAddressCtrl::kTwipsPerPixel, 2400);
    QCOMPARE(ctrl->height() * uctIPAddressCtrl::kTwipsPerPixel, 315);
    // The entry keeps its place and size at the control's top left corner.
    QCOMPARE(ctrl->HostedWindow()->geometry(), QRect(0, 0, 160, 21));
}

void tst_UctIPAddressCtrl::visibleHidesOnlyTheEntry()
{
    QWidget window;
    auto* ctrl = new uctIPAddressCtrl(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ctrl->SetIPAddress(10, 0, 0, 2);

    ctrl->SetVisible(false);
    QVERIFY(!ctrl->Visible());
    QVERIFY(!ctrl->HostedWindow()->isVisible());
    QVERIFY(!ctrl->HostedWindow()->Field(0)->isVisible());
    // The control itself and the rest of its state are untouched.
    QVERIFY(ctrl->isVisible());
    QVERIFY(ctrl->Enabled());
    QCOMPARE(ctrl->size(), QSize(160, 21));
    QCOMPARE(address(*ctrl), QStringLiteral("10.0.0.2"));

    ctrl->SetVisible(true);
    QVERIFY(ctrl->Visible());
    QVERIFY(ctrl->HostedWindow()->Field(3)->isVisible());
    QCOMPARE(address(*ctrl), QStringLiteral("10.0.0.2"));

    // The property is what the window localization and designers see.
    QVERIFY(ctrl->setProperty("Visible", false));
    QCOMPARE(ctrl->property("Visible").toBool(), false);
}

void tst_UctIPAddressCtrl::enabledDisablesInputAndLooksGrey()
{
    QWidget window;
    auto* ctrl = new uctIPAddressCtrl(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ctrl->Clear();
    const QImage enabledLook = ctrl->grab().toImage();

    ctrl->SetEnabled(false);
    QVERIFY(!ctrl->Enabled());
    for (int i = 0; i < 4; ++i)
        QVERIFY(!ctrl->HostedWindow()->Field(i)->isEnabled());
    QTest::keyClicks(ctrl->HostedWindow()->Field(0), QStringLiteral("12"));
    QVERIFY(ctrl->IsBlank());
    const QImage disabledLook = ctrl->grab().toImage();
    // The background inside the frame turns to the disabled colour.
    const QPoint inside(ctrl->width() / 2, ctrl->height() / 2);
    QVERIFY(enabledLook.pixelColor(inside) != disabledLook.pixelColor(inside));

    ctrl->SetEnabled(true);
    QVERIFY(ctrl->Enabled());
    QCOMPARE(ctrl->grab().toImage().pixelColor(inside), enabledLook.pixelColor(inside));
    QTest::keyClicks(ctrl->HostedWindow()->Field(0), QStringLiteral("12"));
    QCOMPARE(ctrl->HostedWindow()->Field(0)->text(), QStringLiteral("12"));
}

void tst_UctIPAddressCtrl::enabledIsTheControlsOwnState()
{
    QWidget page;
    auto* ctrl = new uctIPAddressCtrl(&page);
    page.setEnabled(false);
    QVERIFY(ctrl->Enabled());
    QVERIFY(!ctrl->HostedWindow()->Field(0)->isEnabled());
    ctrl->SetEnabled(false);
    page.setEnabled(true);
    QVERIFY(!ctrl->Enabled());
    QVERIFY(ctrl->setProperty("Enabled", true));
    QVERIFY(ctrl->HostedWindow()->Field(0)->isEnabled());
}

void tst_UctIPAddressCtrl::setFieldFocusMovesCaret_data()
{
    QTest::addColumn<QString>("address");  // "" for a blank field
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("focused");
    QTest::newRow("field 2") << QStringLiteral("1.2.3.4") << 2 << 2;
    QTest::newRow("field 3") << QStringLiteral("1.2.3.4") << 3 << 3;
    QTest::newRow("beyond, none blank: first field") << QStringLiteral("1.2.3.4") << 7 << 0;
    QTest::newRow("beyond: first blank field") << QStringLiteral("1.2..") << 4 << 2;
    QTest::newRow("negative: first blank field") << QStringLiteral("1...") << -1 << 1;
}

void tst_UctIPAddressCtrl::setFieldFocusMovesCaret()
{
    QFETCH(QString, address);
    QFETCH(int, index);
    QFETCH(int, focused);

    QWidget window;
    auto* ctrl = new uctIPAddressCtrl(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const QStringList parts = address.split(QLatin1Char('.'));
    for (int i = 0; i < 4; ++i)
        ctrl->HostedWindow()->Field(i)->setText(parts.at(i));

    ctrl->SetFieldFocus(index);
    QLineEdit* field = ctrl->HostedWindow()->Field(focused);
    QTRY_VERIFY(field->hasFocus());
    // The field's digits are selected, so typing replaces them.
    QCOMPARE(field->selectedText(), field->text());
}

void tst_UctIPAddressCtrl::fontItalicReadBackAndApplied()
{
    uctIPAddressCtrl ctrl;
    ctrl.ReadDesignProperties();
    QVERIFY(!ctrl.FontItalic());
    ctrl.SetFontItalic(true);
    QVERIFY(ctrl.FontItalic());
    QVERIFY(ctrl.Font()->Italic());
    for (int i = 0; i < 4; ++i)
        QVERIFY(ctrl.HostedWindow()->Field(i)->font().italic());
    ctrl.SetFontItalic(false);
    QVERIFY(!ctrl.HostedWindow()->Field(0)->font().italic());
}

void tst_UctIPAddressCtrl::fontPropertiesMarkFontChanged()
{
    uctIPAddressCtrl ctrl;
    QSignalSpy marked(&ctrl, &uctIPAddressCtrl::PropertyChanged);
    ctrl.SetFontBold(true);
    ctrl.SetFontName(QStringLiteral("DejaVu Sans"));
    ctrl.SetFontSize(12.0f);
    ctrl.SetFontItalic(true);
    QCOMPARE(marked.count(), 4);
    for (const QList<QVariant>& args : marked)
        QCOMPARE(args.at(0).toString(), QStringLiteral("Font"));
    QVERIFY(ctrl.FontBold());
    QCOMPARE(ctrl.FontName(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(ctrl.FontSize(), 12.0f);
    const QFont shown = ctrl.HostedWindow()->Field(1)->font();
    QCOMPARE(shown.weight(), QFont::Bold);
    QCOMPARE(shown.pixelSize(), std::abs(uctIPAddressCtrl::FontHeight(12.0, ctrl.logicalDpiY())));
    QCOMPARE(shown.family(), QStringLiteral("DejaVu Sans"));
}

void tst_UctIPAddressCtrl::fontObjectChangeRebuildsWithoutCall()
{
    uctIPAddressCtrl ctrl;
    ctrl.ReadDesignProperties();
    // What the window localization does: find the object by the property "Font" and set
    // its name and character set.
    auto* font = ctrl.property("Font").value<QObject*>();
    QVERIFY(font);
    QSignalSpy notified(font, SIGNAL(FontChanged(QString)));
    QVERIFY(font->setProperty("Name", QStringLiteral("DejaVu Serif")));
    QVERIFY(font->setProperty("Charset", 0));
    QCOMPARE(notified.count(), 2);
    QCOMPARE(notified.at(0).at(0).toString(), QStringLiteral("Name"));
    QCOMPARE(notified.at(1).at(0).toString(), QStringLiteral("Charset"));
    QCOMPARE(ctrl.HostedWindow()->Field(0)->font().family(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(ctrl.FontName(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(ctrl.Font()->Charset(), 0);

    QVERIFY(font->setProperty("Size", 14.0));
    QCOMPARE(ctrl.HostedWindow()->Field(3)->font().pixelSize(),
             std::abs(uctIPAddressCtrl::FontHeight(14.0, ctrl.logicalDpiY())));
    QVERIFY(font->setProperty("Underline", true));
    QVERIFY(ctrl.HostedWindow()->Field(3)->font().underline());
    QVERIFY(font->setProperty("Strikethrough", true));
    QVERIFY(ctrl.HostedWindow()->Field(3)->font().strikeOut());
}

void tst_UctIPAddressCtrl::fontReplaceAndNull()
{
    uctIPAddressCtrl ctrl;
    IPAddrFont* old = ctrl.Font();
    IPAddrFont shared(QStringLiteral("DejaVu Sans Mono"), 11.0, true, false, false, false, 0);
    QSignalSpy marked(&ctrl, &uctIPAddressCtrl::PropertyChanged);
    ctrl.SetFont(&shared);
    QCOMPARE(ctrl.Font(), &shared);
    QCOMPARE(marked.count(), 1);
    QCOMPARE(ctrl.HostedWindow()->Field(0)->font().family(), QStringLiteral("DejaVu Sans Mono"));
    QCOMPARE(ctrl.HostedWindow()->Field(0)->font().weight(), QFont::Bold);

    // The replaced object no longer steers the control; the new one does.
    old->SetName(QStringLiteral("DejaVu Serif"));
    QCOMPARE(ctrl.HostedWindow()->Field(0)->font().family(), QStringLiteral("DejaVu Sans Mono"));
    shared.SetItalic(true);
    QVERIFY(ctrl.HostedWindow()->Field(0)->font().italic());

    ctrl.SetFont(nullptr);
    QCOMPARE(ctrl.Font(), &shared);
    ctrl.SetFont(old);  // detach before `shared` goes away
}

void tst_UctIPAddressCtrl::destroyedFontObjectLeavesDefault()
{
    uctIPAddressCtrl ctrl;
    {
        IPAddrFont shortLived(QStringLiteral("DejaVu Serif"), 10.0, false, false, false, false, 0);
        ctrl.SetFont(&shortLived);
    }
    QVERIFY(ctrl.Font());
    ctrl.SetFontBold(true);  // must not crash, and still applies
    QVERIFY(ctrl.FontBold());
    QCOMPARE(ctrl.HostedWindow()->Field(0)->font().weight(), QFont::Bold);
}

void tst_UctIPAddressCtrl::fontHeight_data()
{
    QTest::addColumn<double>("points");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("height");
    QTest::newRow("9 pt at 96 dpi") << 9.0 << 96 << -12;
    QTest::newRow("8.25 pt at 96 dpi") << 8.25 << 96 << -11;
    QTest::newRow("10.5 pt at 96 dpi: half to even 10") << 10.5 << 96 << -13;
    QTest::newRow("9.75 pt at 96 dpi: rounds to 10") << 9.75 << 96 << -13;
    QTest::newRow("11.5 pt at 96 dpi: half to even 12") << 11.5 << 96 << -16;
    QTest::newRow("12 pt at 96 dpi") << 12.0 << 96 << -16;
    QTest::newRow("9 pt at 120 dpi") << 9.0 << 120 << -15;
    QTest::newRow("9 pt at 144 dpi") << 9.0 << 144 << -18;
    QTest::newRow("8 pt at 120 dpi: 13.33 to nearest") << 8.0 << 120 << -13;
    QTest::newRow("0.5 pt: half to even 0") << 0.5 << 96 << 0;
}

void tst_UctIPAddressCtrl::fontHeight()
{
    QFETCH(double, points);
    QFETCH(int, dpi);
    QFETCH(int, height);
    QCOMPARE(uctIPAddressCtrl::FontHeight(points, dpi), height);
}

void tst_UctIPAddressCtrl::rebuildUsesHeightRule_data()
{
    QTest::addColumn<double>("points");
    QTest::addColumn<bool>("bold");
    QTest::newRow("9 pt") << 9.0 << false;
    QTest::newRow("8.25 pt bold") << 8.25 << true;
    QTest::newRow("10.5 pt") << 10.5 << false;
}

void tst_UctIPAddressCtrl::rebuildUsesHeightRule()
{
    QFETCH(double, points);
    QFETCH(bool, bold);
    uctIPAddressCtrl ctrl;
    ctrl.Font()->SetBold(bold);
    ctrl.Font()->SetSize(points);
    const QFont shown = ctrl.HostedWindow()->Field(2)->font();
    QCOMPARE(shown.pixelSize(), -uctIPAddressCtrl::FontHeight(points, ctrl.logicalDpiY()));
    QCOMPARE(shown.weight(), bold ? QFont::Weight(700) : QFont::Weight(400));
}

void tst_UctIPAddressCtrl::designProperties()
{
    uctIPAddressCtrl ctrl;
    ctrl.ReadDesignProperties();
    QCOMPARE(ctrl.FontName(), QStringLiteral(u"ＭＳ Ｐゴシック"));
    QCOMPARE(ctrl.FontSize(), 9.0f);
    QVERIFY(!ctrl.FontBold());
    QVERIFY(!ctrl.FontItalic());
    QCOMPARE(ctrl.Font()->Charset(), 128);
    const QFont shown = ctrl.HostedWindow()->Field(0)->font();
    QCOMPARE(shown.family(), QStringLiteral(u"ＭＳ Ｐゴシック"));
    QCOMPARE(shown.pixelSize(), -uctIPAddressCtrl::FontHeight(9.0, ctrl.logicalDpiY()));
    QCOMPARE(shown.weight(), QFont::Normal);
}

void tst_UctIPAddressCtrl::readPropertiesWithoutSavedFontTakesContainerFont()
{
    QWidget container;
    QFont ambient(QStringLiteral("DejaVu Serif"));
    ambient.setPointSizeF(11.0);
    ambient.setItalic(true);
    container.setFont(ambient);
    auto* ctrl = new uctIPAddressCtrl(&container);
    ctrl->ReadProperties(nullptr);
    QCOMPARE(ctrl->FontName(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(ctrl->FontSize(), 11.0f);
    QVERIFY(ctrl->FontItalic());
    QVERIFY(ctrl->HostedWindow()->Field(0)->font().italic());
}

void tst_UctIPAddressCtrl::fontObjectRefusesBadValues()
{
    IPAddrFont font(QStringLiteral("DejaVu Sans"), 9.0, false, false, false, false, 0);
    QVERIFY(!font.SetSize(std::nan("")));
    QVERIFY(!font.SetSize(-1.0));
    QVERIFY(!font.SetSize(std::numeric_limits<double>::infinity()));
    QVERIFY(!font.SetSize(1e300));
    QCOMPARE(font.Size(), 9.0);
    QVERIFY(font.SetSize(8.25));
    QCOMPARE(font.SizeFixed(), qint64(82500));
    QVERIFY(!font.SetCharset(40000));
    QCOMPARE(font.Charset(), 0);
    QVERIFY(font.SetCharset(128));
    QCOMPARE(font.Charset(), 128);
}

void tst_UctIPAddressCtrl::mulDiv_data()
{
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("c");
    QTest::addColumn<int>("result");
    QTest::newRow("exact") << 9 << 96 << 72 << 12;
    QTest::newRow("half away from zero") << 7 << 1 << 2 << 4;
    QTest::newRow("negative half away from zero") << -7 << 1 << 2 << -4;
    QTest::newRow("below half") << 10 << 96 << 72 << 13;
    QTest::newRow("divisor 0") << 5 << 5 << 0 << -1;
    QTest::newRow("too large") << std::numeric_limits<int>::max() << 4 << 1 << -1;
}

void tst_UctIPAddressCtrl::mulDiv()
{
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, c);
    QFETCH(int, result);
    QCOMPARE(uctIPAddressCtrl::MulDiv(a, b, c), result);
}

void tst_UctIPAddressCtrl::registeredName()
{
    const QMetaObject& meta = uctIPAddressCtrl::staticMetaObject;
    const int i = meta.indexOfClassInfo("RegisteredName");
    QVERIFY(i >= 0);
    QCOMPARE(QString::fromLatin1(meta.classInfo(i).value()), QStringLiteral("Tolvane.uctIPAddressCtrl"));
}

QTEST_MAIN(tst_UctIPAddressCtrl)
#include "tst_uctipaddressctrl.moc"
