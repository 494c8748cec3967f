// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The real tolvane-sim over TCP on 127.0.1.x: the receiver rules of the byte stream,
// sessions on several connections, the fault switches, the request log, the state file
// across restarts and power cuts, and the program's command line and signals.

#include "sim/simstate.h"
#include "tests/support/loggedsim.h"
#include "tests/support/simclient.h"
#include "tests/support/procmem.h"
#include "tests/support/simprocess.h"
#include "tests/support/toolrun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <memory>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace proto;

namespace {

const QString kRawCom = QStringLiteral("@CNF_RAW_COM");
const QString kBackPrm = QStringLiteral("@CNF_BACKPRM");
const QString kErrorCode = QStringLiteral("@ERROR_CODE");

// Each simulator of this test gets its own loopback address, one nothing holds.
QString nextAddress()
{
    return FreeLoopbackAddress(QStringLiteral("127.0.1"));
}

struct RunningSim {
    QString address;
    std::unique_ptr<SimProcess> proc;
};

RunningSim startSim(const QStringList& extra)
{
    RunningSim s;
    s.address = nextAddress();
    s.proc = std::make_unique<SimProcess>(QStringList{QStringLiteral("--listen"), s.address} + extra);
    if (!s.proc->start())
        qWarning("tolvane-sim did not start: %s", s.proc->stderrText().constData());
    return s;
}

QByteArray errorCodeRequest(quint16 seq)
{
    return SimClient::requestFrame(seq, READ_VALUE, SimClient::strPayload(kErrorCode));
}

// Sequence numbers of the responses that arrive before the answer to a sentinel request.
QList<int> answeredBefore(SimClient& c, quint16 sentinel)
{
    QList<int> seqs;
    if (!c.sendRaw(errorCodeRequest(sentinel)))
        return {-1};
    for (;;) {
        const auto f = c.receive(10000);
        if (!f)
            return seqs << -1;
        if (f->seq == sentinel)
            return seqs;
        seqs << f->seq;
    }
}

QByteArray pattern(qsizetype n, int seed)
{
    QByteArray b(n, '\0');
    for (qsizetype i = 0; i < n; ++i)
        b[i] = char((i * 7 + seed * 31) % 253 + 1);
    return b;
}

}  // namespace

class tst_SimTcp : public QObject {
    Q_OBJECT
private slots:
    void receiverRules_data();
    void receiverRules();
    void idleLineDropsPartialFrame();
    void recordsOverTcp();
    void largestChunk();
    void bracketAcrossConnections();
    void droppedConnectionReleasesBracket();
    void dropAt();
    void stallAt();
    void corruptAt();
    void namedFaultsFromTheCommandLine();
    void powerCutDuringCommit_data();
    void powerCutDuringCommit();
    void killWhileCommittingNeverMixes();
    void errorCodeSurvivesRestart();
    void damagedStateFileIsAnError_data();
    void damagedStateFileIsAnError();
    void stateThroughLinkKeepsLink();
    void hostileClientsCostNoMemory();
    void idleConnectionsPastTheLimits_data();
    void idleConnectionsPastTheLimits();
    void requestLog();
    void signalsEndCleanly_data();
    void signalsEndCleanly();
    void commandLine_data();
    void commandLine();
    void helpDocumentsEverything();
};

void tst_SimTcp::receiverRules_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<int>>("answered");
    const QByteArray ec = SimClient::strPayload(kErrorCode);
    const QByteArray good = errorCodeRequest(5);
    auto craft = [&](quint8 ver, quint8 kind, quint8 reserved, quint32 len, bool badCrc) {
        return SimClient::craftFrame(ver, kind, 3, READ_VALUE, reserved, len, ec, badCrc);
    };
    const quint32 n = quint32(ec.size());
    QTest::newRow("valid frame") << good << QList<int>{5};
    QTest::newRow("garbage byte before a frame") << QByteArray("x") + good << QList<int>{5};
    QTest::newRow("lone T before a frame") << QByteArray("T") + good << QList<int>{5};
    QTest::newRow("TT before a frame") << QByteArray("TT") + good << QList<int>{5};
    QTest::newRow("noise between frames") << good + QByteArray("\x00\xffTLX\x01", 6) + errorCodeRequest(6) << QList<int>{5, 6};
    QTest::newRow("bad magic") << QByteArray("TM") + craft(1, 1, 0, n, false).mid(2) + good << QList<int>{5};
    QTest::newRow("version 0") << craft(0, 1, 0, n, false) + good << QList<int>{5};
    QTest::newRow("version 2") << craft(2, 1, 0, n, false) + good << QList<int>{5};
    QTest::newRow("kind 0") << craft(1, 0, 0, n, false) + good << QList<int>{5};
    QTest::newRow("kind 3") << craft(1, 3, 0, n, false) + good << QList<int>{5};
    QTest::newRow("response frame ignored") << craft(1, 2, 0, n, false) + good << QList<int>{5};
    QTest::newRow("length over the limit") << craft(1, 1, 0, 1048577, false) + good << QList<int>{5};
    QTest::newRow("length 2^32-1") << craft(1, 1, 0, 0xFFFFFFFFu, false) + good << QList<int>{5};
    QTest::newRow("bad CRC") << craft(1, 1, 0, n, true) + good << QList<int>{5};
    QTest::newRow("reserved byte ignored") << craft(1, 1, 0xAB, n, false) << QList<int>{3};
    // A frame whose CRC fails, with a valid frame inside its payload: scanning resumes one
    // byte after the dropped frame's start and finds the inner one.
    QTest::newRow("frame inside a dropped frame")
        << SimClient::craftFrame(1, 1, 9, READ_VALUE, 0, quint32(good.size()), good, true) << QList<int>{5};
    // A length field that swallows the next frame: the CRC fails, and the swallowed frame
    // is found by the rescan.
    QTest::newRow("length swallows the next frame")
        << SimClient::craftFrame(1, 1, 9, READ_VALUE, 0, quint32(ec.size() + good.size() + 4), ec, false).left(12 + ec.size())
               + good + QByteArray(4, 'z')
        << QList<int>{5};
    // The largest frame there may be, damaged, with a valid frame hidden at its end.
    QByteArray big(1048576 - good.size(), 'q');
    big.append(good);
    QTest::newRow("largest frame, damaged, frame inside")
        << SimClient::craftFrame(1, 1, 9, READ_VALUE, 0, 1048576, big, true) << QList<int>{5};
    QTest::newRow("largest frame, valid, malformed")
        << SimClient::craftFrame(1, 1, 9, READ_VALUE, 0, 1048576, QByteArray(1048576, 'm'), false) + good
        << QList<int>{9, 5};
}

void tst_SimTcp::receiverRules()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<int>, answered);
    RunningSim sim = startSim({});
    QVERIFY(sim.proc->running());
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    c.setNextSeq(1);
    QCOMPARE(c.open(), int(OK));
    QVERIFY(c.sendRaw(bytes));
    QCOMPARE(answeredBefore(c, 999), answered);
}

void tst_SimTcp::idleLineDropsPartialFrame()
{
    RunningSim sim = startSim({QStringLiteral("--verbose")});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QCOMPARE(c.open(), int(OK));
    // A header that promises almost a megabyte, then silence: without the idle drop the
    // next request would disappear inside the promised payload.
    const QByteArray partial = SimClient::craftFrame(1, 1, 40, READ_VALUE, 0, 1000000, QByteArray(20, 'p')).left(32);
    QVERIFY(c.sendRaw(partial));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += sim.proc->stderrText()).contains("line idle"), 5000);
    QCOMPARE(answeredBefore(c, 41), QList<int>{});
}

void tst_SimTcp::recordsOverTcp()
{
    RunningSim sim = startSim({});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QCOMPARE(c.open(), int(OK));
    const auto com = c.readRecord(kRawCom);
    QVERIFY(com);
    QCOMPARE(*com, sim::defaultState().records.value(kRawCom));
    const auto back = c.readRecord(kBackPrm);
    QVERIFY(back);
    QCOMPARE(*back, sim::defaultState().records.value(kBackPrm));
    const QByteArray next = pattern(24576, 3);
    QCOMPARE(c.writeRecord(kBackPrm, next), int(OK));
    QCOMPARE(c.readRecord(kBackPrm, 1000), std::optional<QByteArray>(next));
    QCOMPARE(c.close(), int(OK));
    QCOMPARE(sim.proc->stop(), 0);
}

void tst_SimTcp::largestChunk()
{
    RunningSim sim = startSim({QStringLiteral("--max-chunk"), QStringLiteral("1000")});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    const auto open = c.call(OPEN, SimClient::strPayload(QStringLiteral("t")));
    QVERIFY(open);
    Reader r(open->payload);
    QCOMPARE(r.u16(), quint16(1));
    QCOMPARE(r.u32(), 1000u);
    QCOMPARE(c.call(READ_RECORD, SimClient::readPayload(kBackPrm, 0, 1001))->code, quint8(OUT_OF_RANGE));
    QCOMPARE(c.readRecord(kBackPrm, 1000), std::optional<QByteArray>(sim::defaultState().records.value(kBackPrm)));
    QCOMPARE(c.writeRecord(kBackPrm, pattern(24576, 5), 1001), int(OUT_OF_RANGE));
    QCOMPARE(c.writeRecord(kBackPrm, pattern(24576, 5), 1000), int(OK));
}

void tst_SimTcp::bracketAcrossConnections()
{
    RunningSim sim = startSim({});
    SimClient a, b;
    QVERIFY(a.connectTcp(sim.address));
    QVERIFY(b.connectTcp(sim.address));
    QCOMPARE(a.open(QStringLiteral("a")), int(OK));
    QCOMPARE(b.open(QStringLiteral("b")), int(OK));
    QCOMPARE(a.doSignal(0, 0), int(OK));
    QCOMPARE(b.doSignal(0, 0), int(DENIED));
    QVERIFY(b.readRecord(kRawCom));  // reads stay open
    QCOMPARE(b.writeRecord(kRawCom, pattern(256, 1), 128), int(DENIED));  // the completing chunk
    QCOMPARE(b.doSignal(1, 0), int(OK));
    QCOMPARE(b.writeRecord(kRawCom, pattern(256, 1)), int(DENIED));  // staging is denied too
    QCOMPARE(a.doSignal(0, 2), int(OK));
    QCOMPARE(b.writeRecord(kRawCom, pattern(256, 1)), int(OK));  // staged
    QCOMPARE(a.doSignal(0, 0), int(OK));
    QCOMPARE(b.doSignal(1, 1), int(DENIED));
    QCOMPARE(a.close(), int(OK));  // releases the bracket
    QCOMPARE(b.doSignal(1, 1), int(OK));  // the transaction stayed open
    QCOMPARE(a.open(QStringLiteral("a")), int(OK));
    QCOMPARE(a.readRecord(kRawCom), std::optional<QByteArray>(pattern(256, 1)));
}

void tst_SimTcp::droppedConnectionReleasesBracket()
{
    RunningSim sim = startSim({});
    SimClient a, b;
    QVERIFY(a.connectTcp(sim.address));
    QVERIFY(b.connectTcp(sim.address));
    QCOMPARE(a.open(), int(OK));
    QCOMPARE(b.open(), int(OK));
    QCOMPARE(b.doSignal(0, 0), int(OK));
    QCOMPARE(b.doSignal(1, 0), int(OK));
    QCOMPARE(b.writeRecord(kRawCom, pattern(256, 2)), int(OK));  // staged, never committed
    QCOMPARE(a.doSignal(0, 0), int(DENIED));
    b.disconnect();
    // The simulator notices the closed connection on its own time: ask until it has.
    bool taken = false;  // QTRY evaluates again at the end: keep the request from repeating
    QTRY_VERIFY_WITH_TIMEOUT(taken || (taken = a.doSignal(0, 0) == OK), 5000);
    QCOMPARE(a.readRecord(kRawCom), std::optional<QByteArray>(sim::defaultState().records.value(kRawCom)));
}

void tst_SimTcp::dropAt()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("req.log"));
    RunningSim sim = startSim({QStringLiteral("--fault"), QStringLiteral("drop-at=3"), QStringLiteral("--log"), log});
    SimClient a;
    QVERIFY(a.connectTcp(sim.address));
    QCOMPARE(a.open(), int(OK));           // 1
    QCOMPARE(a.doSignal(0, 0), int(OK));   // 2
    QVERIFY(!a.errorCode());               // 3: no answer, the connection closes
    QVERIFY(a.waitClosed());
    // The session ended with the connection: another one can take the bracket.
    SimClient b;
    QVERIFY(b.connectTcp(sim.address));
    QCOMPARE(b.open(), int(OK));
    bool taken = false;  // QTRY evaluates again at the end: keep the request from repeating
    QTRY_VERIFY_WITH_TIMEOUT(taken || (taken = b.doSignal(0, 0) == OK), 5000);
    QVERIFY(readSimLog(log).contains(QStringLiteral("1 2 READ_VALUE @ERROR_CODE -> (dropped)")));
}

void tst_SimTcp::stallAt()
{
    RunningSim sim = startSim({QStringLiteral("--fault"), QStringLiteral("stall-at=2"), QStringLiteral("--error-code"),
                               QStringLiteral("4")});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    c.setNextSeq(10);
    QCOMPARE(c.open(), int(OK));
    // Request 2 is never answered and not executed: the error code is still there.
    QVERIFY(c.send(11, EXECUTE, SimClient::executePayload(QStringLiteral("ClearError"), qint32(4))));
    QCOMPARE(answeredBefore(c, 12), QList<int>{});
    c.setNextSeq(13);
    QCOMPARE(c.errorCode(), std::optional<qint32>(4));
    // The client's retry of the stalled request is a new request and is executed.
    QVERIFY(c.send(11, EXECUTE, SimClient::executePayload(QStringLiteral("ClearError"), qint32(4))));
    const auto f = c.receive();
    QVERIFY(f);
    QCOMPARE(f->seq, quint16(11));
    QCOMPARE(int(f->code), int(OK));
}

void tst_SimTcp::corruptAt()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("req.log"));
    RunningSim sim = startSim({QStringLiteral("--fault"), QStringLiteral("corrupt-at=2"), QStringLiteral("--error-code"),
                               QStringLiteral("6"), QStringLiteral("--log"), log});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QCOMPARE(c.open(), int(OK));
    const QByteArray clear = SimClient::requestFrame(1, EXECUTE, SimClient::executePayload(QStringLiteral("ClearError"), qint32(6)));
    QVERIFY(c.sendRaw(clear));
    QVERIFY(c.sendRaw(clear));  // the retry a client sends after its time-out
    const auto f = c.receive();
    QVERIFY(f);
    QCOMPARE(f->seq, quint16(1));
    QCOMPARE(int(f->code), int(OK));  // executed once: a second execution would fail
    QCOMPARE(c.droppedFrames(), quint64(1));
    c.setNextSeq(2);
    QCOMPARE(c.errorCode(), std::optional<qint32>(0));
    const QStringList lines = readSimLog(log);
    QVERIFY(lines.contains(QStringLiteral("1 1 EXECUTE ClearError 6 -> OK (corrupted)")));
    QVERIFY(lines.contains(QStringLiteral("1 1 EXECUTE ClearError 6 -> OK (resent)")));
}

void tst_SimTcp::namedFaultsFromTheCommandLine()
{
    RunningSim sim = startSim({QStringLiteral("--error-code"), QStringLiteral("9"),
                               QStringLiteral("--fault"), QStringLiteral("short=@CNF_BACKPRM:23979"),
                               QStringLiteral("--fault"), QStringLiteral("fail-read=@CNF_RAW_COM"),
                               QStringLiteral("--fault"), QStringLiteral("fail-write=@DAT_OPTION"),
                               QStringLiteral("--fault"), QStringLiteral("deny-clear")});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QCOMPARE(c.open(), int(OK));
    const auto back = c.readRecord(kBackPrm);
    QVERIFY(back);
    QCOMPARE(back->size(), 23979);
    QCOMPARE(c.call(READ_RECORD, SimClient::readPayload(kRawCom, 0, 4))->code, quint8(FAILED));
    QCOMPARE(c.writeRecord(QStringLiteral("@DAT_OPTION"), pattern(384, 1)), int(FAILED));
    QCOMPARE(c.readRecord(QStringLiteral("@DAT_OPTION")),
             std::optional<QByteArray>(sim::defaultState().records.value(QStringLiteral("@DAT_OPTION"))));
    QCOMPARE(c.clearError(9), int(DENIED));
    QCOMPARE(c.errorCode(), std::optional<qint32>(9));
}

void tst_SimTcp::powerCutDuringCommit_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("applied");
    // Requests: 1 OPEN, 2 doSignal 1,0, 3 doSignal 0,0, 4 @CNF_RAW_COM, 5-10 @CNF_BACKPRM,
    // 11 doSignal 1,1 (commit).
    QTest::newRow("cut before the commit") << QStringLiteral("exit-at=11") << false;
    QTest::newRow("cut after the commit, before its answer") << QStringLiteral("exit-after-apply=11") << true;
    QTest::newRow("cut before the last chunk") << QStringLiteral("exit-at=10") << false;
}

void tst_SimTcp::powerCutDuringCommit()
{
    QFETCH(QString, fault);
    QFETCH(bool, applied);
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state.bin"));
    const QByteArray com = pattern(256, 8), back = pattern(24576, 9);
    {
        RunningSim sim = startSim({QStringLiteral("--state"), state, QStringLiteral("--fault"), fault});
        SimClient c;
        QVERIFY(c.connectTcp(sim.address));
        QCOMPARE(c.open(), int(OK));
        QCOMPARE(c.doSignal(1, 0), int(OK));
        QCOMPARE(c.doSignal(0, 0), int(OK));
        QCOMPARE(c.writeRecord(kRawCom, com), int(OK));
        const int last = c.writeRecord(kBackPrm, back);
        if (last == OK)
            QCOMPARE(c.doSignal(1, 1), -1);  // no answer: the process is gone
        QVERIFY(c.waitClosed());
        QVERIFY(sim.proc->process().waitForFinished(5000));
        QCOMPARE(sim.proc->process().exitCode(), 70);
    }
    const auto stored = readSimState(state);
    QVERIFY(stored);
    const sim::ControllerState disk = *stored;
    const sim::ControllerState fresh = sim::defaultState();
    QCOMPARE(disk.records.value(kRawCom), applied ? com : fresh.records.value(kRawCom));
    QCOMPARE(disk.records.value(kBackPrm), applied ? back : fresh.records.value(kBackPrm));

    // A restart with the same state file serves what was durable.
    RunningSim again = startSim({QStringLiteral("--state"), state});
    SimClient c;
    QVERIFY(c.connectTcp(again.address));
    QCOMPARE(c.open(), int(OK));
    QCOMPARE(c.readRecord(kRawCom), std::optional<QByteArray>(disk.records.value(kRawCom)));
    QCOMPARE(c.readRecord(kBackPrm), std::optional<QByteArray>(disk.records.value(kBackPrm)));
}

void tst_SimTcp::killWhileCommittingNeverMixes()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state.bin"));
    RunningSim sim = startSim({QStringLiteral("--state"), state});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QCOMPARE(c.open(), int(OK));
    // Commit the two records again and again, each time with a new generation in both,
    // and cut the power (SIGKILL) while a commit is in flight.
    int committed = 0;
    for (int gen = 1; gen <= 40; ++gen) {
        QCOMPARE(c.doSignal(1, 0), int(OK));
        QCOMPARE(c.writeRecord(kRawCom, pattern(256, gen)), int(OK));
        QCOMPARE(c.writeRecord(kBackPrm, pattern(24576, gen)), int(OK));
        if (gen == 40) {
            QVERIFY(c.send(c.nextSeq(), EXECUTE, SimClient::executePayload(QStringLiteral("doSignal"), QVector<qint16>{1, 1})));
            ::kill(pid_t(sim.proc->process().processId()), SIGKILL);
            break;
        }
        QCOMPARE(c.doSignal(1, 1), int(OK));
        committed = gen;
    }
    QVERIFY(sim.proc->process().waitForFinished(5000));
    sim::ControllerState disk;
    QVERIFY(sim::loadStateFile(state, &disk, nullptr));
    int genCom = -1, genBack = -1;
    for (int gen = committed; gen <= 40; ++gen) {
        if (disk.records.value(kRawCom) == pattern(256, gen))
            genCom = gen;
        if (disk.records.value(kBackPrm) == pattern(24576, gen))
            genBack = gen;
    }
    QVERIFY(genCom >= committed);
    QCOMPARE(genBack, genCom);  // never one record of one commit and one of another
}

void tst_SimTcp::errorCodeSurvivesRestart()
{
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state.bin"));
    {
        RunningSim sim = startSim({QStringLiteral("--state"), state, QStringLiteral("--error-code"), QStringLiteral("77")});
        QCOMPARE(sim.proc->stop(), 0);
    }
    RunningSim sim = startSim({QStringLiteral("--state"), state});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QCOMPARE(c.open(), int(OK));
    QCOMPARE(c.errorCode(), std::optional<qint32>(77));
    QCOMPARE(c.clearError(76), int(FAILED));
    QCOMPARE(c.clearError(77), int(OK));
    QCOMPARE(sim.proc->stop(), 0);
    sim::ControllerState disk;
    QVERIFY(sim::loadStateFile(state, &disk, nullptr));
    QCOMPARE(disk.errorCode, 0);
}

void tst_SimTcp::damagedStateFileIsAnError_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");  // in the simulator's message
    QTest::newRow("damaged") << "damaged" << "not a tolvane-sim state file";
    QTest::newRow("named pipe") << "fifo" << "not a regular file";
    QTest::newRow("folder") << "folder" << "not a regular file";
    QTest::newRow("link to /dev/zero") << "zero" << "not a regular file";
    QTest::newRow("sparse 1 GB file") << "sparse" << "larger than any state file";
    QTest::newRow("dangling link") << "dangling" << "leads nowhere";
    QTest::newRow("link loop") << "loop" << "leads nowhere";
}

// Whatever lies at the state path and is no state file stops the start at once with a
// reason, and is left exactly as it was.
void tst_SimTcp::damagedStateFileIsAnError()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString state = dir.filePath(QStringLiteral("state.bin"));
    const QByteArray path = QFile::encodeName(state);
    auto link = [&](const QByteArray& to) { return ::symlink(to.constData(), path.constData()) == 0; };
    QFile f(state);
    if (kind == QLatin1String("damaged")) {
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("TLVSIMST but not really");
        f.close();
    } else if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(state));
    } else if (kind == QLatin1String("zero")) {
        QVERIFY(link("/dev/zero"));
    } else if (kind == QLatin1String("sparse")) {
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(qint64(1) << 30));
        f.close();
    } else if (kind == QLatin1String("dangling")) {
        QVERIFY(link(QFile::encodeName(dir.filePath(QStringLiteral("missing.bin")))));
    } else {
        QVERIFY(link(path));
    }
    const QFileInfo before(state);
    SimProcess proc({QStringLiteral("--listen"), nextAddress(), QStringLiteral("--state"), state});
    QVERIFY(!proc.start());
    QCOMPARE(proc.process().state(), QProcess::NotRunning);
    QCOMPARE(proc.process().exitCode(), 1);
    QVERIFY2(proc.stderrText().contains(reason.toUtf8()), proc.stderrText().constData());
    const QFileInfo after(state);
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.symLinkTarget(), before.symLinkTarget());
    if (kind == QLatin1String("damaged")) {
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("TLVSIMST but not really"));
    }
    if (kind == QLatin1String("sparse"))
        QCOMPARE(after.size(), qint64(1) << 30);
}

// Sends bytes on a connection of its own from another thread, never reading: a client
// that floods, or one that pipelines requests and leaves the answers unread. With a
// probe, it then sends the probe request every 400 ms until an answer comes: the sign
// that the simulator has worked through the flood (the idle rule drops a probe that
// arrives while the flood's last headers still wait for their claimed length).
class Flooder {
public:
    Flooder(const QString& address, QByteArray bytes, QByteArray probe = {})
        : m_thread([address, bytes = std::move(bytes), probe = std::move(probe), this] {
              const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
              sockaddr_in to{};
              to.sin_family = AF_INET;
              to.sin_port = htons(kTcpPort);
              ::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr);
              if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
                  // A send that stalls (the simulator held back) ends with the test.
                  timeval t{0, 100000};
                  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
                  while (m_sent < bytes.size() && !m_stop) {
                      const ssize_t n = ::send(fd, bytes.constData() + m_sent, size_t(bytes.size() - m_sent), MSG_NOSIGNAL);
                      if (n > 0)
                          m_sent += n;
                      else if (errno != EAGAIN && errno != EINTR)
                          break;
                  }
                  m_done = true;
                  while (!probe.isEmpty() && !m_answered && !m_stop) {
                      ::send(fd, probe.constData(), size_t(probe.size()), MSG_NOSIGNAL);
                      pollfd p{fd, POLLIN, 0};
                      char answer[256];
                      if (::poll(&p, 1, 400) > 0 && ::recv(fd, answer, sizeof answer, 0) > 0)
                          m_answered = true;
                  }
                  while (!m_stop)
                      std::this_thread::yield();
              }
              m_done = true;
              ::close(fd);
          })
    {
    }
    ~Flooder()
    {
        m_stop = true;
        m_thread.join();
    }
    qsizetype sent() const { return m_sent; }  // so far
    bool done() const { return m_done; }       // all sent, or the connection failed
    bool answered() const { return m_answered; }
private:
    std::atomic<bool> m_stop{false}, m_done{false}, m_answered{false};
    std::atomic<qsizetype> m_sent{0};
    std::thread m_thread;
};

// Four connections that each send 2 MiB of headers claiming the largest payload, and one
// that pipelines 100,000 record reads without reading a single answer: a good client
// is served all the while, and the simulator's memory stays small.
void tst_SimTcp::hostileClientsCostNoMemory()
{
    RunningSim sim = startSim({});
    QVERIFY(sim.proc->running());
    QByteArray headers;
    while (headers.size() < 2 * 1024 * 1024)
        headers += QByteArray::fromHex("544c010100000100000010 00");
    const QByteArray probe = SimClient::requestFrame(0, OPEN, SimClient::strPayload(QStringLiteral("probe")));
    QByteArray pipeline = SimClient::requestFrame(0, OPEN, SimClient::strPayload(QStringLiteral("pipeline")));
    const QByteArray read = SimClient::requestFrame(1, READ_RECORD,
                                                    SimClient::readPayload(QStringLiteral("@CNF_BACKPRM"), 0, 4096));
    for (int i = 0; i < 100000; ++i)
        pipeline += read;
    std::vector<std::unique_ptr<Flooder>> flooders;
    for (int i = 0; i < 4; ++i)
        flooders.push_back(std::make_unique<Flooder>(sim.address, headers, probe));
    flooders.push_back(std::make_unique<Flooder>(sim.address, pipeline));

    SimClient good;
    QVERIFY(good.connectTcp(sim.address));
    QCOMPARE(good.open(), int(OK));
    // Served until the simulator has worked through every flood (each call waits 5 s
    // at most).
    int rounds = 0;
    QDeadlineTimer bound(60000);
    while (!std::all_of(flooders.begin(), flooders.end() - 1, [](const auto& f) { return f->answered(); })
           || rounds < 3) {
        QVERIFY(!bound.hasExpired());
        const auto record = good.readRecord(QStringLiteral("@CNF_BACKPRM"));
        QVERIFY(record);
        QCOMPARE(record->size(), 24576);
        ++rounds;
    }
    for (int i = 0; i < 4; ++i)
        QCOMPARE(flooders[size_t(i)]->sent(), headers.size());
    // The pipeline: held back once its first answers fill the line, long before the end.
    QTRY_VERIFY_WITH_TIMEOUT(flooders.back()->sent() > 1024 * 1024, 20000);
    qsizetype last = -1;
    while (last != flooders.back()->sent() && !flooders.back()->done()) {
        last = flooders.back()->sent();
        QTest::qWait(300);
    }
    const qint64 peak = ProcStatusKb(sim.proc->process().processId(), "VmHWM");
    QVERIFY(peak > 0);
    qInfo("simulator peak %lld KiB after %d reads served during the floods", peak, rounds);
    QVERIFY2(peak < 64 * 1024 * kMemoryScale, qPrintable(QStringLiteral("%1 KiB").arg(peak)));
}

// Sixty idle connections against a simulator that may open 32 descriptors, or hold 8
// connections: it closes the longest idle ones instead of spinning on failed accepts,
// and a real client is served. Before, it burnt a core and refused everyone.
void tst_SimTcp::idleConnectionsPastTheLimits_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("descriptors");  // the simulator's RLIMIT_NOFILE, 0: as it is
    QTest::newRow("out of descriptors") << QStringList{} << 32;
    QTest::newRow("connection bound") << QStringList{QStringLiteral("--max-connections"), QStringLiteral("8")} << 0;
}

void tst_SimTcp::idleConnectionsPastTheLimits()
{
    QFETCH(QStringList, options);
    QFETCH(int, descriptors);
    // The sanitizers' runtime opens a pipe to check a call, and finds no descriptor left.
    if (descriptors > 0 && kMemoryScale > 1)
        QSKIP("the sanitizer build cannot run out of descriptors");
    const QString address = nextAddress();
    SimProcess sim(QStringList{QStringLiteral("--listen"), address} + options);
    sim.process().setChildProcessModifier([descriptors] {
        const rlimit limit{rlim_t(descriptors), rlim_t(descriptors)};
        if (descriptors > 0)
            ::setrlimit(RLIMIT_NOFILE, &limit);
    });
    QVERIFY(sim.start());
    std::vector<std::unique_ptr<QTcpSocket>> idle(60);
    for (auto& s : idle) {
        s = std::make_unique<QTcpSocket>();
        s->connectToHost(address, kTcpPort);
        QVERIFY(s->waitForConnected(10000));
    }
    const qint64 pid = sim.process().processId(), cpuBefore = ProcCpuMs(pid);
    SimClient good;
    QVERIFY(good.connectTcp(address));
    QCOMPARE(good.open(), int(OK));
    QTest::qWait(1000);  // an observation window while the idle connections stay
    const qint64 cpu = ProcCpuMs(pid) - cpuBefore;
    QVERIFY2(cpu < 250, qPrintable(QStringLiteral("%1 ms of processor time in a second").arg(cpu)));
    QVERIFY(good.readRecord(kRawCom));
    // Eight connections and the simulator's own dozen descriptors at the most.
    QVERIFY(descriptors > 0 || QDir(QStringLiteral("/proc/%1/fd").arg(pid)).count() <= 2 + 8 + 12);
}

// A state file reached through a link is written where the link points; the link stays.
void tst_SimTcp::stateThroughLinkKeepsLink()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("real.bin"));
    const QString state = dir.filePath(QStringLiteral("state.bin"));
    QVERIFY(QFile::link(target, state));
    // A link to a file not there yet leads nowhere: refused.
    {
        SimProcess proc({QStringLiteral("--listen"), nextAddress(), QStringLiteral("--state"), state});
        QVERIFY(!proc.start());
    }
    QVERIFY(sim::saveStateFile(target, sim::defaultState(), nullptr));
    RunningSim sim = startSim({QStringLiteral("--state"), state, QStringLiteral("--error-code"), QStringLiteral("9")});
    QVERIFY(sim.proc->running());
    QVERIFY(QFileInfo(state).isSymLink());
    const auto stored = readSimState(target);
    QVERIFY(stored);
    QCOMPARE(stored->errorCode, 9);
}

void tst_SimTcp::requestLog()
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("req.log"));
    RunningSim sim = startSim({QStringLiteral("--log"), log, QStringLiteral("--error-code"), QStringLiteral("3")});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QVERIFY(c.errorCode() == std::nullopt);  // NOT_OPEN
    QCOMPARE(c.open(QStringLiteral("wizard")), int(OK));
    QCOMPARE(c.doSignal(1, 0), int(OK));
    QCOMPARE(c.writeRecord(kRawCom, pattern(256, 4)), int(OK));
    QVERIFY(c.send(4, READ_RECORD, SimClient::readPayload(kBackPrm, 4096, 4096)));
    QVERIFY(c.receive());
    c.setNextSeq(5);
    QCOMPARE(c.clearError(2), int(FAILED));
    QVERIFY(c.send(5, EXECUTE, SimClient::executePayload(QStringLiteral("ClearError"), qint32(2))));
    QVERIFY(c.receive());
    c.setNextSeq(6);
    QVERIFY(c.send(6, 0x55, {}));
    QVERIFY(c.receive());
    c.setNextSeq(7);
    QCOMPARE(c.close(), int(OK));
    SimClient d;
    QVERIFY(d.connectTcp(sim.address));
    QCOMPARE(d.open(QStringLiteral("other")), int(OK));
    const QStringList expected = {
        QStringLiteral("1 0 READ_VALUE @ERROR_CODE -> NOT_OPEN"),
        QStringLiteral("1 1 OPEN wizard -> OK"),
        QStringLiteral("1 2 EXECUTE doSignal 1,0 -> OK"),
        QStringLiteral("1 3 WRITE_RECORD @CNF_RAW_COM 0+256/256 -> OK"),
        QStringLiteral("1 4 READ_RECORD @CNF_BACKPRM 4096+4096 -> OK"),
        QStringLiteral("1 5 EXECUTE ClearError 2 -> FAILED"),
        QStringLiteral("1 5 EXECUTE ClearError 2 -> FAILED (resent)"),
        QStringLiteral("1 6 OP_0x55 -> UNSUPPORTED"),
        QStringLiteral("1 7 CLOSE -> OK"),
        QStringLiteral("2 0 OPEN other -> OK"),
    };
    QCOMPARE(readSimLog(log), expected);
}

void tst_SimTcp::signalsEndCleanly_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void tst_SimTcp::signalsEndCleanly()
{
    QFETCH(int, signal);
    RunningSim sim = startSim({});
    SimClient c;
    QVERIFY(c.connectTcp(sim.address));
    QCOMPARE(c.open(), int(OK));
    ::kill(pid_t(sim.proc->process().processId()), signal);
    QVERIFY(sim.proc->process().waitForFinished(5000));
    QCOMPARE(sim.proc->process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.proc->process().exitCode(), 0);
}

void tst_SimTcp::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("no transport") << QStringList{};
    QTest::newRow("two transports") << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.1.9"),
                                                   QStringLiteral("--pty"), QStringLiteral("/tmp/x")};
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.1.9"), QStringLiteral("--fast")};
    QTest::newRow("bad fault") << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.1.9"),
                                              QStringLiteral("--fault"), QStringLiteral("drop-at=0")};
    QTest::newRow("bad address") << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.1")};
    QTest::newRow("bad port") << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.1.9:70000")};
    QTest::newRow("missing value") << QStringList{QStringLiteral("--listen")};
    QTest::newRow("short of unknown record") << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.1.9"),
                                                            QStringLiteral("--fault"), QStringLiteral("short=@NOPE:10")};
    QTest::newRow("cell with one state file") << QStringList{"--listen", "127.0.1.9-127.0.1.10", "--state", "/tmp/x"};
    QTest::newRow("cell of 1025") << QStringList{"--listen", "127.0.1.0-127.0.5.0"};
    QTest::newRow("cell downwards") << QStringList{"--listen", "127.0.1.10-127.0.1.9"};
    QTest::newRow("state folder missing") << QStringList{"--listen", "127.0.1.9", "--state-dir", "/nonexistent/x"};
    QTest::newRow("following on a line") << QStringList{"--pty", "/tmp/x", "--follow-address"};
    QTest::newRow("pty at no terminal rate") << QStringList{"--pty", "/tmp/tolvane-x", "--baud", "12345"};
}

void tst_SimTcp::commandLine()
{
    QFETCH(QStringList, args);
    const ToolRun r = RunTool(QStringLiteral("tolvane-sim"), args);
    QVERIFY(r.exitCode > 0);  // refused, not crashed
    QVERIFY(!r.err.isEmpty());
    QVERIFY(!r.out.contains("ready"));
}

void tst_SimTcp::helpDocumentsEverything()
{
    const ToolRun r = RunTool(QStringLiteral("tolvane-sim"), {QStringLiteral("--help")});
    QCOMPARE(r.exitCode, 0);
    const QByteArray& help = r.out;
    for (const char* word : {"--listen", "--pty", "--serial", "--baud", "--state", "--error-code", "--pace",
                             "--max-chunk", "--log", "--verbose", "--fault", "drop-at=", "stall-at=", "corrupt-at=",
                             "exit-at=", "exit-after-apply=", "freeze-at=", "short=", "fail-read=", "fail-write=",
                             "deny-clear", "(resent)", "normally OPEN, is 1"})
        QVERIFY2(help.contains(word), word);
}

QTEST_GUILESS_MAIN(tst_SimTcp)
#include "tst_sim_tcp.moc"
