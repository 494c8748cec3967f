// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The real tolvane-sim on a serial line: its own pseudo-terminal (--pty), an existing
// tty (--serial), pacing to the speed of a real line, and line-specific faults.

#include "sim/simstate.h"
#include "tests/support/simclient.h"
#include "tests/support/simprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace proto;

namespace {

const QString kRawCom = QStringLiteral("@CNF_RAW_COM");
const QString kBackPrm = QStringLiteral("@CNF_BACKPRM");

QByteArray errorCodeRequest(quint16 seq)
{
    return SimClient::requestFrame(seq, READ_VALUE, SimClient::strPayload(QStringLiteral("@ERROR_CODE")));
}

}  // namespace

class tst_SimPty : public QObject {
    Q_OBJECT
private slots:
    void recordsOverPty();
    void pacedTransferTakesTheLineTime_data();
    void pacedTransferTakesTheLineTime();
    void dropAtEndsTheSessionSilently();
    void idleLineDropsPartialFrame();
    void serialDevice();
    void linkPathTaken();
};

void tst_SimPty::recordsOverPty()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttySIM"));
    SimProcess sim({QStringLiteral("--pty"), link});
    QVERIFY(sim.start());
    QVERIFY(QFileInfo(link).isSymLink());
    SimClient c;
    QVERIFY(c.openPty(link));
    QCOMPARE(c.open(), int(OK));
    QCOMPARE(c.readRecord(kRawCom), std::optional<QByteArray>(sim::defaultState().records.value(kRawCom)));
    QByteArray next = sim::defaultState().records.value(kRawCom);
    next[48] = char(0x00);  // 115200 baud
    next[49] = char(0xC2);
    next[50] = char(0x01);
    QCOMPARE(c.writeRecord(kRawCom, next), int(OK));
    QCOMPARE(c.readRecord(kRawCom), std::optional<QByteArray>(next));
    // A second client on the same line replaces the session with its OPEN.
    SimClient again;
    QVERIFY(again.openPty(link));
    again.setNextSeq(100);
    QCOMPARE(again.open(), int(OK));
    QCOMPARE(again.close(), int(OK));
    QCOMPARE(sim.stop(), 0);
    QVERIFY(!QFileInfo(link).isSymLink());  // removed at exit
}

void tst_SimPty::pacedTransferTakesTheLineTime_data()
{
    QTest::addColumn<int>("baud");
    QTest::newRow("230400") << 230400;
    QTest::newRow("460800") << 460800;
}

void tst_SimPty::pacedTransferTakesTheLineTime()
{
    QFETCH(int, baud);
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyPACE"));
    SimProcess sim({QStringLiteral("--pty"), link, QStringLiteral("--pace"), QString::number(baud)});
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.openPty(link));
    QCOMPARE(c.open(), int(OK));
    QElapsedTimer t;
    t.start();
    const auto back = c.readRecord(kBackPrm);
    const qint64 ms = t.elapsed();
    QVERIFY(back);
    QCOMPARE(back->size(), 24576);
    // The record's bytes alone need this long on a real line (10 bits a byte); frame
    // overhead only adds to it. Only a lower bound: a slow machine may take longer.
    const qint64 lineMs = qint64(24576) * 10 * 1000 / baud;
    QVERIFY2(ms >= lineMs, qPrintable(QStringLiteral("%1 ms < %2 ms").arg(ms).arg(lineMs)));
}

void tst_SimPty::dropAtEndsTheSessionSilently()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyDROP"));
    const QString log = dir.filePath(QStringLiteral("req.log"));
    SimProcess sim({QStringLiteral("--pty"), link, QStringLiteral("--fault"), QStringLiteral("drop-at=2"),
                    QStringLiteral("--log"), log});
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.openPty(link));
    QCOMPARE(c.open(), int(OK));
    QVERIFY(c.sendRaw(errorCodeRequest(1)));  // 2: dropped, never answered
    QVERIFY(c.sendRaw(errorCodeRequest(2)));  // 3: the session is gone
    const auto f = c.receive();
    QVERIFY(f);
    QCOMPARE(f->seq, quint16(2));
    QCOMPARE(int(f->code), int(NOT_OPEN));
    QCOMPARE(readSimLog(log).value(1), QStringLiteral("1 1 READ_VALUE @ERROR_CODE -> (dropped)"));
}

void tst_SimPty::idleLineDropsPartialFrame()
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("ttyIDLE"));
    SimProcess sim({QStringLiteral("--pty"), link, QStringLiteral("--verbose")});
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.openPty(link));
    QCOMPARE(c.open(), int(OK));
    QVERIFY(c.sendRaw(SimClient::craftFrame(1, 1, 7, READ_VALUE, 0, 500000, QByteArray(8, 'p')).left(20)));
    QByteArray err;
    QTRY_VERIFY_WITH_TIMEOUT((err += sim.stderrText()).contains("line idle"), 5000);
    QVERIFY(c.sendRaw(errorCodeRequest(8)));
    const auto f = c.receive();
    QVERIFY(f);
    QCOMPARE(f->seq, quint16(8));
    QCOMPARE(int(f->code), int(OK));
}

void tst_SimPty::serialDevice()
{
    PtyPair pair;
    QVERIFY(pair.ok());
    SimProcess sim({QStringLiteral("--serial"), pair.slavePath(), QStringLiteral("--baud"), QStringLiteral("115200")});
    QVERIFY(sim.start());
    SimClient c;
    QVERIFY(c.openFd(pair.masterFd()));
    QCOMPARE(c.open(), int(OK));
    QCOMPARE(c.readRecord(kRawCom), std::optional<QByteArray>(sim::defaultState().records.value(kRawCom)));
    QCOMPARE(sim.stop(), 0);
}

void tst_SimPty::linkPathTaken()
{
    QTemporaryDir dir;
    const QString taken = dir.filePath(QStringLiteral("plainfile"));
    QFile f(taken);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("keep me");
    f.close();
    SimProcess sim({QStringLiteral("--pty"), taken});
    QVERIFY(!sim.start());
    QVERIFY(sim.process().exitCode() != 0);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("keep me"));
}

QTEST_GUILESS_MAIN(tst_SimPty)
#include "tst_sim_pty.moc"
