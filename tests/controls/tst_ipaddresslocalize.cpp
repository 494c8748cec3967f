// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The IP address control under window localization, as the main window does it at
// start-up: the language's font reaches the address fields through the font object.

#include "controls/uctIPAddressCtrl.h"
#include "localeui/localizeform.h"
#include "locale/modLocale.h"

#include <QFontDatabase>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kNoModule = QStringLiteral("/nonexistent/tolvane-test/LangRes.dll");

// The family LocalizeForm settles on: id 2, else id 3, else the general font ("System").
QString expectedFamily()
{
    for (int id : {2, 3}) {
        if (QFontDatabase::families().contains(LStr(id), Qt::CaseInsensitive))
            return LStr(id);
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

}  // namespace

class tst_IPAddressLocalize : public QObject
{
    Q_OBJECT

private slots:
    void languageFontReachesFields_data();
    void languageFontReachesFields();
};

void tst_IPAddressLocalize::languageFontReachesFields_data()
{
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("charset");
    QTest::newRow("English") << int(kLangEnglish) << 0;
    QTest::newRow("Japanese") << int(kLangJapanese) << 128;
}

void tst_IPAddressLocalize::languageFontReachesFields()
{
    QFETCH(int, language);
    QFETCH(int, charset);
    InitLocale(quint16(language), kNoModule);
    QCOMPARE(int(CurrentLanguage()), language);

    QWidget window;
    window.setWindowTitle(QStringLiteral("Settings#1005"));
    auto* ctrl = new uctIPAddressCtrl(&window);
    ctrl->setObjectName(QStringLiteral("uctIPAddress1"));
    ctrl->ReadDesignProperties();
    ctrl->SetIPAddress(10, 1, 2, 3);
    QSignalSpy rebuilt(ctrl->Font(), &IPAddrFont::FontChanged);

    LocalizeForm(&window);

    const QString family = expectedFamily();
    QCOMPARE(window.windowTitle(), LStr(1005));
    QVERIFY(!rebuilt.isEmpty());
    QCOMPARE(ctrl->FontName(), family);
    QCOMPARE(ctrl->Font()->Charset(), charset);
    // Size and weight of the design font stay; only the family changes, in every field.
    for (int i = 0; i < 4; ++i) {
        const QFont shown = ctrl->HostedWindow()->Field(i)->font();
        QCOMPARE(shown.family(), family);
        QCOMPARE(shown.pixelSize(), -uctIPAddressCtrl::FontHeight(9.0, ctrl->logicalDpiY()));
        QCOMPARE(shown.weight(), QFont::Normal);
    }
    // The walk leaves the control's inside alone: no field gets a font of its own.
    for (int i = 0; i < 4; ++i)
        QVERIFY(!ctrl->HostedWindow()->Field(i)->testAttribute(Qt::WA_SetFont));
    QCOMPARE(ctrl->AddressText(), QStringLiteral("10.1.2.3"));
}

QTEST_MAIN(tst_IPAddressLocalize)
#include "tst_ipaddresslocalize.moc"
