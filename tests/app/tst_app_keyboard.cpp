// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard as an engineer drives it from the keyboard and as a screen reader sees it:
// whole addresses typed in one go over what the address controls already show, the
// whole wizard with keys alone over Ethernet and RS232C, and what every control is
// called, in English and Japanese. Each case has a free loopback address 127.0.3.x of its own.

#include "apptestutil.h"
#include "controls/announce.h"
#include "appsim.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>

using namespace apptest;

namespace {

// Keys go where the keyboard focus is, as they do for the user. A mnemonic (Alt+N) shows
// its button pressed for a moment before it clicks: wait for what it does.
QWidget* Focus()
{
    return QApplication::focusWidget();
}

void Key(Qt::Key key, Qt::KeyboardModifiers mods = {})
{
    QWidget* target = Focus();
    QVERIFY2(target, "some control has the keyboard focus");
    QTest::keyClick(target, key, mods);
}

void TypeText(const QString& keys)
{
    for (QChar c : keys) {
        QWidget* target = Focus();
        QVERIFY2(target, "some control has the keyboard focus");
        QTest::keyClick(target, c.toLatin1());
    }
}

bool FocusIsIn(const QWidget* control)
{
    return Focus() && (Focus() == control || control->isAncestorOf(Focus()));
}

// Presses Down or Up until the list shows the item with this data (keys only).
void ChooseByKeys(QComboBox* list, const QVariant& data)
{
    const int to = list->findData(data);
    QVERIFY2(to >= 0, qPrintable(data.toString()));
    QCOMPARE(Focus(), list);
    while (list->currentIndex() != to) {
        const int was = list->currentIndex();
        Key(was < to ? Qt::Key_Down : Qt::Key_Up);
        QVERIFY(list->currentIndex() != was);
    }
}

// How the engineer gets into an address control before he types.
enum class Entry { Tab, ClickSelect, Paste };

// What assistive technology was told, in order.
struct Announcements {
    QList<QPair<QWidget*, QString>> said;
    Announcements()
    {
        SetAnnounceHandler([this](QWidget* source, const QString& text) { said.append({source, text}); });
    }
    ~Announcements() { SetAnnounceHandler({}); }
    Announcements(const Announcements&) = delete;
    Announcements& operator=(const Announcements&) = delete;
};

}  // namespace

class tst_AppKeyboard : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_config;

    // Enters the control as the row says and types (or pastes) the keys over the
    // address it shows; the result is what GetIPAddress gives.
    static void EnterAddress(frmMain& w, const char* name, const QString& start, Entry entry, const QString& keys)
    {
        auto* ctrl = Find<uctIPAddressCtrl>(w, name);
        QVERIFY(ctrl && ctrl->isVisible() && ctrl->isEnabled());
        QVERIFY(ctrl->SetAddressText(start));
        QLineEdit* first = ctrl->HostedWindow()->Field(0);
        switch (entry) {
        case Entry::Tab: {
            // From the control before it in the keyboard order (after the mask: back).
            struct From {
                const char* control;
                const char* from;
                bool back;
            };
            static const From froms[] = {{"uctIPAddress1", "optDevice_0", false},
                                         {"uctIPAddress3", "uctSubnetMask", true},
                                         {"uctSubnetMask", "uctIPAddress3", false},
                                         {"uctIP", "optToken_2", false}};
            for (const From& f : froms) {
                if (qstrcmp(f.control, name) != 0)
                    continue;
                Find<QWidget>(w, f.from)->setFocus(Qt::OtherFocusReason);
                Key(Qt::Key_Tab, f.back ? Qt::ShiftModifier : Qt::NoModifier);
            }
            QCOMPARE(Focus(), first);
            QCOMPARE(first->selectedText(), first->text());
            break;
        }
        case Entry::ClickSelect:
            // A click puts the caret where it lands; a double click selects the digits.
            QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() / 2, first->height() / 2));
            QCOMPARE(Focus(), first);
            QVERIFY(!first->hasSelectedText());
            QTest::mouseDClick(first, Qt::LeftButton, {}, QPoint(first->width() / 2, first->height() / 2));
            QCOMPARE(first->selectedText(), first->text());
            break;
        case Entry::Paste:
            QTest::mouseClick(first, Qt::LeftButton, {}, QPoint(first->width() / 2, first->height() / 2));
            QGuiApplication::clipboard()->setText(keys);
            Key(Qt::Key_V, Qt::ControlModifier);
            return;
        }
        TypeText(keys);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        UseConfigHome(m_config);
    }
    void init() { WriteLangId(QStringLiteral("1033")); }

    // Whole addresses typed in one go over an address already shown, on each of the
    // wizard's four address controls.
    void typedAddress_data()
    {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("entry");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("result");
        QTest::addColumn<bool>("noted");  // a value was brought into range and said so
        const int tab = int(Entry::Tab), click = int(Entry::ClickSelect), paste = int(Entry::Paste);
        QTest::newRow("the demonstration address over the start value")
            << "192.168.0.1" << tab << "127.0.0.1" << "127.0.0.1" << false;
        QTest::newRow("three digits then dots") << "192.168.0.1" << click << "192.168.10.20" << "192.168.10.20" << false;
        QTest::newRow("a mask: 255 and 0") << "10.1.2.3" << tab << "255.255.255.0" << "255.255.255.0" << false;
        QTest::newRow("one digit each") << "255.255.255.255" << click << "1.2.3.4" << "1.2.3.4" << false;
        QTest::newRow("all zero") << "127.0.0.1" << tab << "0.0.0.0" << "0.0.0.0" << false;
        QTest::newRow("two digits each") << "100.200.100.200" << click << "10.20.30.40" << "10.20.30.40" << false;
        QTest::newRow("blanks as separators") << "192.168.0.1" << tab << "172 16 254 1" << "172.16.254.1" << false;
        QTest::newRow("three digits and blanks") << "1.2.3.4" << click << "192 168 100 200" << "192.168.100.200"
                                                 << false;
        QTest::newRow("above 255 becomes 255") << "192.168.0.1" << tab << "300.1.2.3" << "255.1.2.3" << true;
        QTest::newRow("pasted over the start value") << "192.168.0.1" << paste << "10.20.30.40" << "10.20.30.40"
                                                     << false;
        QTest::newRow("pasted with blanks around") << "1.2.3.4" << paste << " 172.16.0.1 " << "172.16.0.1" << false;
        QTest::newRow("no address is no paste") << "1.2.3.4" << paste << "1.2.3" << "1.2.3.4" << false;
    }
    void typedAddress()
    {
        QFETCH(QString, start);
        QFETCH(int, entry);
        QFETCH(QString, keys);
        QFETCH(QString, result);
        QFETCH(bool, noted);
        SimBench c;
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = std::make_unique<frmMain>();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));

        const auto check = [&](const char* name) {
            EnterAddress(*w, name, start, Entry(entry), keys);
            QCOMPARE(Dotted(GetIP(*w, name)), result);
            QLabel* note = Find<uctIPAddressCtrl>(*w, name)->HostedWindow()->RangeNote();
            QCOMPARE(note->isVisible(), noted);
            if (noted)
                QCOMPARE(note->text(), QStringLiteral("300 is not a valid entry. Specify a value between 0 and 255."));
        };
        check("uctIPAddress1");
        if (QTest::currentTestFailed())
            return;
        // The controller is reached only at a loopback address.
        SetIP(*w, "uctIPAddress1", c.octets());
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 2);
        check("uctIPAddress3");
        check("uctSubnetMask");
        if (QTest::currentTestFailed())
            return;
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 4);
        ClickOption(Find<QRadioButton>(*w, "optToken_2"));
        check("uctIP");
        QVERIFY(boxes.calls.isEmpty());
        Click(*w, "cmdCancel");
        QTRY_VERIFY(!w->isVisible());
    }

    // The whole Ethernet change with keys alone: the address typed over the start value,
    // the controller's new address typed over the one it has, Complete.
    void keyboardOnlyEthernet()
    {
        SimBench c;
        SimState seeded = SimBench::factory();
        // Not the factory address: what the page shows must be typed over.
        PutRecordAddress(seeded.records[kRawCom], 120, QStringLiteral("172.16.254.201"));
        PutRecordAddress(seeded.records[kRawCom], 124, QStringLiteral("255.255.240.0"));
        QVERIFY(c.seed(seeded));
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        Announcements heard;
        auto w = std::make_unique<frmMain>();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QCOMPARE(Dotted(GetIP(*w, "uctIPAddress1")), QStringLiteral("192.168.0.1"));

        // Connection page: the Ethernet option, then Tab into the address.
        QCOMPARE(Focus(), Find<QWidget>(*w, "optDevice_0"));
        Key(Qt::Key_Tab);
        QVERIFY(FocusIsIn(Find<QWidget>(*w, "uctIPAddress1")));
        TypeText(c.address);
        QCOMPARE(Dotted(GetIP(*w, "uctIPAddress1")), c.address);
        Key(Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(w->currentStep(), 1);
        QVERIFY(boxes.calls.isEmpty());

        // Permission page: the device list has the focus.
        QCOMPARE(Focus(), Find<QWidget>(*w, "cmbDevice"));
        Key(Qt::Key_Home);
        Key(Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(w->currentStep(), 2);

        // Ethernet page: the address as the controller has it, typed over in one go.
        QVERIFY(FocusIsIn(Find<QWidget>(*w, "uctIPAddress3")));
        QCOMPARE(Dotted(GetIP(*w, "uctIPAddress3")), QStringLiteral("172.16.254.201"));
        TypeText(QStringLiteral("192.168.10.20"));
        Key(Qt::Key_Tab);
        QVERIFY(FocusIsIn(Find<QWidget>(*w, "uctSubnetMask")));
        TypeText(QStringLiteral("255.255.255.0"));
        Key(Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(w->currentStep(), 4);

        // Token page: from "Open" down to COM2, past Ethernet and its address.
        QCOMPARE(Focus(), Find<QWidget>(*w, "optToken_0"));
        for (int i = 0; i < 3; ++i)
            Key(Qt::Key_Down);
        QVERIFY(Find<QRadioButton>(*w, "optToken_3")->isChecked());
        Key(Qt::Key_O, Qt::AltModifier);
        QTRY_COMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
        QTRY_VERIFY(!w->isVisible());

        // Every page change was announced with the new page's title (the first page is
        // read with the window as it opens).
        QStringList titles;
        for (const auto& [source, text] : heard.said) {
            if (source == Find<QLabel>(*w, "lblTitle"))
                titles << text;
        }
        QCOMPARE(titles, (QStringList{LStr(1033), LStr(1032), LStr(1036)}));

        const SimState after = c.stopAndRead();
        const QByteArray& raw = after.records[kRawCom];
        QCOMPARE(Dotted(RecordAddress(raw, 120)), QStringLiteral("192.168.10.20"));
        QCOMPARE(Dotted(RecordAddress(raw, 124)), QStringLiteral("255.255.255.0"));
        QCOMPARE(U16(after.records[kBackPrm], 23972), quint16(2));
    }

    // The RS232C change with keys alone, over a pseudo-terminal linked as COM97.
    void keyboardOnlyRs232c()
    {
        const QString ports = SettingsDir() + QStringLiteral("/ports");
        QVERIFY(QDir().mkpath(ports));
        const QString link = ports + QStringLiteral("/com97");
        LoggedSim c({QStringLiteral("--pty"), link});
        SimState seeded = SimBench::factory();
        // The token with the I/O port, not the factory's: the page must open at it.
        PutU16(seeded.records[kBackPrm], 23972, 0);
        QVERIFY(c.seed(seeded));
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = std::make_unique<frmMain>();
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));

        QCOMPARE(Focus(), Find<QWidget>(*w, "optDevice_0"));
        Key(Qt::Key_Down);
        QVERIFY(Find<QRadioButton>(*w, "optDevice_1")->isChecked());
        Key(Qt::Key_Tab);  // the address is off for RS232C: straight to the port
        auto* port = Find<QComboBox>(*w, "cmbPort1");
        QCOMPARE(Focus(), port);
        ChooseByKeys(port, 97);
        Key(Qt::Key_Tab);
        ChooseByKeys(Find<QComboBox>(*w, "cmbBaudRate1"), 19200);
        Key(Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(w->currentStep(), 1);
        QVERIFY(boxes.calls.isEmpty());

        ChooseByKeys(Find<QComboBox>(*w, "cmbDevice"), 1);
        // Tab to Next and press it: the focus stays on the button, still shown.
        Key(Qt::Key_Tab);
        auto* next = Find<QPushButton>(*w, "cmdNext");
        QCOMPARE(Focus(), next);
        Key(Qt::Key_Space);
        QTRY_COMPARE(w->currentStep(), 3);
        QCOMPARE(Focus(), next);
        Key(Qt::Key_Tab, Qt::ShiftModifier);  // the only list that can change
        auto* baud = Find<QComboBox>(*w, "cmbBaudRate4");
        QCOMPARE(baud->currentData().toInt(), 38400);
        ChooseByKeys(baud, 115200);
        Key(Qt::Key_N, Qt::AltModifier);
        QTRY_COMPARE(w->currentStep(), 4);
        QCOMPARE(Focus(), Find<QWidget>(*w, "optToken_1"));
        Key(Qt::Key_O, Qt::AltModifier);
        QTRY_COMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
        QTRY_VERIFY(!w->isVisible());

        const SimState after = c.stopAndRead();
        const QByteArray& raw = after.records[kRawCom];
        QCOMPARE(U32(raw, 44), 2u);  // RS232C is the device
        QCOMPARE(U32(raw, 48), 115200u);
        QCOMPARE(U16(after.records[kBackPrm], 23972), quint16(0));
        QFile::remove(link);
    }

    // What a screen reader says of every control on every page, in both languages.
    void accessibleNames_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::newRow("English") << "1033";
        QTest::newRow("Japanese") << "1041";
    }
    void accessibleNames()
    {
        QFETCH(QString, lang);
        WriteLangId(lang);
        SimBench c;
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = std::make_unique<frmMain>();
        SetIP(*w, "uctIPAddress1", c.octets());
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QCOMPARE(CurrentLanguage(), quint16(lang.toUInt()));

        // Each control and the text id of what it is called, page by page.
        struct Named {
            const char* control;
            int text;
        };
        const QList<QList<Named>> pages{
            {{"optDevice_0", 1022}, {"optDevice_1", 1023}, {"uctIPAddress1", 1025}, {"cmbPort1", 1026},
             {"cmbBaudRate1", 1027}, {"cmbParity1", 1028}, {"cmbDataLength1", 1029}, {"cmbStopbit1", 1030},
             {"cmdNext", 101}, {"cmdCancel", 1002}},
            {{"cmbDevice", 1020}, {"cmdNext", 101}, {"cmdBack", 1000}, {"cmdCancel", 1002}},
            {{"uctIPAddress3", 1017}, {"uctSubnetMask", 1016}, {"cmdNext", 101}, {"cmdBack", 1000},
             {"cmdCancel", 1002}},
            {{"cmbBaudRate4", 1013}, {"cmbParity4", 1012}, {"cmbDataLength4", 1011}, {"cmbStopbit4", 1010},
             {"cmbDelimiter4", 1009}, {"cmdNext", 101}, {"cmdBack", 1000}, {"cmdCancel", 1002}},
            {{"optToken_0", 1039}, {"optToken_1", 1040}, {"optToken_2", 1041}, {"uctIP", 1038},
             {"optToken_3", 1042}, {"optToken_4", 1043}, {"optToken_5", 1044}, {"cmdNext", 100},
             {"cmdBack", 1000}, {"cmdCancel", 1002}},
        };
        const auto expectNames = [&](int step) {
            QCOMPARE(w->currentStep(), step);
            for (const Named& n : pages[step]) {
                auto* control = Find<QWidget>(*w, n.control);
                QVERIFY2(control->isVisible(), n.control);
                const QString name = QString(LStr(n.text)).remove(QLatin1Char('&'));
                QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
                QVERIFY(iface);
                if (iface->role() == QAccessible::ComboBox) {
                    // A list's own name is its current item; its caption is its label.
                    const auto labels = iface->relations(QAccessible::Label);
                    QVERIFY2(!labels.isEmpty(), n.control);
                    QCOMPARE(labels.first().first->text(QAccessible::Name), name);
                } else {
                    QCOMPARE(iface->text(QAccessible::Name), name);
                }
                if (auto* ip = qobject_cast<uctIPAddressCtrl*>(control)) {
                    for (int i = 0; i < 4; ++i) {
                        QAccessibleInterface* field = QAccessible::queryAccessibleInterface(ip->HostedWindow()->Field(i));
                        QCOMPARE(field->text(QAccessible::Name), LFormat(9000, name, i + 1, 4));
                    }
                }
            }
        };
        expectNames(0);
        Click(*w, "cmdNext");
        expectNames(1);
        Click(*w, "cmdNext");
        expectNames(2);
        Click(*w, "cmdNext");
        expectNames(4);
        // Back to the permission page for the RS232C page.
        Click(*w, "cmdBack");
        Click(*w, "cmdBack");
        QCOMPARE(w->currentStep(), 1);
        QVERIFY(frmMain::SelectComboItem(Find<QComboBox>(*w, "cmbDevice"), 1));
        Click(*w, "cmdNext");
        expectNames(3);
        QVERIFY(boxes.calls.isEmpty());
        Click(*w, "cmdCancel");
        QTRY_VERIFY(!w->isVisible());
    }

    // The fields' own names in the string table, as a screen reader says them.
    void fieldNameTexts_data()
    {
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("named");
        QTest::addColumn<QString>("unnamed");
        QTest::newRow("English") << "1033" << "IP Address, octet 2 of 4" << "Octet 2 of 4";
        QTest::newRow("Japanese") << "1041" << "IPアドレス、オクテット 2 / 4" << "オクテット 2 / 4";
    }
    void fieldNameTexts()
    {
        QFETCH(QString, lang);
        QFETCH(QString, named);
        QFETCH(QString, unnamed);
        InitLocale(quint16(lang.toUInt()));
        QCOMPARE(LFormat(9000, LStr(1017), 2, 4), named);
        QCOMPARE(LFormat(9001, 2, 4), unnamed);
    }
};

QTEST_MAIN(tst_AppKeyboard)
#include "tst_app_keyboard.moc"
