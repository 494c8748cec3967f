// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard's rules as a controller sees them: for a controller state and what the
// engineer does on the pages, the bytes the controller holds afterwards. The pages are
// driven through the window-free model in the order the window drives it. None of the
// controllers is factory-new, so a rule that falls back to a start value, writes a field
// nobody edited or rebuilds a record from stale bytes shows in the bytes.

#include "wizard/wizardmodel.h"
#include "controller/controllerview.h"
#include "locale/modLocale.h"
#include "tests/support/loggedsim.h"
#include "tests/support/simclient.h"

#include <QRegularExpression>
#include <QTest>
#include <QtEndian>

namespace {

const QString kRaw = QStringLiteral("@CNF_RAW_COM");
const QString kBack = QStringLiteral("@CNF_BACKPRM");

// Bytes put into a record at an offset.
struct Patch {
    QString record;
    int offset = 0;
    QByteArray bytes;
};
using Patches = QList<Patch>;

Patch Long(const QString& record, int offset, quint32 value)
{
    QByteArray b(4, '\0');
    qToLittleEndian(value, b.data());
    return {record, offset, b};
}

// The Ethernet address and mask are kept as one number: the first octet in the last byte.
Patch Reversed(int offset, const IPv4& ip)
{
    const char bytes[4] = {char(ip[3]), char(ip[2]), char(ip[1]), char(ip[0])};
    return {kRaw, offset, QByteArray(bytes, 4)};
}

Patch Octets(const QString& record, int offset, const IPv4& ip)
{
    return {record, offset, QByteArray(reinterpret_cast<const char*>(ip.data()), 4)};
}

// The patches of the records the state holds.
sim::ControllerState Patched(sim::ControllerState st, const Patches& patches)
{
    for (const Patch& p : patches)
        if (st.records.contains(p.record))
            st.records[p.record].replace(p.offset, p.bytes.size(), p.bytes);
    return st;
}

// A controller none of whose settings are the wizard's start values: RS232C is the
// permission device at 9600 baud, even parity, seven data bits, two stop bits and CR LF;
// Ethernet 172.16.9.4/255.255.0.0; the token with COM3 and 192.168.7.7.
const Patches kUnusual = {
    Long(kRaw, 44, 2),     Long(kRaw, 48, 9600), Long(kRaw, 52, 0), Long(kRaw, 56, 7),
    Long(kRaw, 60, 2),     Long(kRaw, 64, 1),    Long(kRaw, 116, 0),
    Reversed(120, {172, 16, 9, 4}), Reversed(124, {255, 255, 0, 0}),
    Long(kBack, 23972, 3), Octets(kBack, 23976, {192, 168, 7, 7})};

// What the engineer does on the pages; what is unset stays as the page shows it.
struct Edits {
    std::optional<int> device;
    std::optional<IPv4> ip, mask, tokenIp;
    std::optional<qint32> baud;
};

// The answers to the controller's error question, in order; true is OK. Cancel ends the
// press, and the engineer presses again while he has answers left, else gives up.
using Answers = QList<bool>;

}  // namespace

Q_DECLARE_METATYPE(Patches)
Q_DECLARE_METATYPE(Edits)

class tst_WizardModel : public QObject {
    Q_OBJECT

    // Next on every page as the window presses it, the pages showing what the model says
    // and holding the engineer's edits; meanwhile runs between the device page and
    // Complete. false when the engineer gave up at the error question or a call failed.
    static bool Walk(CommLink& link, ControllerSelections& view, const Edits& e, Answers answers,
                     const std::function<void()>& meanwhile)
    {
        auto ask = [&answers](qint32) { return !answers.isEmpty() && answers.takeFirst(); };
        auto press = [&] {
            while (!wizard::PassControllerError(link, ask))
                if (answers.isEmpty())
                    return false;
            return true;
        };
        if (wizard::ConnectAndRead(link) != wizard::Opened::kDone)
            return false;
        CommSettings& s = link.settings();
        view.device = e.device.value_or(wizard::PreselectedDevice(s).value_or(wizard::Devices().start));
        wizard::EthernetPage ethernet = wizard::ShowEthernet(s);
        ethernet.ip = e.ip.value_or(ethernet.ip);
        ethernet.mask = e.mask.value_or(ethernet.mask);
        wizard::SerialPage serial = wizard::ShowSerial(s, wizard::StartSerialPage());
        serial.baudRate = e.baud ? e.baud : serial.baudRate;
        wizard::TokenPage token = wizard::ShowToken(s);
        token.ip = e.tokenIp.value_or(token.ip);
        if (!press())  // the permission page
            return false;
        if (!press())  // the Ethernet or RS232C page
            return false;
        bool changed = view.device == wizard::kEthernetDevice ? wizard::MergeEthernet(s, ethernet)
                                                              : wizard::MergeSerial(s, serial);
        meanwhile();
        if (!press())  // the token page: Complete
            return false;
        changed = wizard::MergeToken(s, token, view.device) || changed;
        return !changed || wizard::WriteBack(link);
    }

private slots:
    void controllerHolds_data()
    {
        // Each row twice: with a controller that offers the optional requests (only what
        // changed moves), and with one that does not (whole records); the bytes the
        // controller ends with are the same.
        QTest::addColumn<bool>("whole");
        QTest::addColumn<Patches>("controller");  // on top of a factory-new one
        QTest::addColumn<qint32>("error");
        QTest::addColumn<Edits>("edits");
        QTest::addColumn<Answers>("answers");
        QTest::addColumn<Patches>("meanwhile");  // another client's write before Complete
        QTest::addColumn<Patches>("changes");    // what the controller holds afterwards
        QTest::addColumn<qint32>("errorAfter");
        for (const bool whole : {false, true}) {
            const auto row = [whole](const char* name) -> QTestData& {
                const QByteArray tag = whole ? QByteArray(name) + " [whole records]" : QByteArray(name);
                return QTest::newRow(tag.constData()) << whole;
            };

            row("nothing edited: no field falls back to a start value")
                << kUnusual << 0 << Edits{} << Answers{} << Patches{} << Patches{} << 0;
            row("nothing edited on an Ethernet controller: preselected, nothing written")
                << (kUnusual + Patches{Long(kRaw, 44, 0), Long(kRaw, 116, 2)}) << 0 << Edits{} << Answers{} << Patches{}
                << Patches{} << 0;
            row("baud rate raised: only its four bytes change")
                << kUnusual << 0 << Edits{{}, {}, {}, {}, 115200} << Answers{} << Patches{}
                << Patches{Long(kRaw, 48, 115200)} << 0;
            row("Ethernet chosen: usage words, address and mask; the line settings stay")
                << kUnusual << 0 << Edits{wizard::kEthernetDevice, IPv4{172, 16, 9, 5}, IPv4{255, 255, 255, 0}, {}, {}}
                << Answers{} << Patches{}
                << Patches{Long(kRaw, 44, 0), Long(kRaw, 116, 2), Reversed(120, {172, 16, 9, 5}),
                           Reversed(124, {255, 255, 255, 0})}
                << 0;
            row("token code without an option keeps its code when the address changes")
                << (kUnusual + Patches{Long(kBack, 23972, 7)}) << 0 << Edits{{}, {}, {}, IPv4{192, 168, 7, 8}, {}}
                << Answers{} << Patches{} << Patches{Octets(kBack, 23976, {192, 168, 7, 8})} << 0;
            row("both devices in use: the list's Ethernet is written as the only one")
                << (kUnusual + Patches{Long(kRaw, 116, 2)}) << 0 << Edits{} << Answers{} << Patches{}
                << Patches{Long(kRaw, 44, 0)} << 0;
            row("controller in error, answered OK: cleared, then written")
                << kUnusual << 0x2A << Edits{{}, {}, {}, {}, 19200} << Answers{true} << Patches{}
                << Patches{Long(kRaw, 48, 19200)} << 0;
            row("controller in error, Cancel, then OK on the next press")
                << kUnusual << 0x2A << Edits{{}, {}, {}, {}, 19200} << Answers{false, true} << Patches{}
                << Patches{Long(kRaw, 48, 19200)} << 0;
            row("controller in error, Cancel and given up: nothing written, error kept")
                << kUnusual << 0x2A << Edits{{}, {}, {}, {}, 19200} << Answers{false} << Patches{} << Patches{}
                << 0x2A;
            const Patches other{{kRaw, 200, QByteArray(1, '\x5A')}, {kBack, 100, QByteArray(1, '\x5A')},
                                Long(kBack, 23000, 0xC0FFEE)};
            row("another client wrote meanwhile: its bytes survive Complete")
                << kUnusual << 0 << Edits{{}, {}, {}, {}, 57600} << Answers{} << other << (other + Patches{Long(kRaw, 48, 57600)})
                << 0;
        }
    }

    void controllerHolds()
    {
        QFETCH(bool, whole);
        QFETCH(Patches, controller);
        QFETCH(qint32, error);
        QFETCH(Edits, edits);
        QFETCH(Answers, answers);
        QFETCH(Patches, meanwhile);
        QFETCH(Patches, changes);
        QFETCH(qint32, errorAfter);

        const QString address = FreeLoopbackAddress(QStringLiteral("127.0.1"));
        LoggedSim sim({QStringLiteral("--listen"), address},
                      whole ? QStringList{QStringLiteral("--no-optional-requests")} : QStringList{});
        sim::ControllerState before = Patched(sim::defaultState(), controller);
        before.errorCode = error;
        QVERIFY(sim.seed(before));
        QVERIFY(sim.start());

        ControllerSelections view;
        view.address = *ParseIPv4(address);
        CommLink link(view);
        link.setLinkOptions(2000, 1);
        bool otherWrote = meanwhile.isEmpty();
        const bool done = Walk(link, view, edits, answers, [&] {
            SimClient other;
            QVERIFY(other.connectTcp(address));
            QCOMPARE(other.open(), 0);
            for (const QString& name : {kRaw, kBack}) {
                const std::optional<QByteArray> record = other.readRecord(name);
                QVERIFY(record);
                sim::ControllerState one;
                one.records.insert(name, *record);
                const QByteArray changed = Patched(one, meanwhile).records.value(name);
                if (changed != *record)
                    QCOMPARE(other.writeRecord(name, changed), 0);
            }
            otherWrote = true;
        });
        link.DisconnectController();
        QVERIFY(otherWrote || !done);
        QCOMPARE(done, answers.isEmpty() || answers.last());

        const sim::ControllerState after = sim.stopAndRead();
        const sim::ControllerState expected = Patched(before, changes);
        for (const QString& name : sim::recordNames())
            QVERIFY2(after.records.value(name) == expected.records.value(name),
                     qPrintable(name + QStringLiteral(" differs at byte ")
                                + QString::number(DifferingBytes(after.records.value(name),
                                                                 expected.records.value(name)).value(0))));
        QCOMPARE(after.errorCode, errorAfter);
        // A controller whose settings nobody changed is not written at all.
        QCOMPARE(sim.writes() > 0, !changes.isEmpty());
        if (whole) {
            // One try, then whole reads and writes for the rest of the session.
            QVERIFY(sim.count(QStringLiteral("RECORD_DIGEST")) <= 1);
            QCOMPARE(sim.count(QStringLiteral("PATCH_RECORD")), 0);
        } else {
            // Complete moves no whole record: its re-read is answered by digests (unless
            // another client changed a record), its write by changed ranges.
            const QStringList req = sim.requests(QStringLiteral("Tolvane"));
            QCOMPARE(req.filter(QRegularExpression(QStringLiteral("^WRITE_RECORD"))).size(), 0);
            // The first read asks for each digest too; the re-read is the second ask.
            const QRegularExpression digest(QStringLiteral("RECORD_DIGEST @CNF_RAW_COM .*"));
            const qsizetype reRead = req.indexOf(digest, req.indexOf(digest) + 1);
            const bool moved = req.indexOf(QRegularExpression(QStringLiteral("READ_RECORD .*")), reRead) >= 0;
            QCOMPARE(reRead >= 0, sim.writes() > 0);
            QCOMPARE(moved, reRead >= 0 && !meanwhile.isEmpty());
        }
    }

    // The step order: the device pages follow the device chosen; without one the page stays.
    void steps_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("device");
        QTest::addColumn<int>("next");
        QTest::addColumn<int>("back");
        using namespace wizard;
        QTest::newRow("permission, Ethernet") << int(kPermission) << int(kEthernetDevice) << int(kEthernet)
                                              << int(kConnection);
        QTest::newRow("permission, RS232C") << int(kPermission) << int(kSerialDevice) << int(kSerial)
                                            << int(kConnection);
        QTest::newRow("permission, none") << int(kPermission) << int(kNoDevice) << int(kPermission)
                                          << int(kConnection);
        QTest::newRow("Ethernet page") << int(kEthernet) << int(kEthernetDevice) << int(kToken) << int(kPermission);
        QTest::newRow("RS232C page") << int(kSerial) << int(kSerialDevice) << int(kToken) << int(kPermission);
        QTest::newRow("token, Ethernet") << int(kToken) << int(kEthernetDevice) << int(kToken) << int(kEthernet);
        QTest::newRow("token, RS232C") << int(kToken) << int(kSerialDevice) << int(kToken) << int(kSerial);
        QTest::newRow("token, none") << int(kToken) << int(kNoDevice) << int(kToken) << int(kToken);
    }
    void steps()
    {
        QFETCH(int, step);
        QFETCH(int, device);
        QFETCH(int, next);
        QFETCH(int, back);
        if (step != wizard::kToken)  // Next on the token page is Complete, no step
            QCOMPARE(wizard::NextStep(step, device), next);
        QCOMPARE(wizard::BackStep(step, device), back);
    }

    // The token options and their codes both ways, from the token page's table.
    void tokenCodes()
    {
        const qint32 codes[wizard::kTokenElements] = {65535, 0, 1, 2, 3, 4};
        for (int element = 0; element < wizard::kTokenElements; ++element) {
            QCOMPARE(wizard::TokenCode(element), codes[element]);
            QCOMPARE(wizard::TokenElement(codes[element]), element);
        }
        QCOMPARE(wizard::TokenElement(5), -1);
        QCOMPARE(wizard::TokenElement(65534), -1);
        QCOMPARE(wizard::TokenElement(-1), -1);
        QCOMPARE(wizard::TokenElement(70000), 0);  // every code from 65535 up is Open
    }

    void progressText_data()
    {
        QTest::addColumn<int>("lang");
        QTest::addColumn<bool>("writing");
        QTest::addColumn<int>("done");
        QTest::addColumn<int>("elapsedMs");
        QTest::addColumn<QString>("text");
        // The token record, 24576 bytes.
        QTest::newRow("start") << 1033 << false << 0 << 300 << "Reading 0.0 of 24.0 KB";
        QTest::newRow("under a second: no estimate yet") << 1033 << false << 1024 << 999 << "Reading 1.0 of 24.0 KB";
        QTest::newRow("half in 12.8 s: 12.8 s left, rounded up")
            << 1033 << false << 12288 << 12800 << "Reading 12.0 of 24.0 KB, 13 s left";
        QTest::newRow("a quarter written in 2 s") << 1033 << true << 6144 << 2000 << "Writing 6.0 of 24.0 KB, 6 s left";
        QTest::newRow("all moved") << 1033 << false << 24576 << 26000 << "Reading 24.0 of 24.0 KB";
        QTest::newRow("ja") << 1041 << false << 12288 << 12800 << "読み込み中 12.0 / 24.0 KB、残り 13 秒";
        QTest::newRow("ja writing") << 1041 << true << 512 << 100 << "書き込み中 0.5 / 24.0 KB";
    }
    void progressText()
    {
        QFETCH(int, lang);
        QFETCH(bool, writing);
        QFETCH(int, done);
        QFETCH(int, elapsedMs);
        QFETCH(QString, text);
        InitLocale(quint16(lang));
        const TransferProgress p{QStringLiteral("@CNF_BACKPRM"), writing, quint32(done), 24576, false};
        QCOMPARE(wizard::ProgressText(p, elapsedMs), text);
        InitLocale(1033);
    }

    // A call that has waited a second for the controller says so, with the time its
    // time-outs have left, rounded up, in place of the move's line; its end takes it away.
    void waitLine_data()
    {
        QTest::addColumn<int>("lang");
        QTest::addColumn<int>("waitedMs");
        QTest::addColumn<QString>("text");  // empty: no line
        QTest::newRow("under a second: nothing") << 1033 << 999 << QString();
        QTest::newRow("a second") << 1033 << 1000 << QStringLiteral("Waiting for the controller, time-out in 16 s");
        QTest::newRow("ja") << 1041 << 4000 << QStringLiteral("コントローラの応答待ち、タイムアウトまで 16 秒");
    }
    void waitLine()
    {
        QFETCH(int, lang);
        QFETCH(int, waitedMs);
        QFETCH(QString, text);
        InitLocale(quint16(lang));
        wizard::ProgressLine line;
        // Inside a move that has not lasted long enough for a line of its own.
        QVERIFY(!line.take(TransferProgress{QStringLiteral("@CNF_BACKPRM"), false, 0, 24576, false}));
        QCOMPARE(line.take(WaitProgress{waitedMs, 15001, false}).value_or(QString()), text);
        QVERIFY(!line.take(WaitProgress{waitedMs, 0, true}));
        InitLocale(1033);
    }

    // A move as quick as one over Ethernet shows nothing, from its start to its end.
    void quickMoveShowsNothing()
    {
        wizard::ProgressLine line;
        TransferProgress p{QStringLiteral("@CNF_BACKPRM"), false, 0, 24576, false};
        QVERIFY(!line.take(p));
        p.done = 12288;
        QVERIFY(!line.take(p));
        p.done = 24576;
        QVERIFY(!line.take(p));
        p.finished = true;
        QVERIFY(!line.take(p));
    }
};

QTEST_GUILESS_MAIN(tst_WizardModel)
#include "tst_wizardmodel.moc"
