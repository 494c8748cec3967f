// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The whole wizard against the controller simulator: the real window is driven through
// clicks and the message-box seam, and the controller's records are checked afterwards
// in the simulator's state file. Each case has a free loopback address 127.0.3.x of its own.

#include "apptestutil.h"
#include "controller/commlink.h"
#include "localeui/localizeform.h"
#include "appsim.h"
#include "tests/support/loggedsim.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <qpa/qwindowsysteminterface.h>
#include <QProgressBar>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTest>

using namespace apptest;

namespace {

// Cancel as the user gives it ("click", "Alt+C" or the "close box"), queued as the
// window system queues it: it reaches the window only where an event loop takes input.
void PostCancel(QWidget& window, const QString& how)
{
    using Async = QWindowSystemInterface::AsynchronousDelivery;
    QWindow* handle = window.windowHandle();
    auto* button = window.findChild<QPushButton*>(QStringLiteral("cmdCancel"));
    const QPointF at = button->mapTo(&window, button->rect().center());
    if (how == QLatin1String("click")) {
        QWindowSystemInterface::handleMouseEvent<Async>(handle, at, window.mapToGlobal(at), Qt::LeftButton,
                                                        Qt::LeftButton, QEvent::MouseButtonPress);
        QWindowSystemInterface::handleMouseEvent<Async>(handle, at, window.mapToGlobal(at), Qt::NoButton,
                                                        Qt::LeftButton, QEvent::MouseButtonRelease);
    } else if (how == QLatin1String("Alt+C")) {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
            QWindowSystemInterface::handleKeyEvent<Async>(handle, type, Qt::Key_C, Qt::AltModifier,
                                                          QStringLiteral("c"));
    } else {
        QWindowSystemInterface::handleCloseEvent<Async>(handle);
    }
}

}  // namespace

class tst_AppFlow : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_config;

    std::unique_ptr<frmMain> OpenWindow(const Bytes& address)
    {
        auto w = std::make_unique<frmMain>();
        SetIP(*w, "uctIPAddress1", address);  // a loopback address before any Next
        w->show();
        return w;
    }

    // Connects, changes the controller's address on the Ethernet page and the token to
    // COM2, and presses Complete.
    static void ChangeAndComplete(frmMain& w)
    {
        Click(w, "cmdNext");
        Click(w, "cmdNext");
        SetIP(w, "uctIPAddress3", {10, 0, 0, 9});
        Click(w, "cmdNext");
        ClickOption(Find<QRadioButton>(w, "optToken_3"));
        Click(w, "cmdNext");
    }

    // The number of the nth request that `match` picks in a first run of
    // ChangeAndComplete against a controller holding st, for a fault at that request;
    // 0 when there is none.
    int ProbeRequest(const SimState& st, const std::function<bool(const QString&)>& match, int nth = 1)
    {
        SimBench probe;
        if (!probe.seed(st) || !probe.start())
            return 0;
        MsgBoxRecorder boxes;
        auto w = OpenWindow(probe.octets());
        ChangeAndComplete(*w);
        probe.stopAndRead();
        const QStringList lines = probe.lines();
        for (int i = 0; i < lines.size(); ++i)
            if (match(lines[i]) && --nth == 0)
                return i + 1;
        return 0;
    }

    // What the user sees of a step: its page, title, explanation, the caption of Next
    // and whether Back shows; of the page tabs only the step's stays selectable.
    static void ExpectPage(const frmMain& w, int step)
    {
        struct Row {
            int title;
            const char* explanation;
            int text;  // 0: left as the device option set it
        };
        static const Row rows[5] = {{1034, "lblExplanation1", 0},
                                    {1033, "lblExplanation2", 104},
                                    {1032, "lblExplanation3", 105},
                                    {1031, "lblExplanation4", 106},
                                    {1036, "lblExplanation5", 109}};
        QCOMPARE(w.currentStep(), step);
        auto* tabs = Find<QTabWidget>(w, "tabWizard");
        QCOMPARE(tabs->currentIndex(), step);
        for (int i = 0; i < tabs->count(); ++i)
            QCOMPARE(tabs->isTabEnabled(i), i == step);
        QCOMPARE(Find<QLabel>(w, "lblTitle")->text(), LStr(rows[step].title));
        if (rows[step].text)
            QCOMPARE(Find<QLabel>(w, rows[step].explanation)->text(), LStr(rows[step].text));
        QVERIFY(Find<QPushButton>(w, "cmdNext")->isVisible());
        QCOMPARE(Find<QPushButton>(w, "cmdNext")->text(), LStr(step == 4 ? 100 : 101));
        QCOMPARE(Find<QPushButton>(w, "cmdBack")->isVisible(), step != 0);
    }

    // Connects and walks to the token page through the page of the chosen device.
    void WalkToToken(frmMain& w)
    {
        Click(w, "cmdNext");
        QCOMPARE(w.currentStep(), 1);
        Click(w, "cmdNext");
        QVERIFY(w.currentStep() == 2 || w.currentStep() == 3);
        Click(w, "cmdNext");
        QCOMPARE(w.currentStep(), 4);
    }

    // Connects over the serial line COM6 at 9600 baud.
    static void UseLine(frmMain& w)
    {
        ClickOption(Find<QRadioButton>(w, "optDevice_1"));
        auto* ports1 = Find<QComboBox>(w, "cmbPort1");
        ports1->setCurrentIndex(ports1->findText(QStringLiteral("COM6")));
        auto* baud1 = Find<QComboBox>(w, "cmbBaudRate1");
        baud1->setCurrentIndex(baud1->findData(9600));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        UseConfigHome(m_config);
        WriteLangId(QStringLiteral("1033"));
    }

    void ethernetChange()
    {
        SimBench c;
        QVERIFY(c.start());
        const SimState before = c.stopAndRead();
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());

        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        QVERIFY(w->link()->connected());
        QCOMPARE(w->link()->lastOptions(), QStringLiteral("Timeout=4000, TORetry=3, Conn=eth:") + c.address);
        QCOMPARE(Find<QComboBox>(*w, "cmbDevice")->currentText(), QStringLiteral("Ethernet"));
        QVERIFY(Find<QPushButton>(*w, "cmdBack")->isVisible());
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 2);
        QCOMPARE(Find<QTabWidget>(*w, "tabWizard")->currentIndex(), 2);
        QCOMPARE(Find<QLabel>(*w, "lblTitle")->text(), LStr(1032));
        QCOMPARE(Find<QLabel>(*w, "lblExplanation3")->text(), LStr(105));
        // The page shows the controller's address and mask.
        const QByteArray& raw = before.records[kRawCom];
        QCOMPARE(GetIP(*w, "uctIPAddress3"), (Bytes{quint8(raw[123]), quint8(raw[122]), quint8(raw[121]), quint8(raw[120])}));
        QCOMPARE(GetIP(*w, "uctSubnetMask"), (Bytes{quint8(raw[127]), quint8(raw[126]), quint8(raw[125]), quint8(raw[124])}));
        SetIP(*w, "uctIPAddress3", {10, 20, 30, 40});
        SetIP(*w, "uctSubnetMask", {255, 255, 0, 0});
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 4);
        QVERIFY(w->changed());
        QCOMPARE(Find<QPushButton>(*w, "cmdNext")->text(), LStr(100));
        QCOMPARE(boxes.calls.size(), 0);
        Click(*w, "cmdNext");

        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].text, LStr(107) + QLatin1Char('\r') + LStr(108));
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
        QCOMPARE(boxes.calls[0].title, AppExeName());
        QTRY_VERIFY(!w->isVisible());

        const SimState after = c.stopAndRead();
        const QByteArray& raw2 = after.records[kRawCom];
        QVERIFY(AllWithin(DifferingBytes(raw, raw2), {{44, 47}, {116, 127}}));
        // The Ethernet write: RS232C usage 0, Ethernet usage 2, then the address and the
        // mask low byte first; every other byte as the controller had it.
        QByteArray expected = raw;
        PutU32(expected, 44, 0);
        PutU32(expected, 116, 2);
        expected.replace(120, 8, QByteArray("\x28\x1e\x14\x0a\x00\x00\xff\xff", 8));
        QCOMPARE(raw2, expected);
        QVERIFY(AllWithin(DifferingBytes(before.records[kBackPrm], after.records[kBackPrm]), {{23972, 23979}}));
        for (const QString& name : before.records.keys())
            if (name != kRawCom && name != kBackPrm)
                QCOMPARE(after.records[name], before.records[name]);
    }

    // At 9600 baud the token record takes some 26 seconds where it moves whole (a
    // controller without the optional requests): the band's free left part shows how far
    // it has come and the time left, and nothing of it stays afterwards.
    void progressOnSlowLine()
    {
        const QString ports = SettingsDir() + QStringLiteral("/ports");
        QVERIFY(QDir().mkpath(ports));
        const QString link = ports + QStringLiteral("/com6");
        LoggedSim c({QStringLiteral("--pty"), link, QStringLiteral("--pace"), QStringLiteral("9600"),
                     QStringLiteral("--no-optional-requests")});
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow({127, 0, 3, 6});  // a loopback address, though the line is used
        auto* bar = Find<QProgressBar>(*w, "prgTransfer");
        auto* text = Find<QLabel>(*w, "lblTransfer");
        QVERIFY(!bar->isVisible() && !text->isVisible());
        QVERIFY(bar->testAttribute(Qt::WA_TransparentForMouseEvents) && bar->focusPolicy() == Qt::NoFocus);
        QVERIFY(text->testAttribute(Qt::WA_TransparentForMouseEvents) && text->focusPolicy() == Qt::NoFocus);
        UseLine(*w);

        struct Seen {
            bool shown;
            int value, maximum;
            QString text;
            qint64 ms;
        };
        QList<Seen> seen;
        QElapsedTimer clock;
        clock.start();
        connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
            seen.append({bar->isVisible() && text->isVisible(), value, bar->maximum(), text->accessibleName(),
                         clock.elapsed()});
        });
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        QVERIFY(boxes.calls.isEmpty());
        QVERIFY(!bar->isVisible() && !text->isVisible());

        // The token record: shown throughout, growing in many small steps to its end.
        QList<Seen> token;
        for (const Seen& s : seen)
            if (s.maximum == 24576 && s.value > 0)
                token << s;
        QVERIFY2(token.size() >= 20, qPrintable(QString::number(token.size())));
        static const QRegularExpression line(QStringLiteral("^Reading (\\d+\\.\\d) of 24\\.0 KB(, (\\d+) s left)?$"));
        int estimates = 0;
        for (qsizetype i = 0; i < token.size(); ++i) {
            const Seen& s = token[i];
            QVERIFY(s.shown);
            QVERIFY2(i == 0 || s.value >= token[i - 1].value, "the bar never goes back");
            const QRegularExpressionMatch m = line.match(s.text);
            QVERIFY2(m.hasMatch(), qPrintable(s.text));
            QCOMPARE(m.captured(1), QString::number(s.value / 1024.0, 'f', 1));
            if (m.capturedLength(3) > 0 && s.value < 20000) {
                // The line moves 960 bytes a second; the estimate is of that order.
                const double left = (24576 - s.value) / 960.0;
                const int said = m.captured(3).toInt();
                QVERIFY2(said >= left / 3 - 2 && said <= left * 3 + 2, qPrintable(s.text));
                ++estimates;
            }
        }
        QCOMPARE(token.last().value, 24576);
        QVERIFY(estimates > 0);
        QVERIFY(token.last().ms - token.first().ms > 15000);
        w.reset();
        QFile::remove(link);
    }

    void rs232cOverPseudoTerminal()
    {
        const QString ports = SettingsDir() + QStringLiteral("/ports");
        QVERIFY(QDir().mkpath(ports));
        const QString link = ports + QStringLiteral("/com7");
        LoggedSim c({QStringLiteral("--pty"), link});
        const SimState factory = SimBench::factory();
        QVERIFY(factory.records.contains(kRawCom));
        QVERIFY(c.seed(factory));
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow({127, 0, 3, 5});  // a loopback address, though the line is used
        auto* ports1 = Find<QComboBox>(*w, "cmbPort1");
        const int at = ports1->findText(QStringLiteral("COM7"));
        QVERIFY2(at >= 0, "the linked port is listed");
        QCOMPARE(ports1->itemData(at).toInt(), 7);
        ClickOption(Find<QRadioButton>(*w, "optDevice_1"));
        ports1->setCurrentIndex(at);
        auto* baud1 = Find<QComboBox>(*w, "cmbBaudRate1");
        baud1->setCurrentIndex(baud1->findData(19200));

        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        QVERIFY(boxes.calls.isEmpty());
        // Parity, data length and stop bit of the connection page stay at None, 8, 1.
        QCOMPARE(w->link()->lastOptions(), QStringLiteral("Timeout=4000, TORetry=3, Conn=com:7:19200:N:8:1"));
        Find<QComboBox>(*w, "cmbDevice")->setCurrentIndex(1);
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 3);
        QCOMPARE(Find<QTabWidget>(*w, "tabWizard")->currentIndex(), 3);
        auto* baud = Find<QComboBox>(*w, "cmbBaudRate4");
        QCOMPARE(baud->currentData().toInt(), int(U32(factory.records[kRawCom], 48)));
        baud->setCurrentIndex(baud->findData(115200));
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 4);
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
        QTRY_VERIFY(!w->isVisible());

        const SimState after = c.stopAndRead();
        const QByteArray& raw = factory.records[kRawCom];
        const QByteArray& raw2 = after.records[kRawCom];
        QVERIFY(AllWithin(DifferingBytes(raw, raw2), {{44, 67}, {116, 119}}));
        // The RS232C write: RS232C usage 2, the new baud rate, parity, data length, stop
        // bits and delimiter as read, Ethernet usage 0.
        QByteArray expected = raw;
        PutU32(expected, 44, 2);
        PutU32(expected, 48, 115200);
        PutU32(expected, 116, 0);
        QCOMPARE(raw2, expected);
        QFile::remove(link);
    }

    void tokenRoundTrip_data()
    {
        QTest::addColumn<int>("element");
        QTest::addColumn<int>("code");
        QTest::newRow("Open") << 0 << 65535;
        QTest::newRow("I/O Port") << 1 << 0;
        QTest::newRow("Ethernet") << 2 << 1;
        QTest::newRow("COM2") << 3 << 2;
        QTest::newRow("COM3") << 4 << 3;
        QTest::newRow("COM4") << 5 << 4;
    }
    void tokenRoundTrip()
    {
        QFETCH(int, element);
        QFETCH(int, code);
        SimBench c;
        // Start from another token than the one chosen, so that the choice is a change.
        SimState st = c.factory();
        PutU16(st.records[kBackPrm], 23972, element == 0 ? 0 : 0xFFFF);
        QVERIFY(c.seed(st));
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        const QByteArray name = "optToken_" + QByteArray::number(element);
        {
            auto w = OpenWindow(c.octets());
            WalkToToken(*w);
            ClickOption(Find<QRadioButton>(*w, name.constData()));
            QCOMPARE(Find<QWidget>(*w, "uctIP")->isEnabled(), element == 2);
            if (element == 2)
                SetIP(*w, "uctIP", {10, 1, 2, 3});
            Click(*w, "cmdNext");
            QCOMPARE(boxes.calls.size(), 1);
            QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
            QTRY_VERIFY(!w->isVisible());
        }
        // A new window reads the token back and selects its option.
        {
            auto w = OpenWindow(c.octets());
            Click(*w, "cmdNext");
            QCOMPARE(w->currentStep(), 1);
            for (int i = 0; i < 6; ++i) {
                const QByteArray other = "optToken_" + QByteArray::number(i);
                QCOMPARE(Find<QRadioButton>(*w, other.constData())->isChecked(), i == element);
            }
            QCOMPARE(Find<QWidget>(*w, "uctIP")->isEnabledTo(Find<QWidget>(*w, "frmToken")), element == 2);
            if (element == 2)
                QCOMPARE(GetIP(*w, "uctIP"), (Bytes{10, 1, 2, 3}));
            Click(*w, "cmdCancel");
            QTRY_VERIFY(!w->isVisible());
        }
        const SimState after = c.stopAndRead();
        const QByteArray& back = after.records[kBackPrm];
        QCOMPARE(int(U16(back, 23972)), code);
        QCOMPARE(int(U16(back, 23974)), 0);
        if (element == 2)
            QCOMPARE(back.mid(23976, 4), QByteArray("\x0a\x01\x02\x03", 4));
        QVERIFY(AllWithin(DifferingBytes(st.records[kBackPrm], back), {{23972, 23979}}));
    }

    // A code without an option button: nothing is selected, the address is off, and
    // a Complete that writes for another reason keeps the code.
    void tokenWithoutOption_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("5") << 5;
        QTest::newRow("100") << 100;
        QTest::newRow("65534") << 65534;
    }
    void tokenWithoutOption()
    {
        QFETCH(int, code);
        SimBench c;
        SimState st = c.factory();
        PutU16(st.records[kBackPrm], 23972, quint16(code));
        QVERIFY(c.seed(st));
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        for (int i = 0; i < 6; ++i) {
            const QByteArray name = "optToken_" + QByteArray::number(i);
            QVERIFY2(!Find<QRadioButton>(*w, name.constData())->isChecked(), name.constData());
        }
        QVERIFY(!Find<QWidget>(*w, "uctIP")->isEnabledTo(Find<QWidget>(*w, "frmToken")));
        Click(*w, "cmdNext");
        SetIP(*w, "uctIPAddress3", {192, 168, 0, 77});
        Click(*w, "cmdNext");
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
        const SimState after = c.stopAndRead();
        QCOMPARE(int(U16(after.records[kBackPrm], 23972)), code);
        QCOMPARE(quint8(after.records[kRawCom][120]), quint8(77));
    }

    // The permission device alone is a change: Complete writes the usage words of the
    // device chosen, 2 for it and 0 for the other, even when the page of that device
    // was left as it was. Two usage words that are both set are a change as well.
    void permissionDeviceAlone_data()
    {
        QTest::addColumn<quint32>("rs232cUsage");
        QTest::addColumn<quint32>("ethernetUsage");
        QTest::addColumn<int>("preselected");
        QTest::addColumn<int>("chosen");
        QTest::newRow("Ethernet to RS232C") << 0u << 2u << 0 << 1;
        QTest::newRow("RS232C to Ethernet") << 2u << 0u << 1 << 0;
        QTest::newRow("both set, Ethernet kept") << 2u << 2u << 0 << 0;
    }
    void permissionDeviceAlone()
    {
        QFETCH(quint32, rs232cUsage);
        QFETCH(quint32, ethernetUsage);
        QFETCH(int, preselected);
        QFETCH(int, chosen);
        SimBench c;
        SimState st = c.factory();
        PutU32(st.records[kRawCom], 44, rs232cUsage);
        PutU32(st.records[kRawCom], 116, ethernetUsage);
        QVERIFY(c.seed(st));
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        Click(*w, "cmdNext");
        auto* device = Find<QComboBox>(*w, "cmbDevice");
        QCOMPARE(device->currentIndex(), preselected);
        device->setCurrentIndex(chosen);
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), chosen == 0 ? 2 : 3);
        Click(*w, "cmdNext");
        QVERIFY(!w->changed());  // the page itself was left as it was
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
        QTRY_VERIFY(!w->isVisible());
        const SimState after = c.stopAndRead();
        QByteArray expected = st.records[kRawCom];
        PutU32(expected, 44, chosen == 1 ? 2 : 0);
        PutU32(expected, 116, chosen == 0 ? 2 : 0);
        QCOMPARE(after.records[kRawCom], expected);
    }

    // A baud rate the list does not offer leaves the list on its start value; Next takes
    // that as a change and Complete writes it.
    void unknownBaudRate()
    {
        SimBench c;
        SimState st = c.factory();
        qToLittleEndian(quint32(4800), st.records[kRawCom].data() + 48);
        QVERIFY(c.seed(st));
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        Click(*w, "cmdNext");
        Find<QComboBox>(*w, "cmbDevice")->setCurrentIndex(1);
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 3);
        QCOMPARE(Find<QComboBox>(*w, "cmbBaudRate4")->currentText(), QStringLiteral("38400"));
        QVERIFY(!w->changed());
        Click(*w, "cmdNext");
        QVERIFY(w->changed());
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Information);
        QCOMPARE(U32(c.stopAndRead().records[kRawCom], 48), 38400u);
    }

    void controllerError_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("codeAfter");
        QTest::newRow("cleared") << QStringList{} << 0;
        QTest::newRow("clear refused") << QStringList{"--fault", "deny-clear"} << 255;
    }
    void controllerError()
    {
        QFETCH(QStringList, faults);
        QFETCH(int, codeAfter);
        SimBench c;
        QVERIFY(c.start(QStringList{"--error-code", "255"} + faults));
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        Click(*w, "cmdNext");  // not connected yet: no question
        QCOMPARE(boxes.calls.size(), 0);
        QCOMPARE(w->currentStep(), 1);
        const QString question = LStr(500) + QLatin1Char('\r') + QStringLiteral("Error Code [0xFF]")
                                 + QStringLiteral("\r\r") + LStr(502);
        SetIP(*w, "uctIP", {1, 2, 3, 4});

        boxes.answers.push_back(MsgBox::IdCancel);
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].text, question);
        QCOMPARE(boxes.calls[0].style, MsgBox::OKCancel | MsgBox::Exclamation);
        QCOMPARE(boxes.calls[0].title, AppExeName());
        QCOMPARE(w->currentStep(), 1);
        QCOMPARE(Find<QTabWidget>(*w, "tabWizard")->currentIndex(), 1);
        QCOMPARE(GetIP(*w, "uctIP"), (Bytes{1, 2, 3, 4}));
        QCOMPARE(Find<QLabel>(*w, "lblTitle")->text(), LStr(1033));
        QCOMPARE(Find<QComboBox>(*w, "cmbDevice")->currentIndex(), 0);
        QVERIFY(!w->changed());
        QVERIFY(!c.lines().join('\n').contains(QStringLiteral("ClearError")));

        boxes.answers.push_back(MsgBox::IdOK);
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 2);
        QCOMPARE(boxes.calls[1].text, question);
        QCOMPARE(w->currentStep(), 2);
        QVERIFY(w->isVisible());
        QCOMPARE(c.lines().filter(QStringLiteral("EXECUTE ClearError 255 ->")).size(), 1);
        Click(*w, "cmdCancel");
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(c.stopAndRead().errorCode, codeAfter);
    }

    // The controller falls into error in the middle of the session: every Next while
    // connected asks, on the page it is pressed on, and only OK goes on. The error comes
    // just before that press's READ_VALUE @ERROR_CODE, on a controller not factory-new.
    void errorQuestionOnEveryPage_data()
    {
        QTest::addColumn<int>("press");  // 1 permission page, 2 Ethernet page, 3 token page
        QTest::addColumn<bool>("ok");
        for (const auto& [press, page] : {std::pair{1, "permission"}, {2, "Ethernet"}, {3, "token"}}) {
            QTest::addRow("%s page, OK: cleared, then written", page) << press << true;
            QTest::addRow("%s page, Cancel: nothing written", page) << press << false;
        }
    }
    void errorQuestionOnEveryPage()
    {
        QFETCH(int, press);
        QFETCH(bool, ok);
        SimState st = SimBench::factory();
        PutRecordAddress(st.records[kRawCom], 120, QStringLiteral("172.16.254.1"));
        const int n = ProbeRequest(st, [](const QString& l) { return l.contains(QStringLiteral("READ_VALUE")); }, press);
        QVERIFY2(n > 0, "Next on this page never asked the controller for its error code");
        SimBench c;
        QVERIFY(c.seed(st));
        QVERIFY(c.start({QStringLiteral("--fault"), QStringLiteral("error-at=%1:42").arg(n)}));
        MsgBoxRecorder boxes;
        boxes.answers.assign(ok ? 1 : 4, ok ? MsgBox::IdOK : MsgBox::IdCancel);  // Cancel at every press
        auto w = OpenWindow(c.octets());
        ChangeAndComplete(*w);
        QCOMPARE(boxes.calls.value(0).text, LStr(500) + QStringLiteral("\rError Code [0x2A]\r\r") + LStr(502));
        if (!ok) {
            QCOMPARE(w->currentStep(), press == 3 ? 4 : press);  // the page stays
            Click(*w, "cmdCancel");
        }
        QTRY_VERIFY(!w->isVisible());
        const SimState after = c.stopAndRead();
        QCOMPARE(after.errorCode, ok ? 0 : 42);
        QCOMPARE(after.records == st.records, !ok);
    }

    // An error code that cannot be read counts as no error: no question, the press goes
    // on and the wizard stays open.
    void errorReadFails()
    {
        SimBench c;
        QVERIFY(c.start({QStringLiteral("--error-code"), QStringLiteral("255")}));
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        c.process().stop();  // the controller goes away: the error code cannot be read
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 0);
        QCOMPARE(w->currentStep(), 2);
        QCOMPARE(Find<QTabWidget>(*w, "tabWizard")->currentIndex(), 2);
        QVERIFY(w->isVisible());
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 0);
        QCOMPARE(w->currentStep(), 4);
        QVERIFY(c.lines().filter(QStringLiteral("ClearError")).isEmpty());
        Click(*w, "cmdCancel");
        QTRY_VERIFY(!w->isVisible());
    }

    void nothingChanged()
    {
        SimBench c;
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        WalkToToken(*w);
        Click(*w, "cmdNext");
        QTRY_VERIFY(!w->isVisible());
        QCOMPARE(boxes.calls.size(), 0);
        c.stopAndRead();
        const QStringList lines = c.lines();
        QVERIFY(lines.join('\n').contains(QStringLiteral("READ_RECORD")));
        QVERIFY(!lines.join('\n').contains(QStringLiteral("WRITE_RECORD")));
    }

    void connectionFailures_data()
    {
        QTest::addColumn<QStringList>("faults");
        QTest::addColumn<int>("text");
        QTest::newRow("closed port") << QStringList{} << 505;
        QTest::newRow("read failure") << QStringList{"--fault", "fail-read=@CNF_BACKPRM"} << 503;
    }
    void connectionFailures()
    {
        QFETCH(QStringList, faults);
        QFETCH(int, text);
        SimBench c;
        if (text != 505)  // no simulator at all: the port is closed
            QVERIFY(c.start(faults));
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].text, LStr(text));
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Critical);
        QCOMPARE(boxes.calls[0].title, AppExeName());
        QCOMPARE(w->currentStep(), 0);
        QVERIFY(!w->link()->connected());
        QVERIFY(w->isVisible());
        QVERIFY(Find<QPushButton>(*w, "cmdBack")->isHidden());
        QCOMPARE(Find<QTabWidget>(*w, "tabWizard")->currentIndex(), 0);
        if (text == 503) {
            // The controller was given back at once, not only when the window closes.
            const QStringList lines = c.lines();
            QVERIFY(!lines.isEmpty());
            QVERIFY2(lines.last().contains(QStringLiteral(" CLOSE ")), qPrintable(lines.last()));
        }
    }

    // While a press is under way (here: its failure message is open) further presses of
    // Next do nothing, Cancel stays enabled, Cancel and the close box close the window
    // once the press has ended, and the message comes with the normal pointer.
    void pressDuringPress()
    {
        MsgBoxRecorder boxes;
        auto w = OpenWindow({127, 0, 3, 5});  // nothing listens on hosts 2 to 9
        const qint16 pointerBefore = ScreenMousePointer();
        bool nextOffCancelOn = false;
        qint16 pointerDuring = -1;
        boxes.during = [&](const MsgBoxCall&) {
            nextOffCancelOn = !Find<QPushButton>(*w, "cmdNext")->isEnabled()
                         && Find<QPushButton>(*w, "cmdCancel")->isEnabled();
            pointerDuring = ScreenMousePointer();
            Click(*w, "cmdNext");
            w->cmdNext_Click();
            w->cmdCancel_Click();
            w->close();
            QVERIFY(w->isVisible());
        };
        Click(*w, "cmdNext");
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].text, LStr(505));
        QVERIFY(nextOffCancelOn);
        QCOMPARE(pointerDuring, pointerBefore);
        QCOMPARE(ScreenMousePointer(), pointerBefore);
        QTRY_VERIFY(!w->isVisible());  // the close box took effect after the press
    }

    // Cancel while the wizard waits for the controller, given as the user gives it (the
    // button, its key, the close box): the wait ends, what the press began on the
    // controller is ended without change, and the window closes, with a word only where
    // a write was cut off. Over TCP a request
    // is held back (stall-at, freeze-at) with long time-outs that only the cancel can
    // end; the waiting line says how long they have left, retries included.
    void cancelWhileWaiting_data()
    {
        QTest::addColumn<QString>("heldBack");  // the request held back; "": the 9600-baud line
        QTest::addColumn<QString>("fault");     // what holds it back
        QTest::addColumn<QString>("how");       // see PostCancel
        QTest::addColumn<int>("message");       // 0: none
        QTest::addColumn<QStringList>("pairs");  // every doSignal the controller received
        QTest::addColumn<int>("lang");           // the window's language
        const QStringList twoReads{"0,0", "0,1", "0,0", "0,1"};
        QTest::newRow("reading the token record at 9600 baud") << "" << "" << "click" << 0 << QStringList{"0,0", "0,2"} << 1033;
        QTest::newRow("connecting to a hung controller") << "OPEN" << "freeze-at" << "Alt+C" << 0 << QStringList{} << 1033;
        QTest::newRow("connecting to a hung controller, in Japanese")
            << "OPEN" << "freeze-at" << "close box" << 0 << QStringList{} << 1041;
        QTest::newRow("a write the controller holds back")
            << "PATCH_RECORD @CNF_BACKPRM" << "stall-at" << "close box" << 9021
            << twoReads + QStringList{"1,0", "0,0", "0,2", "1,2"} << 1033;
        // Its first attempt held back, the second answered: reported as what it was.
        QTest::newRow("the commit runs on") << "doSignal 1,1" << "stall-at" << "click" << 107
                                            << twoReads + QStringList{"1,0", "0,0", "1,1", "1,1", "0,1"} << 1033;
    }
    void cancelWhileWaiting()
    {
        QFETCH(QString, heldBack);
        QFETCH(QString, fault);
        QFETCH(QString, how);
        QFETCH(int, message);
        QFETCH(QStringList, pairs);
        QFETCH(int, lang);
        WriteLangId(QString::number(lang));
        const auto english = qScopeGuard([] { WriteLangId(QStringLiteral("1033")); });
        const bool line = heldBack.isEmpty();
        const bool commit = heldBack == QLatin1String("doSignal 1,1");
        // Not the start values: the controller at 10.1.2.3, token COM3; on the line it
        // has the line's permission at 9600 baud.
        SimState st = SimBench::factory();
        PutRecordAddress(st.records[kRawCom], 120, QStringLiteral("10.1.2.3"));
        PutU32(st.records[kBackPrm], 23972, 3);
        if (line) {
            PutU32(st.records[kRawCom], 44, 2);
            PutU32(st.records[kRawCom], 116, 0);
        }
        const QString link = SettingsDir() + QStringLiteral("/ports/com6");
        QVERIFY(QDir().mkpath(SettingsDir() + QStringLiteral("/ports")));
        SimBench bench;
        std::optional<LoggedSim> serial;
        if (line)
            serial.emplace(QStringList{"--pty", link, "--pace", "9600", "--no-optional-requests"});
        LoggedSim* c = line ? &*serial : &bench;
        const Bytes address = line ? Bytes{127, 0, 3, 6} : bench.octets();
        const int n = line ? 0 : heldBack == QLatin1String("OPEN") ? 1 : ProbeRequest(st, [&](const QString& l) {
            return l.contains(heldBack);
        });
        QVERIFY(line || n > 0);
        QVERIFY(c->seed(st));
        QVERIFY(c->start(line ? QStringList{} : QStringList{"--fault", QStringLiteral("%1=%2").arg(fault).arg(n)}));
        MsgBoxRecorder boxes;
        auto w = OpenWindow(address);
        // Without the cancel a request held back would hold the window for a minute.
        w->link()->setLinkOptions(commit ? 2000 : 30000, 1);
        auto* band = Find<QLabel>(*w, "lblTransfer");
        const QString waiting = LStr(9020).section(QStringLiteral("%1%"), 0, 0);
        QString seen;
        bool whole = false;
        QTimer watch;
        connect(&watch, &QTimer::timeout, this, [&] {
            if (seen.isEmpty() && band->isVisible() && band->accessibleName().startsWith(line ? LStr(9018).left(8) : waiting)) {
                seen = band->accessibleName();
                // The whole line, or its shorter form with the same seconds, all within the band
                // and clear of the bar.
                const QString seconds = seen.mid(waiting.size()).section(' ', 0, 0);
                const QRect need = band->fontMetrics().boundingRect(band->rect(), Qt::TextWordWrap, band->text());
                const auto* bar = Find<QProgressBar>(*w, "prgTransfer");
                whole = (band->text() == seen || (!line && band->text() == LFormat(9044, seconds)))
                        && band->rect().contains(need) && band->parentWidget()->rect().contains(band->geometry())
                        && !(bar->isVisible() && bar->geometry().intersects(band->geometry()));
                PostCancel(*w, how);
            }
        });
        watch.start(20);
        if (line)
            UseLine(*w);
        if (line || n == 1)
            Click(*w, "cmdNext");
        else
            ChangeAndComplete(*w);
        QVERIFY2(!seen.isEmpty(), "the line to cancel at never showed");
        QVERIFY2(whole, qPrintable(seen + QStringLiteral(" shown as ") + band->text()));
        QTRY_VERIFY(!w->isVisible());
        if (!line) {
            // A second into a wait of two attempts: the time-outs' time left, rounded up.
            const int left = seen.mid(waiting.size()).section(' ', 0, 0).toInt(), all = commit ? 4 : 60;
            QVERIFY2(left > all - 3 && left <= all, qPrintable(seen));
        }
        QCOMPARE(boxes.calls.size(), message ? 1 : 0);
        if (message)
            QCOMPARE(boxes.calls[0].text, message == 107 ? LStr(107) + QLatin1Char('\r') + LStr(108) : LStr(message));
        const SimState after = c->stopAndRead();
        QCOMPARE(c->signalPairs(), pairs);
        // A cut-off read moves no further chunk; the session is closed.
        QVERIFY(!line || c->count(QStringLiteral("READ_RECORD @CNF_BACKPRM")) <= 2);
        QVERIFY(pairs.isEmpty() || c->requests().last().startsWith(QStringLiteral("CLOSE")));
        QCOMPARE(after.records == st.records, message != 107);
        QFile::remove(link);
    }

    void writeFailure_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("record refused") << "fail-write=@CNF_BACKPRM";
        QTest::newRow("connection dropped") << "drop-at";
    }
    void writeFailure()
    {
        QFETCH(QString, fault);
        SimBench c;
        const SimState st = c.factory();
        QVERIFY(c.seed(st));
        if (fault == QLatin1String("drop-at")) {
            // The connection drops at the request that writes the second record, after
            // the first record went out.
            const int n = ProbeRequest(st, [](const QString& line) {
                return (line.contains(QStringLiteral("WRITE_RECORD")) || line.contains(QStringLiteral("PATCH_RECORD")))
                       && line.contains(kBackPrm);
            });
            QVERIFY(n > 0);
            fault = QStringLiteral("drop-at=%1").arg(n);
        }
        QVERIFY(c.start({QStringLiteral("--fault"), fault}));
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        ChangeAndComplete(*w);
        QCOMPARE(boxes.calls.size(), 1);
        QCOMPARE(boxes.calls[0].text, LStr(504));
        QCOMPARE(boxes.calls[0].style, MsgBox::OK | MsgBox::Critical);
        QTRY_VERIFY(!w->isVisible());
        const SimState after = c.stopAndRead();
        QCOMPARE(after.records, st.records);
    }

    void backAndReconnect()
    {
        SimBench c;
        QVERIFY(c.start());
        MsgBoxRecorder boxes;
        auto w = OpenWindow(c.octets());
        auto* tabs = Find<QTabWidget>(*w, "tabWizard");
        auto* device = Find<QComboBox>(*w, "cmbDevice");
        ExpectPage(*w, 0);
        Click(*w, "cmdNext");
        ExpectPage(*w, 1);
        device->setCurrentIndex(1);
        Click(*w, "cmdNext");
        ExpectPage(*w, 3);
        Click(*w, "cmdNext");
        ExpectPage(*w, 4);
        Click(*w, "cmdBack");
        ExpectPage(*w, 3);
        Click(*w, "cmdNext");  // and Next from there returns to the token page
        ExpectPage(*w, 4);
        Click(*w, "cmdBack");
        Click(*w, "cmdBack");
        ExpectPage(*w, 1);
        device->setCurrentIndex(0);
        Click(*w, "cmdNext");
        ExpectPage(*w, 2);
        SetIP(*w, "uctIPAddress3", {172, 16, 0, 5});
        Click(*w, "cmdNext");
        ExpectPage(*w, 4);
        Click(*w, "cmdBack");
        ExpectPage(*w, 2);
        QCOMPARE(tabs->currentIndex(), 2);
        QVERIFY(w->link()->connected());
        // Back makes no controller call and undoes nothing.
        QCOMPARE(GetIP(*w, "uctIPAddress3"), (Bytes{172, 16, 0, 5}));
        QVERIFY(w->changed());
        Click(*w, "cmdBack");
        ExpectPage(*w, 1);
        Click(*w, "cmdBack");
        ExpectPage(*w, 0);
        const int opensBefore = c.lines().filter(QStringLiteral("OPEN")).size();
        // Next connects again and refills the pages from the controller.
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        QCOMPARE(c.lines().filter(QStringLiteral("OPEN")).size(), opensBefore + 1);
        QCOMPARE(GetIP(*w, "uctIPAddress3"), (Bytes{192, 168, 0, 1}));
        QVERIFY(w->changed());  // the changed flag keeps its value
        QCOMPARE(boxes.calls.size(), 0);
        Click(*w, "cmdCancel");
        QTRY_VERIFY(!w->isVisible());
    }
};

QTEST_MAIN(tst_AppFlow)
#include "tst_app_flow.moc"
