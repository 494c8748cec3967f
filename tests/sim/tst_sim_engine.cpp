// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The simulator's protocol engine, driven in-process: request checks, sessions, retries,
// records, the access bracket, transactions, the error code, faults and durable state.

#include "sim/simcontroller.h"
#include "sim/simstate.h"
#include "tests/sim/simharness.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace proto;

namespace {

const QString kRawCom = QStringLiteral("@CNF_RAW_COM");
const QString kBackPrm = QStringLiteral("@CNF_BACKPRM");
const QString kHostParm = QStringLiteral("@CNF_HOST_PARM");

quint32 u32At(const QByteArray& b, int at)
{
    return quint32(quint8(b[at])) | quint32(quint8(b[at + 1])) << 8 | quint32(quint8(b[at + 2])) << 16
           | quint32(quint8(b[at + 3])) << 24;
}

QByteArray filled(qsizetype size, char c)
{
    return QByteArray(size, c);
}

sim::Fault fault(const QString& faultText)
{
    QString why;
    const auto f = sim::parseFault(faultText, &why);
    if (!f)
        qFatal("bad fault %s: %s", qPrintable(faultText), qPrintable(why));
    return *f;
}

sim::SimConfig withFaults(const QStringList& faultTexts, quint32 maxChunk = 4096)
{
    sim::SimConfig cfg;
    cfg.maxChunk = maxChunk;
    for (const QString& s : faultTexts)
        cfg.faults << fault(s);
    return cfg;
}

QByteArray sha256(const QByteArray& b)
{
    return QCryptographicHash::hash(b, QCryptographicHash::Sha256);
}

// A PATCH_RECORD payload: name, size, base digest and ranges as given.
QByteArray patchPayload(const QString& name, quint32 size, const QByteArray& digest,
                        const QList<std::pair<quint32, QByteArray>>& ranges)
{
    Writer w;
    w.str(name).u32(size).bytes(digest).u16(quint16(ranges.size()));
    for (const auto& range : ranges)
        w.u32(range.first).bytes(range.second);
    return w.data();
}

QByteArray payloadOf(const QString& hex)
{
    return QByteArray::fromHex(hex.toLatin1());
}

}  // namespace

class tst_SimEngine : public QObject {
    Q_OBJECT
private slots:
    void factoryRecords();
    void checkOrder_data();
    void checkOrder();
    void malformed_data();
    void malformed();
    void errorsCarryMessage();
    void malformedOpenKeepsSession();
    void openReplacesSession();
    void openIsNeverAResend();
    void openAnswer();
    void retry();
    void retryOnlyOfLastRequest();
    void bracketAcrossSessions();
    void bracketReleasedOnDetachAndClose();
    void transactionStagesUntilCommit();
    void transactionDiscard();
    void commitDeniedKeepsTransaction();
    void writeChunks_data();
    void writeChunks();
    void collectionSurvivesOtherErrors();
    void offsetZeroRestarts();
    void unfinishedCollectionNeverApplies();
    void readBounds_data();
    void readBounds();
    void clearError_data();
    void clearError();
    void doSignalRange_data();
    void doSignalRange();
    void recordAndValueNames_data();
    void recordAndValueNames();
    void faultSwitches();
    void countedFaults();
    void parseFaults_data();
    void parseFaults();
    void logLines_data();
    void logLines();
    void stateFileRoundTrip();
    void stateFileDamaged_data();
    void stateFileDamaged();
    void durableWrites();
    void changeThatCannotBeDurableFails();
    void patchChecks_data();
    void patchChecks();
    void patchInTransaction();
};

void tst_SimEngine::factoryRecords()
{
    const sim::ControllerState st = sim::defaultState();
    const QHash<QString, int> sizes = {{kRawCom, 256}, {kBackPrm, 24576}, {kHostParm, 320},
                                       {QStringLiteral("@DAT_OPTION"), 384},
                                       {QStringLiteral("@DAT_TSRPARAM"), 448},
                                       {QStringLiteral("@LST_PACOPTION"), 512}};
    QCOMPARE(st.records.size(), sizes.size());
    for (auto it = sizes.cbegin(); it != sizes.cend(); ++it)
        QCOMPARE(st.records.value(it.key()).size(), it.value());
    QCOMPARE(st.errorCode, 0);

    const QByteArray com = st.records.value(kRawCom);
    QCOMPARE(u32At(com, 44), 0u);      // RS232C usage
    QCOMPARE(u32At(com, 48), 38400u);  // baud
    QCOMPARE(u32At(com, 52), 1u);      // parity none
    QCOMPARE(u32At(com, 56), 8u);
    QCOMPARE(u32At(com, 60), 0u);
    QCOMPARE(u32At(com, 64), 0u);
    QCOMPARE(u32At(com, 116), 2u);     // Ethernet usage
    QCOMPARE(com.mid(120, 4), payloadOf(QStringLiteral("0100a8c0")));  // 192.168.0.1 reversed
    QCOMPARE(com.mid(124, 4), payloadOf(QStringLiteral("00ffffff")));  // 255.255.255.0 reversed
    const QByteArray back = st.records.value(kBackPrm);
    QCOMPARE(back.mid(23972, 4), payloadOf(QStringLiteral("ffff0000")));
    QCOMPARE(back.mid(23976, 4), payloadOf(QStringLiteral("c0a8000a")));

    // Bytes the settings leave alone hold a non-zero filler that differs per record.
    for (int i : {0, 43, 68, 115, 128, 255})
        QVERIFY2(com[i] != 0, qPrintable(QString::number(i)));
    for (int i : {0, 23971, 23980, 24575})
        QVERIFY(back[i] != 0);
    QVERIFY(st.records.value(kHostParm).left(64) != st.records.value(QStringLiteral("@DAT_OPTION")).left(64));
    for (const QByteArray& rec : st.records)
        QVERIFY(!rec.left(32).contains('\0'));
}

void tst_SimEngine::checkOrder_data()
{
    QTest::addColumn<bool>("opened");
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("expected");
    const QByteArray garbage = payloadOf(QStringLiteral("ff"));
    const QByteArray name = SimClient::strPayload(QStringLiteral("@ERROR_CODE"));
    QTest::newRow("unknown opcode, no session") << false << 0x7f << name << int(UNSUPPORTED);
    QTest::newRow("unknown opcode before malformed") << true << 0x11 << garbage << int(UNSUPPORTED);
    QTest::newRow("opcode 0 is unknown") << true << 0x00 << QByteArray() << int(UNSUPPORTED);
    QTest::newRow("not open before malformed") << false << int(READ_VALUE) << garbage << int(NOT_OPEN);
    QTest::newRow("read value without session") << false << int(READ_VALUE) << name << int(NOT_OPEN);
    QTest::newRow("record size without session") << false << int(RECORD_SIZE) << SimClient::strPayload(kRawCom) << int(NOT_OPEN);
    QTest::newRow("read record without session") << false << int(READ_RECORD) << SimClient::readPayload(kRawCom, 0, 4) << int(NOT_OPEN);
    QTest::newRow("write without session") << false << int(WRITE_RECORD) << SimClient::writePayload(kRawCom, 256, 0, "x") << int(NOT_OPEN);
    QTest::newRow("execute without session") << false << int(EXECUTE)
        << SimClient::executePayload(QStringLiteral("doSignal"), QVector<qint16>{0, 0}) << int(NOT_OPEN);
    QTest::newRow("close without session is OK") << false << int(CLOSE) << QByteArray() << int(OK);
    QTest::newRow("malformed close without session") << false << int(CLOSE) << garbage << int(MALFORMED);
    QTest::newRow("malformed open without session") << false << int(OPEN) << garbage << int(MALFORMED);
    QTest::newRow("read value in session") << true << int(READ_VALUE) << name << int(OK);
    QTest::newRow("malformed in session") << true << int(READ_VALUE) << garbage << int(MALFORMED);
}

void tst_SimEngine::checkOrder()
{
    QFETCH(bool, opened);
    QFETCH(int, opcode);
    QFETCH(QByteArray, payload);
    QFETCH(int, expected);
    SimHarness h;
    QVERIFY(h.start());
    const int c = h.connect();
    if (opened)
        QCOMPARE(h.open(c), int(OK));
    QCOMPARE(h.status(c, quint8(opcode), payload), expected);
}

void tst_SimEngine::malformed_data()
{
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("payload");
    const QByteArray rawCom = SimClient::strPayload(kRawCom);
    QTest::newRow("read value, byte left over") << int(READ_VALUE) << SimClient::strPayload(QStringLiteral("@ERROR_CODE")) + "x";
    QTest::newRow("read value, empty") << int(READ_VALUE) << QByteArray();
    QTest::newRow("read value, str longer than payload") << int(READ_VALUE) << payloadOf(QStringLiteral("0500414243"));
    QTest::newRow("record size, bad utf-8") << int(RECORD_SIZE) << payloadOf(QStringLiteral("0200c328"));
    QTest::newRow("record size, lone continuation byte") << int(RECORD_SIZE) << payloadOf(QStringLiteral("010080"));
    QTest::newRow("read record, length missing") << int(READ_RECORD) << Writer().str(kRawCom).u32(0).data();
    QTest::newRow("read record, byte left over") << int(READ_RECORD) << SimClient::readPayload(kRawCom, 0, 4) + QByteArray(1, char(0));
    QTest::newRow("write record, data short") << int(WRITE_RECORD) << Writer().str(kRawCom).u32(256).u32(0).u32(10).data() + "abc";
    QTest::newRow("write record, byte left over") << int(WRITE_RECORD) << SimClient::writePayload(kRawCom, 256, 0, "ab") + "z";
    QTest::newRow("write record, offset missing") << int(WRITE_RECORD) << rawCom + payloadOf(QStringLiteral("00010000"));
    QTest::newRow("execute, variant tag 5") << int(EXECUTE) << SimClient::strPayload(QStringLiteral("doSignal")) + payloadOf(QStringLiteral("05"));
    QTest::newRow("execute, variant tag 255") << int(EXECUTE) << SimClient::strPayload(QStringLiteral("ClearError")) + payloadOf(QStringLiteral("ff"));
    QTest::newRow("execute, variant missing") << int(EXECUTE) << SimClient::strPayload(QStringLiteral("doSignal"));
    QTest::newRow("execute, i16 array short") << int(EXECUTE) << SimClient::strPayload(QStringLiteral("doSignal")) + payloadOf(QStringLiteral("0202000000"));
    QTest::newRow("execute, byte left over") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("doSignal"), QVector<qint16>{0, 0}) + "x";
    QTest::newRow("doSignal with i32") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("doSignal"), qint32(0));
    QTest::newRow("doSignal with one element") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("doSignal"), QVector<qint16>{0});
    QTest::newRow("doSignal with three elements") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("doSignal"), QVector<qint16>{0, 0, 0});
    QTest::newRow("doSignal with empty") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("doSignal"), Empty{});
    QTest::newRow("ClearError with str") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("ClearError"), QStringLiteral("0"));
    QTest::newRow("ClearError with i16 array") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("ClearError"), QVector<qint16>{0});
    QTest::newRow("ClearError with bytes") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("ClearError"), QByteArray("\0\0\0\0", 4));
    QTest::newRow("close with payload") << int(CLOSE) << QByteArray("\0", 1);
}

void tst_SimEngine::malformed()
{
    QFETCH(int, opcode);
    QFETCH(QByteArray, payload);
    SimHarness h;
    QVERIFY(h.start());
    const int c = h.session();
    QVERIFY(c > 0);
    const QByteArray before = h.record(kRawCom);
    QCOMPARE(h.status(c, quint8(opcode), payload), int(MALFORMED));
    QCOMPARE(h.record(kRawCom), before);
    QCOMPARE(h.ctl.bracketHolder(), 0);
}

void tst_SimEngine::errorsCarryMessage()
{
    SimHarness h;
    QVERIFY(h.start());
    const int c = h.connect();
    const auto f = h.request(c, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE")));
    QVERIFY(f);
    QCOMPARE(int(f->code), int(NOT_OPEN));
    Reader r(f->payload);
    QVERIFY(!r.str().isEmpty());
    QVERIFY(r.atEndOk());
}

void tst_SimEngine::malformedOpenKeepsSession()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session(), b = h.session();
    QVERIFY(a > 0 && b > 0);
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));
    QCOMPARE(h.status(a, OPEN, payloadOf(QStringLiteral("0300c328"))), int(MALFORMED));
    // Still in the session, still holding the bracket.
    QCOMPARE(h.status(a, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE"))), int(OK));
    QCOMPARE(h.doSignal(b, 0, 0), int(DENIED));
    QCOMPARE(h.ctl.bracketHolder(), a);
}

void tst_SimEngine::openReplacesSession()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session(), b = h.session();
    QVERIFY(a > 0 && b > 0);
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));
    QCOMPARE(h.writeWhole(a, kHostParm, filled(320, 'A')), int(OK));  // staged
    QCOMPARE(h.write(a, kRawCom, 256, 0, filled(100, 'B')), int(OK));  // unfinished
    // A restarted client opens again on the same connection.
    QCOMPARE(h.open(a), int(OK));
    QCOMPARE(h.ctl.bracketHolder(), 0);
    QCOMPARE(h.doSignal(b, 0, 0), int(OK));
    QCOMPARE(h.doSignal(b, 0, 1), int(OK));
    // The old transaction is gone: a commit does nothing.
    QCOMPARE(h.doSignal(a, 1, 1), int(OK));
    QCOMPARE(h.record(kHostParm), sim::defaultState().records.value(kHostParm));
    // The unfinished collection is gone: its continuation is out of range.
    QCOMPARE(h.write(a, kRawCom, 256, 100, filled(156, 'B')), int(OUT_OF_RANGE));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
}

// The same OPEN twice (a client that restarted after sending only OPEN) is executed
// both times, never answered from the kept response.
void tst_SimEngine::openIsNeverAResend()
{
    SimHarness h;
    QStringList lines;
    h.ctl.setLogSink([&lines](const QString& l) { lines << l; });
    QVERIFY(h.start());
    const int a = h.connect();
    const QByteArray open = SimClient::strPayload(QStringLiteral("t"));
    QCOMPARE(int(h.request(a, OPEN, open, quint16(0))->code), int(OK));
    QCOMPARE(int(h.request(a, OPEN, open, quint16(0))->code), int(OK));
    QCOMPARE(lines, (QStringList{"1 0 OPEN t -> OK", "1 0 OPEN t -> OK"}));
    // Other requests are still resent from the kept response.
    const QByteArray value = SimClient::strPayload(QStringLiteral("@ERROR_CODE"));
    QCOMPARE(int(h.request(a, READ_VALUE, value, quint16(1))->code), int(OK));
    QCOMPARE(int(h.request(a, READ_VALUE, value, quint16(1))->code), int(OK));
    QCOMPARE(lines.last(), QStringLiteral("1 1 READ_VALUE @ERROR_CODE -> OK (resent)"));
}

void tst_SimEngine::openAnswer()
{
    sim::SimConfig cfg;
    cfg.maxChunk = 1000;
    SimHarness h(cfg);
    QVERIFY(h.start());
    const int c = h.connect();
    const auto f = h.request(c, OPEN, SimClient::strPayload(QStringLiteral("wizard")));
    QVERIFY(f);
    QCOMPARE(int(f->code), int(OK));
    QCOMPARE(f->kind, Kind::Response);
    Reader r(f->payload);
    QCOMPARE(r.u16(), quint16(1));
    QCOMPARE(r.u32(), 1000u);
    QVERIFY(!r.str().isEmpty());
    QVERIFY(!r.str().isEmpty());
    QVERIFY(r.atEndOk());
}

void tst_SimEngine::retry()
{
    SimHarness h;
    QVERIFY(h.start(7));
    const int a = h.session(), b = h.session();
    QVERIFY(a > 0 && b > 0);

    // A retried ClearError is answered from the kept response, not executed again
    // (executed again it would fail: the code is 0 by then).
    const QByteArray clear = SimClient::executePayload(QStringLiteral("ClearError"), qint32(7));
    auto first = h.request(a, EXECUTE, clear, quint16(40));
    QVERIFY(first);
    QCOMPARE(int(first->code), int(OK));
    auto again = h.request(a, EXECUTE, clear, quint16(40));
    QVERIFY(again);
    QCOMPARE(again->code, first->code);
    QCOMPARE(again->payload, first->payload);
    QCOMPARE(again->seq, quint16(40));
    // The same request with another sequence number is executed.
    QCOMPARE(h.request(a, EXECUTE, clear, quint16(41))->code, quint8(FAILED));

    // A retried completing write does not overwrite what another session wrote since.
    const QByteArray mine = SimClient::writePayload(kHostParm, 320, 0, filled(320, 'M'));
    QCOMPARE(h.request(a, WRITE_RECORD, mine, quint16(42))->code, quint8(OK));
    QCOMPARE(h.writeWhole(b, kHostParm, filled(320, 'O')), int(OK));
    QCOMPARE(h.request(a, WRITE_RECORD, mine, quint16(42))->code, quint8(OK));
    QCOMPARE(h.record(kHostParm), filled(320, 'O'));

    // Same sequence number and opcode but another payload is a new request.
    const QByteArray other = SimClient::writePayload(kHostParm, 320, 0, filled(320, 'N'));
    QCOMPARE(h.request(a, WRITE_RECORD, other, quint16(42))->code, quint8(OK));
    QCOMPARE(h.record(kHostParm), filled(320, 'N'));
}

void tst_SimEngine::retryOnlyOfLastRequest()
{
    SimHarness h;
    QVERIFY(h.start(9));
    const int a = h.session();
    QVERIFY(a > 0);
    const QByteArray clear = SimClient::executePayload(QStringLiteral("ClearError"), qint32(9));
    QCOMPARE(h.request(a, EXECUTE, clear, quint16(5))->code, quint8(OK));
    QCOMPARE(h.request(a, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE")), quint16(6))->code, quint8(OK));
    // Request 5 is no longer the kept one: it is executed again, and fails.
    QCOMPARE(h.request(a, EXECUTE, clear, quint16(5))->code, quint8(FAILED));
}

void tst_SimEngine::bracketAcrossSessions()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session(), b = h.session();
    QVERIFY(a > 0 && b > 0);
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));  // held already
    QCOMPARE(h.doSignal(b, 0, 0), int(DENIED));
    // Reads stay open to all.
    QCOMPARE(h.status(b, READ_RECORD, SimClient::readPayload(kRawCom, 0, 256)), int(OK));
    QCOMPARE(h.status(b, RECORD_SIZE, SimClient::strPayload(kBackPrm)), int(OK));
    // A non-completing chunk is collected; the completing one is denied.
    QCOMPARE(h.write(b, kRawCom, 256, 0, filled(128, 'b')), int(OK));
    QCOMPARE(h.write(b, kRawCom, 256, 128, filled(128, 'b')), int(DENIED));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    // B's release attempts do not release A's bracket.
    QCOMPARE(h.doSignal(b, 0, 1), int(OK));
    QCOMPARE(h.doSignal(b, 0, 2), int(OK));
    QCOMPARE(h.ctl.bracketHolder(), a);
    // The holder writes freely.
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'a')), int(OK));
    QCOMPARE(h.doSignal(a, 0, 2), int(OK));
    QCOMPARE(h.doSignal(a, 0, 1), int(OK));  // not held: OK
    QCOMPARE(h.doSignal(b, 0, 0), int(OK));
    QCOMPARE(h.ctl.bracketHolder(), b);
}

void tst_SimEngine::bracketReleasedOnDetachAndClose()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session(), b = h.session();
    QVERIFY(a > 0 && b > 0);
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));
    QCOMPARE(h.status(a, CLOSE), int(OK));
    QCOMPARE(h.doSignal(b, 0, 0), int(OK));
    h.ctl.detach(b);  // the connection dropped
    QCOMPARE(h.ctl.bracketHolder(), 0);
    QCOMPARE(h.open(a), int(OK));
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));

    // The lease: a holder silent for 30 s loses its session, bracket and staged writes;
    // one request in time keeps it for another 30 s.
    const int c = h.session();
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'l')), int(OK));
    h.nowMs += 29999;
    QCOMPARE(h.doSignal(c, 0, 0), int(DENIED));
    QCOMPARE(h.status(a, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE"))), int(OK));
    h.nowMs += 29999;
    QCOMPARE(h.doSignal(c, 0, 0), int(DENIED));
    h.nowMs += 1;
    QCOMPARE(h.doSignal(c, 0, 0), int(OK));
    QCOMPARE(h.ctl.bracketHolder(), c);
    QCOMPARE(h.doSignal(a, 1, 1), int(NOT_OPEN));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
}

void tst_SimEngine::transactionStagesUntilCommit()
{
    QTemporaryDir dir;
    sim::SimConfig cfg;
    cfg.statePath = dir.filePath(QStringLiteral("state.bin"));
    SimHarness h(cfg);
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));
    const QByteArray com = filled(256, 'c'), back = filled(24576, 'k');
    QCOMPARE(h.writeWhole(a, kRawCom, com), int(OK));
    QCOMPARE(h.writeWhole(a, kBackPrm, back), int(OK));
    // Reads, this session's included, still see the applied content.
    const auto seen = h.request(a, READ_RECORD, SimClient::readPayload(kRawCom, 0, 256));
    Reader r(seen->payload);
    QCOMPARE(r.bytes(), sim::defaultState().records.value(kRawCom));
    sim::ControllerState onDisk;
    QVERIFY(sim::loadStateFile(cfg.statePath, &onDisk, nullptr));
    QCOMPARE(onDisk, sim::defaultState());

    QCOMPARE(h.doSignal(a, 1, 1), int(OK));
    QCOMPARE(h.record(kRawCom), com);
    QCOMPARE(h.record(kBackPrm), back);
    // Durable before the response: the file holds both records.
    QVERIFY(sim::loadStateFile(cfg.statePath, &onDisk, nullptr));
    QCOMPARE(onDisk.records.value(kRawCom), com);
    QCOMPARE(onDisk.records.value(kBackPrm), back);
    QCOMPARE(h.doSignal(a, 0, 1), int(OK));
    // The transaction is over: a further commit does nothing, writes apply at once.
    QCOMPARE(h.doSignal(a, 1, 1), int(OK));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'd')), int(OK));
    QCOMPARE(h.record(kRawCom), filled(256, 'd'));
}

void tst_SimEngine::transactionDiscard()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    // Commit and discard without a transaction are OK and do nothing.
    QCOMPARE(h.doSignal(a, 1, 1), int(OK));
    QCOMPARE(h.doSignal(a, 1, 2), int(OK));
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'x')), int(OK));
    QCOMPARE(h.doSignal(a, 1, 2), int(OK));
    QCOMPARE(h.doSignal(a, 1, 1), int(OK));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    // Opening a transaction again discards what the open one staged.
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'y')), int(OK));
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.writeWhole(a, kHostParm, filled(320, 'z')), int(OK));
    QCOMPARE(h.doSignal(a, 1, 1), int(OK));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    QCOMPARE(h.record(kHostParm), filled(320, 'z'));
}

void tst_SimEngine::commitDeniedKeepsTransaction()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session(), b = h.session();
    QVERIFY(a > 0 && b > 0);
    QCOMPARE(h.doSignal(b, 1, 0), int(OK));
    QCOMPARE(h.writeWhole(b, kRawCom, filled(256, 'q')), int(OK));  // staged: not denied
    QCOMPARE(h.doSignal(a, 0, 0), int(OK));
    QCOMPARE(h.doSignal(b, 1, 1), int(DENIED));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    QCOMPARE(h.doSignal(a, 0, 1), int(OK));
    QCOMPARE(h.doSignal(b, 1, 1), int(OK));
    QCOMPARE(h.record(kRawCom), filled(256, 'q'));
}

struct Chunk {
    QString name;
    quint32 total;
    quint32 offset;
    int length;
};
Q_DECLARE_METATYPE(Chunk)
Q_DECLARE_METATYPE(QList<Chunk>)

void tst_SimEngine::writeChunks_data()
{
    // Largest chunk 100 here; @CNF_RAW_COM has 256 bytes. `before` chunks must pass.
    QTest::addColumn<QList<Chunk>>("before");
    QTest::addColumn<bool>("otherHoldsBracket");
    QTest::addColumn<Chunk>("chunk");
    QTest::addColumn<int>("expected");
    const QString rc = kRawCom;
    const QString bad = QStringLiteral("@NO_SUCH");
    QTest::newRow("first chunk") << QList<Chunk>{} << false << Chunk{rc, 256, 0, 100} << int(OK);
    QTest::newRow("continuation") << QList<Chunk>{{rc, 256, 0, 100}} << false << Chunk{rc, 256, 100, 100} << int(OK);
    QTest::newRow("completing") << QList<Chunk>{{rc, 256, 0, 100}, {rc, 256, 100, 100}} << false << Chunk{rc, 256, 200, 56} << int(OK);
    QTest::newRow("unknown record") << QList<Chunk>{} << false << Chunk{bad, 256, 0, 10} << int(UNKNOWN_NAME);
    QTest::newRow("unknown before denied") << QList<Chunk>{} << true << Chunk{bad, 10, 0, 10} << int(UNKNOWN_NAME);
    QTest::newRow("total not the size") << QList<Chunk>{} << false << Chunk{rc, 255, 0, 10} << int(BAD_SIZE);
    QTest::newRow("total zero") << QList<Chunk>{} << false << Chunk{rc, 0, 0, 0} << int(BAD_SIZE);
    QTest::newRow("denied before bad size") << QList<Chunk>{} << true << Chunk{rc, 50, 0, 50} << int(DENIED);
    QTest::newRow("bad size before out of range") << QList<Chunk>{} << false << Chunk{rc, 300, 250, 100} << int(BAD_SIZE);
    QTest::newRow("non-completing chunk not denied") << QList<Chunk>{} << true << Chunk{rc, 256, 0, 100} << int(OK);
    QTest::newRow("chunk over the largest") << QList<Chunk>{} << false << Chunk{rc, 256, 0, 101} << int(OUT_OF_RANGE);
    QTest::newRow("past the total") << QList<Chunk>{{rc, 256, 0, 100}, {rc, 256, 100, 100}} << false << Chunk{rc, 256, 200, 57} << int(OUT_OF_RANGE);
    QTest::newRow("offset without collection") << QList<Chunk>{} << false << Chunk{rc, 256, 100, 100} << int(OUT_OF_RANGE);
    QTest::newRow("gap") << QList<Chunk>{{rc, 256, 0, 100}} << false << Chunk{rc, 256, 101, 50} << int(OUT_OF_RANGE);
    QTest::newRow("overlap") << QList<Chunk>{{rc, 256, 0, 100}} << false << Chunk{rc, 256, 99, 50} << int(OUT_OF_RANGE);
    QTest::newRow("another record") << QList<Chunk>{{rc, 256, 0, 100}} << false << Chunk{kHostParm, 320, 100, 50} << int(OUT_OF_RANGE);
    QTest::newRow("offset near 2^32 does not wrap") << QList<Chunk>{} << false << Chunk{rc, 256, 0xFFFFFFF0u, 32} << int(OUT_OF_RANGE);
    QTest::newRow("empty first chunk") << QList<Chunk>{} << false << Chunk{rc, 256, 0, 0} << int(OK);
}

void tst_SimEngine::writeChunks()
{
    QFETCH(QList<Chunk>, before);
    QFETCH(bool, otherHoldsBracket);
    QFETCH(Chunk, chunk);
    QFETCH(int, expected);
    SimHarness h(withFaults({}, 100));
    QVERIFY(h.start());
    const int a = h.session(), other = h.session();
    QVERIFY(a > 0 && other > 0);
    if (otherHoldsBracket)
        QCOMPARE(h.doSignal(other, 0, 0), int(OK));
    QByteArray written;
    for (const Chunk& c : before) {
        const QByteArray data = filled(c.length, char('a' + written.size() % 20));
        QCOMPARE(h.write(a, c.name, c.total, c.offset, data), int(OK));
        written += data;
    }
    const QByteArray data = filled(chunk.length, 'Z');
    QCOMPARE(h.write(a, chunk.name, chunk.total, chunk.offset, data), expected);
    if (expected == OK && chunk.offset + quint32(chunk.length) == chunk.total) {
        QCOMPARE(h.record(chunk.name), written + data);
    } else {
        QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    }
    if (expected != OK && !before.isEmpty()) {
        // Every error of a WRITE_RECORD drops the collection: its continuation fails too.
        const Chunk& last = before.last();
        QCOMPARE(h.write(a, last.name, last.total, last.offset + quint32(last.length), filled(1, 'c')),
                 int(OUT_OF_RANGE));
    }
}

void tst_SimEngine::collectionSurvivesOtherErrors()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    QCOMPARE(h.write(a, kRawCom, 256, 0, filled(100, '1')), int(OK));
    QCOMPARE(h.status(a, READ_RECORD, SimClient::readPayload(kRawCom, 250, 10)), int(OUT_OF_RANGE));
    QCOMPARE(h.status(a, READ_VALUE, SimClient::strPayload(QStringLiteral("@NOPE"))), int(UNKNOWN_NAME));
    QCOMPARE(h.doSignal(a, 5, 0), int(OUT_OF_RANGE));
    QCOMPARE(h.write(a, kRawCom, 256, 100, filled(156, '2')), int(OK));
    QCOMPARE(h.record(kRawCom), filled(100, '1') + filled(156, '2'));

    // A MALFORMED write, on the other hand, drops it.
    QCOMPARE(h.write(a, kRawCom, 256, 0, filled(100, '3')), int(OK));
    QCOMPARE(h.status(a, WRITE_RECORD, SimClient::writePayload(kRawCom, 256, 100, "x") + "junk"), int(MALFORMED));
    QCOMPARE(h.write(a, kRawCom, 256, 100, filled(156, '4')), int(OUT_OF_RANGE));
    QCOMPARE(h.record(kRawCom), filled(100, '1') + filled(156, '2'));
}

void tst_SimEngine::offsetZeroRestarts()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    QCOMPARE(h.write(a, kHostParm, 320, 0, filled(200, 'o')), int(OK));
    QCOMPARE(h.write(a, kRawCom, 256, 0, filled(128, 'n')), int(OK));  // drops the other one
    QCOMPARE(h.write(a, kHostParm, 320, 200, filled(120, 'o')), int(OUT_OF_RANGE));
    QCOMPARE(h.write(a, kRawCom, 256, 0, filled(128, 'm')), int(OK));
    QCOMPARE(h.write(a, kRawCom, 256, 128, filled(128, 'm')), int(OK));
    QCOMPARE(h.record(kRawCom), filled(256, 'm'));
}

void tst_SimEngine::unfinishedCollectionNeverApplies()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    QCOMPARE(h.write(a, kRawCom, 256, 0, filled(255, 'u')), int(OK));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    QCOMPARE(h.status(a, CLOSE), int(OK));
    QCOMPARE(h.open(a), int(OK));
    QCOMPARE(h.write(a, kRawCom, 256, 255, filled(1, 'u')), int(OUT_OF_RANGE));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
}

void tst_SimEngine::readBounds_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("offset");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<int>("expected");
    QTest::newRow("whole record") << kRawCom << 0u << 256u << int(OK);
    QTest::newRow("last byte") << kRawCom << 255u << 1u << int(OK);
    QTest::newRow("length 0 at the end") << kRawCom << 256u << 0u << int(OK);
    QTest::newRow("length 0 past the end") << kRawCom << 257u << 0u << int(OUT_OF_RANGE);
    QTest::newRow("one past the end") << kRawCom << 255u << 2u << int(OUT_OF_RANGE);
    QTest::newRow("no wrap-around") << kRawCom << 0xFFFFFFFFu << 2u << int(OUT_OF_RANGE);
    QTest::newRow("largest chunk") << kBackPrm << 0u << 4096u << int(OK);
    QTest::newRow("over the largest chunk") << kBackPrm << 0u << 4097u << int(OUT_OF_RANGE);
    QTest::newRow("token bytes") << kBackPrm << 23972u << 8u << int(OK);
    QTest::newRow("unknown record") << QStringLiteral("@CNF_RAW_COMX") << 0u << 1u << int(UNKNOWN_NAME);
    QTest::newRow("name is case-sensitive") << QStringLiteral("@cnf_raw_com") << 0u << 1u << int(UNKNOWN_NAME);
}

void tst_SimEngine::readBounds()
{
    QFETCH(QString, name);
    QFETCH(quint32, offset);
    QFETCH(quint32, length);
    QFETCH(int, expected);
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    const auto f = h.request(a, READ_RECORD, SimClient::readPayload(name, offset, length));
    QVERIFY(f);
    QCOMPARE(int(f->code), expected);
    if (expected == OK) {
        Reader r(f->payload);
        QCOMPARE(r.bytes(), h.record(name).mid(offset, length));
        QVERIFY(r.atEndOk());
    }
}

void tst_SimEngine::clearError_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<qint32>("param");
    QTest::addColumn<int>("expected");
    QTest::addColumn<qint32>("codeAfter");
    QTest::newRow("right code") << QStringList{} << 1234 << int(OK) << 0;
    QTest::newRow("wrong code") << QStringList{} << 1233 << int(FAILED) << 1234;
    QTest::newRow("zero is wrong") << QStringList{} << 0 << int(FAILED) << 1234;
    QTest::newRow("denied") << QStringList{QStringLiteral("deny-clear")} << 1234 << int(DENIED) << 1234;
}

void tst_SimEngine::clearError()
{
    QFETCH(QStringList, faults);
    QFETCH(qint32, param);
    QFETCH(int, expected);
    QFETCH(qint32, codeAfter);
    SimHarness h(withFaults(faults));
    QVERIFY(h.start(1234));
    const int a = h.session();
    QVERIFY(a > 0);
    const auto f = h.request(a, EXECUTE, SimClient::executePayload(QStringLiteral("ClearError"), param));
    QVERIFY(f);
    QCOMPARE(int(f->code), expected);
    if (expected == OK) {
        Reader r(f->payload);
        QVERIFY(std::holds_alternative<Empty>(r.value()));
        QVERIFY(r.atEndOk());
    }
    const auto v = h.request(a, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE")));
    Reader r(v->payload);
    const Value value = r.value();
    QVERIFY(std::holds_alternative<qint32>(value));
    QCOMPARE(std::get<qint32>(value), codeAfter);
}

void tst_SimEngine::doSignalRange_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("expected");
    QTest::newRow("0,0") << 0 << 0 << int(OK);
    QTest::newRow("1,2") << 1 << 2 << int(OK);
    QTest::newRow("channel 2") << 2 << 0 << int(OUT_OF_RANGE);
    QTest::newRow("channel -1") << -1 << 0 << int(OUT_OF_RANGE);
    QTest::newRow("phase 3") << 0 << 3 << int(OUT_OF_RANGE);
    QTest::newRow("phase -1") << 1 << -1 << int(OUT_OF_RANGE);
}

void tst_SimEngine::doSignalRange()
{
    QFETCH(int, channel);
    QFETCH(int, phase);
    QFETCH(int, expected);
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    const auto f = h.request(a, EXECUTE, SimClient::executePayload(QStringLiteral("doSignal"),
                                                                   QVector<qint16>{qint16(channel), qint16(phase)}));
    QCOMPARE(int(f->code), expected);
    if (expected == OK) {
        Reader r(f->payload);
        QVERIFY(std::holds_alternative<Empty>(r.value()));
        QVERIFY(r.atEndOk());
    }
}

void tst_SimEngine::recordAndValueNames_data()
{
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("expected");
    QTest::newRow("error code value") << int(READ_VALUE) << SimClient::strPayload(QStringLiteral("@ERROR_CODE")) << int(OK);
    QTest::newRow("unknown value") << int(READ_VALUE) << SimClient::strPayload(QStringLiteral("@MODE")) << int(UNKNOWN_NAME);
    QTest::newRow("record is not a value") << int(READ_VALUE) << SimClient::strPayload(kRawCom) << int(UNKNOWN_NAME);
    for (const QString& n : sim::recordNames())
        QTest::newRow(qPrintable(QStringLiteral("size of ") + n)) << int(RECORD_SIZE) << SimClient::strPayload(n) << int(OK);
    QTest::newRow("size of unknown") << int(RECORD_SIZE) << SimClient::strPayload(QStringLiteral("@ERROR_CODE")) << int(UNKNOWN_NAME);
    QTest::newRow("unknown command") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("Reboot"), Empty{}) << int(UNKNOWN_NAME);
    QTest::newRow("command names are case-sensitive") << int(EXECUTE)
        << SimClient::executePayload(QStringLiteral("dosignal"), QVector<qint16>{0, 0}) << int(UNKNOWN_NAME);
}

void tst_SimEngine::recordAndValueNames()
{
    QFETCH(int, opcode);
    QFETCH(QByteArray, payload);
    QFETCH(int, expected);
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    const auto f = h.request(a, quint8(opcode), payload);
    QCOMPARE(int(f->code), expected);
    if (opcode == RECORD_SIZE && expected == OK) {
        Reader r(f->payload);
        QCOMPARE(qsizetype(r.u32()), h.record(Reader(payload).str()).size());
        QVERIFY(r.atEndOk());
    }
}

void tst_SimEngine::faultSwitches()
{
    SimHarness h(withFaults({QStringLiteral("short=@CNF_RAW_COM:100"), QStringLiteral("fail-read=@DAT_OPTION"),
                             QStringLiteral("fail-write=@CNF_HOST_PARM")}));
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    const auto size = h.request(a, RECORD_SIZE, SimClient::strPayload(kRawCom));
    QCOMPARE(Reader(size->payload).u32(), 100u);
    QCOMPARE(h.status(a, READ_RECORD, SimClient::readPayload(kRawCom, 0, 100)), int(OK));
    QCOMPARE(h.status(a, READ_RECORD, SimClient::readPayload(kRawCom, 0, 101)), int(OUT_OF_RANGE));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'w')), int(BAD_SIZE));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(100, 'w')), int(OK));

    QCOMPARE(h.status(a, READ_RECORD, SimClient::readPayload(QStringLiteral("@DAT_OPTION"), 0, 10)), int(FAILED));
    QCOMPARE(h.status(a, READ_RECORD, SimClient::readPayload(QStringLiteral("@DAT_TSRPARAM"), 0, 10)), int(OK));

    QCOMPARE(h.write(a, kHostParm, 320, 0, filled(100, 'f')), int(OK));  // not completing
    QCOMPARE(h.write(a, kHostParm, 320, 100, filled(220, 'f')), int(FAILED));
    QCOMPARE(h.record(kHostParm), sim::defaultState().records.value(kHostParm));
    // In a transaction the commit fails and nothing of it is applied.
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(100, 'v')), int(OK));
    QCOMPARE(h.writeWhole(a, kHostParm, filled(320, 'v')), int(OK));
    QCOMPARE(h.doSignal(a, 1, 1), int(FAILED));
    QCOMPARE(h.record(kRawCom), filled(100, 'w'));
    QCOMPARE(h.record(kHostParm), sim::defaultState().records.value(kHostParm));
    QCOMPARE(h.doSignal(a, 1, 2), int(OK));
}

void tst_SimEngine::countedFaults()
{
    QTemporaryDir dir;
    sim::SimConfig cfg = withFaults({QStringLiteral("stall-at=2"), QStringLiteral("corrupt-at=3"),
                                     QStringLiteral("drop-at=5"), QStringLiteral("exit-at=7"),
                                     QStringLiteral("exit-after-apply=8"), QStringLiteral("freeze-at=10")});
    cfg.statePath = dir.filePath(QStringLiteral("s.bin"));
    SimHarness h(cfg);
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);                                                       // 1
    const QByteArray clear = SimClient::executePayload(QStringLiteral("ClearError"), qint32(0));
    QVERIFY(!h.request(a, EXECUTE, clear, quint16(1)));                                 // 2: stalled
    QCOMPARE(h.last.action, sim::Reply::Stall);
    QVERIFY(!h.request(a, EXECUTE, clear, quint16(2)));                                 // 3: corrupted
    QCOMPARE(h.last.action, sim::Reply::Send);
    {
        FrameScanner s;
        s.feed(h.last.bytes);
        QVERIFY(!s.next());
        QCOMPARE(s.dropped(), quint64(1));
    }
    const auto resent = h.request(a, EXECUTE, clear, quint16(2));                       // 4: retry
    QVERIFY(resent);
    QCOMPARE(int(resent->code), int(OK));
    QVERIFY(!h.request(a, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE"))));  // 5: dropped
    QCOMPARE(h.last.action, sim::Reply::Drop);
    QCOMPARE(h.status(a, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE"))), int(NOT_OPEN));  // 6
    QVERIFY(!h.request(a, OPEN, SimClient::strPayload(QStringLiteral("x"))));             // 7: exit before executing
    QCOMPARE(h.last.action, sim::Reply::Exit);
    QCOMPARE(h.status(a, OPEN, SimClient::strPayload(QStringLiteral("x"))), -1);          // 8: executed, then exit
    QCOMPARE(h.last.action, sim::Reply::Exit);
    QCOMPARE(h.status(a, WRITE_RECORD, SimClient::writePayload(kRawCom, 256, 0, filled(256, 'e'))), int(OK));  // 9
    // From 10 on nothing is answered or executed, retries neither.
    const QByteArray write = SimClient::writePayload(kRawCom, 256, 0, filled(256, 'f'));
    for (int i = 0; i < 2; ++i) {
        QVERIFY(!h.request(a, WRITE_RECORD, write, quint16(20)));                      // 10, 11
        QCOMPARE(h.last.action, sim::Reply::Stall);
    }
    QCOMPARE(h.record(kRawCom), filled(256, 'e'));
}

void tst_SimEngine::parseFaults_data()
{
    QTest::addColumn<QString>("faultText");
    QTest::addColumn<bool>("valid");
    QTest::newRow("drop-at") << QStringLiteral("drop-at=3") << true;
    QTest::newRow("exit-after-apply") << QStringLiteral("exit-after-apply=12") << true;
    QTest::newRow("short") << QStringLiteral("short=@CNF_RAW_COM:64") << true;
    QTest::newRow("deny-clear") << QStringLiteral("deny-clear") << true;
    QTest::newRow("fail-write") << QStringLiteral("fail-write=@CNF_BACKPRM") << true;
    QTest::newRow("error-at") << QStringLiteral("error-at=14:42") << true;
    QTest::newRow("error-at without code") << QStringLiteral("error-at=14") << false;
    QTest::newRow("error-at zero request") << QStringLiteral("error-at=0:42") << false;
    QTest::newRow("zero request") << QStringLiteral("stall-at=0") << false;
    QTest::newRow("not a number") << QStringLiteral("corrupt-at=x") << false;
    QTest::newRow("short without size") << QStringLiteral("short=@CNF_RAW_COM") << false;
    QTest::newRow("short negative") << QStringLiteral("short=@CNF_RAW_COM:-1") << false;
    QTest::newRow("unknown") << QStringLiteral("explode=1") << false;
    QTest::newRow("no value") << QStringLiteral("fail-read=") << false;
}

void tst_SimEngine::parseFaults()
{
    QFETCH(QString, faultText);
    QFETCH(bool, valid);
    QString why;
    QCOMPARE(bool(sim::parseFault(faultText, &why)), valid);
    QCOMPARE(why.isEmpty(), valid);
}

void tst_SimEngine::logLines_data()
{
    QTest::addColumn<int>("opcode");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("line");
    QTest::newRow("open") << int(OPEN) << SimClient::strPayload(QStringLiteral("wizard")) << QStringLiteral("1 1 OPEN wizard -> OK");
    QTest::newRow("line break in a name") << int(OPEN) << SimClient::strPayload(QStringLiteral("a\nb\rc"))
                                          << QStringLiteral("1 1 OPEN a?b?c -> OK");
    QTest::newRow("close") << int(CLOSE) << QByteArray() << QStringLiteral("1 1 CLOSE -> OK");
    QTest::newRow("value") << int(READ_VALUE) << SimClient::strPayload(QStringLiteral("@ERROR_CODE"))
                           << QStringLiteral("1 1 READ_VALUE @ERROR_CODE -> OK");
    QTest::newRow("size") << int(RECORD_SIZE) << SimClient::strPayload(QStringLiteral("@X"))
                          << QStringLiteral("1 1 RECORD_SIZE @X -> UNKNOWN_NAME");
    QTest::newRow("read") << int(READ_RECORD) << SimClient::readPayload(kBackPrm, 20480, 4096)
                          << QStringLiteral("1 1 READ_RECORD @CNF_BACKPRM 20480+4096 -> OK");
    QTest::newRow("write") << int(WRITE_RECORD) << SimClient::writePayload(kRawCom, 256, 0, filled(256, 'w'))
                           << QStringLiteral("1 1 WRITE_RECORD @CNF_RAW_COM 0+256/256 -> OK");
    QTest::newRow("write bad size") << int(WRITE_RECORD) << SimClient::writePayload(kRawCom, 300, 0, filled(10, 'w'))
                                    << QStringLiteral("1 1 WRITE_RECORD @CNF_RAW_COM 0+10/300 -> BAD_SIZE");
    QTest::newRow("doSignal") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("doSignal"), QVector<qint16>{1, 2})
                              << QStringLiteral("1 1 EXECUTE doSignal 1,2 -> OK");
    QTest::newRow("ClearError") << int(EXECUTE) << SimClient::executePayload(QStringLiteral("ClearError"), qint32(12))
                                << QStringLiteral("1 1 EXECUTE ClearError 12 -> FAILED");
    QTest::newRow("malformed") << int(READ_RECORD) << SimClient::strPayload(kRawCom)
                               << QStringLiteral("1 1 READ_RECORD (malformed) -> MALFORMED");
    QTest::newRow("unknown opcode") << int(0x42) << QByteArray("zz") << QStringLiteral("1 1 OP_0x42 -> UNSUPPORTED");
}

void tst_SimEngine::logLines()
{
    QFETCH(int, opcode);
    QFETCH(QByteArray, payload);
    QFETCH(QString, line);
    SimHarness h;
    QStringList lines;
    h.ctl.setLogSink([&lines](const QString& l) { lines << l; });
    QVERIFY(h.start());
    const int a = h.session();
    QVERIFY(a > 0);
    QVERIFY(h.request(a, quint8(opcode), payload));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("1 0 OPEN t -> OK"));
    QCOMPARE(lines.at(1), line);
}

void tst_SimEngine::stateFileRoundTrip()
{
    sim::ControllerState st = sim::defaultState();
    st.errorCode = -5;
    st.records[kRawCom] = filled(17, 'r');
    sim::ControllerState back;
    QVERIFY(sim::decodeState(sim::encodeState(st), &back, nullptr));
    QCOMPARE(back, st);
}

void tst_SimEngine::stateFileDamaged_data()
{
    QTest::addColumn<int>("damage");  // 0 flip a byte, 1 truncate, 2 empty, 3 other file
    QTest::newRow("flipped byte") << 0;
    QTest::newRow("truncated") << 1;
    QTest::newRow("empty") << 2;
    QTest::newRow("not a state file") << 3;
}

void tst_SimEngine::stateFileDamaged()
{
    QFETCH(int, damage);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("state.bin"));
    QVERIFY(sim::saveStateFile(path, sim::defaultState(), nullptr));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QByteArray data = f.readAll();
    f.close();
    switch (damage) {
    case 0: data[100] = char(data[100] ^ 1); break;
    case 1: data.chop(10); break;
    case 2: data.clear(); break;
    default: data = "[LangID]\nID=1033\n"; break;
    }
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
    f.close();
    sim::SimConfig cfg;
    cfg.statePath = path;
    SimHarness h(cfg);
    QString why;
    QVERIFY(!h.start(std::nullopt, &why));
    QVERIFY(!why.isEmpty());
    // Never silently replaced.
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), data);
}

void tst_SimEngine::durableWrites()
{
    QTemporaryDir dir;
    sim::SimConfig cfg;
    cfg.statePath = dir.filePath(QStringLiteral("state.bin"));
    {
        SimHarness h(cfg);
        QVERIFY(h.start(31));
        QVERIFY(QFile::exists(cfg.statePath));
        const int a = h.connect();
        QCOMPARE(h.open(a), int(OK));
        QCOMPARE(h.writeWhole(a, kBackPrm, filled(24576, 'D')), int(OK));
        sim::ControllerState disk;
        QVERIFY(sim::loadStateFile(cfg.statePath, &disk, nullptr));
        QCOMPARE(disk.records.value(kBackPrm), filled(24576, 'D'));
        QCOMPARE(disk.errorCode, 31);
    }
    SimHarness again(cfg);  // a restart with the same file
    QVERIFY(again.start());
    QCOMPARE(again.record(kBackPrm), filled(24576, 'D'));
    QCOMPARE(again.ctl.state().errorCode, 31);
    const int a = again.connect();
    QCOMPARE(again.open(a), int(OK));
    QCOMPARE(again.status(a, EXECUTE, SimClient::executePayload(QStringLiteral("ClearError"), qint32(31))), int(OK));
    sim::ControllerState disk;
    QVERIFY(sim::loadStateFile(cfg.statePath, &disk, nullptr));
    QCOMPARE(disk.errorCode, 0);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() == 1);  // no temporary left
}

void tst_SimEngine::changeThatCannotBeDurableFails()
{
    QTemporaryDir dir;
    const QString sub = dir.filePath(QStringLiteral("gone"));
    QVERIFY(QDir().mkpath(sub));
    sim::SimConfig cfg;
    cfg.statePath = sub + QStringLiteral("/state.bin");
    SimHarness h(cfg);
    QVERIFY(h.start(8));
    const int a = h.session();
    QVERIFY(a > 0);
    QVERIFY(QDir(sub).removeRecursively());  // nowhere to write any more
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'F')), int(FAILED));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.writeWhole(a, kRawCom, filled(256, 'G')), int(OK));
    QCOMPARE(h.doSignal(a, 1, 1), int(FAILED));
    QCOMPARE(h.record(kRawCom), sim::defaultState().records.value(kRawCom));
    QCOMPARE(h.status(a, EXECUTE, SimClient::executePayload(QStringLiteral("ClearError"), qint32(8))), int(FAILED));
    QCOMPARE(h.ctl.state().errorCode, 8);
}

QTEST_GUILESS_MAIN(tst_SimEngine)
// PATCH_RECORD's checks in their order, each row failing the later checks too, and
// what a patch changes: the given ranges and nothing else, or nothing at all.
void tst_SimEngine::patchChecks_data()
{
    QTest::addColumn<QString>("setup");  // "bracket": another session holds it; "off": no optional requests
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("status");
    const QByteArray com = sim::defaultState().records.value(kRawCom);
    const QByteArray base = sha256(com), other = sha256("x");
    const QList<std::pair<quint32, QByteArray>> one{{10, "AB"}};
    QTest::newRow("two ranges applied") << "" << patchPayload(kRawCom, 256, base, {{10, "AB"}, {254, "YZ"}}) << int(OK);
    QTest::newRow("unknown name first") << "bracket" << patchPayload("@NOPE", 7, other, {}) << int(UNKNOWN_NAME);
    QTest::newRow("another session's bracket before the size") << "bracket" << patchPayload(kRawCom, 7, other, {}) << int(DENIED);
    QTest::newRow("size before the digest") << "" << patchPayload(kRawCom, 257, other, {}) << int(BAD_SIZE);
    QTest::newRow("digest of other content before the ranges") << "" << patchPayload(kRawCom, 256, other, {}) << int(FAILED);
    QTest::newRow("digest cut short") << "" << patchPayload(kRawCom, 256, base.left(31), one) << int(FAILED);
    QTest::newRow("no ranges") << "" << patchPayload(kRawCom, 256, base, {}) << int(OUT_OF_RANGE);
    QTest::newRow("range past the end") << "" << patchPayload(kRawCom, 256, base, {{255, "AB"}}) << int(OUT_OF_RANGE);
    QTest::newRow("ranges overlap") << "" << patchPayload(kRawCom, 256, base, {{10, "AB"}, {11, "C"}}) << int(OUT_OF_RANGE);
    QTest::newRow("ranges out of order") << "" << patchPayload(kRawCom, 256, base, {{20, "A"}, {10, "B"}}) << int(OUT_OF_RANGE);
    QTest::newRow("request over the largest chunk")
        << "" << patchPayload(kRawCom, 256, base, {{0, QByteArray(200, 'a')}, {200, QByteArray(56, 'b')}}) << int(OUT_OF_RANGE);
    QTest::newRow("byte left over") << "" << patchPayload(kRawCom, 256, base, one) + "x" << int(MALFORMED);
    QTest::newRow("switched off") << "off" << patchPayload(kRawCom, 256, base, one) << int(UNSUPPORTED);
}

void tst_SimEngine::patchChecks()
{
    QFETCH(QString, setup);
    QFETCH(QByteArray, payload);
    QFETCH(int, status);
    sim::SimConfig cfg = withFaults({}, 256);
    cfg.optionalRequests = setup != QLatin1String("off");
    SimHarness h(cfg);
    QVERIFY(h.start());
    const int a = h.session(), b = h.session();
    if (setup == QLatin1String("bracket"))
        QCOMPARE(h.doSignal(b, 0, 0), int(OK));
    const QByteArray before = h.record(kRawCom);
    QCOMPARE(h.status(a, PATCH_RECORD, payload), status);
    QByteArray expected = before;
    if (status == OK)
        expected.replace(10, 2, "AB").replace(254, 2, "YZ");
    QCOMPARE(h.record(kRawCom), expected);

    // RECORD_DIGEST: the size and SHA-256 of what the controller holds now.
    const auto digest = h.request(a, RECORD_DIGEST, SimClient::strPayload(kRawCom));
    QVERIFY(digest);
    if (setup == QLatin1String("off")) {
        QCOMPARE(int(digest->code), int(UNSUPPORTED));
        return;
    }
    QCOMPARE(int(digest->code), int(OK));
    Reader r(digest->payload);
    QCOMPARE(r.u32(), 256u);
    QCOMPARE(r.bytes(), sha256(expected));
    QVERIFY(r.atEndOk());
}

// Inside a transaction a patch stages like a completed write, and the next patch's base
// is the staged content; reads still see the applied one until the commit.
void tst_SimEngine::patchInTransaction()
{
    SimHarness h;
    QVERIFY(h.start());
    const int a = h.session();
    const QByteArray applied = h.record(kBackPrm);
    QCOMPARE(h.doSignal(a, 1, 0), int(OK));
    QCOMPARE(h.status(a, PATCH_RECORD, patchPayload(kBackPrm, 24576, sha256(applied), {{23972, QByteArray("\x02\x00", 2)}})), int(OK));
    QByteArray staged = applied;
    staged.replace(23972, 2, "\x02\x00", 2);
    // The applied content is no longer the base.
    QCOMPARE(h.status(a, PATCH_RECORD, patchPayload(kBackPrm, 24576, sha256(applied), {{0, "Q"}})), int(FAILED));
    QCOMPARE(h.status(a, PATCH_RECORD, patchPayload(kBackPrm, 24576, sha256(staged), {{0, "Q"}})), int(OK));
    staged[0] = 'Q';
    QCOMPARE(h.record(kBackPrm), applied);
    const auto digest = h.request(a, RECORD_DIGEST, SimClient::strPayload(kBackPrm));
    QVERIFY(digest);
    Reader r(digest->payload);
    r.u32();
    QCOMPARE(r.bytes(), sha256(applied));
    QCOMPARE(h.doSignal(a, 1, 1), int(OK));
    QCOMPARE(h.record(kBackPrm), staged);
}

#include "tst_sim_engine.moc"
