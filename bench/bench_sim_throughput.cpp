// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// How fast the controller simulator serves the wizard's two records: in-process (the
// protocol engine alone), over TCP on 127.0.1.250 and over a pseudo-terminal paced to
// 38400 and 115200 baud. Prints one line per case; it asserts nothing.
//
//   bench_sim_throughput [ROUNDS]      (TOLVANE_BIN_DIR: folder of tolvane-sim)

#include "protocol/protocol.h"
#include "sim/simcontroller.h"
#include "tests/support/simclient.h"
#include "tests/support/simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace proto;

namespace {

const QString kRawCom = QStringLiteral("@CNF_RAW_COM");
const QString kBackPrm = QStringLiteral("@CNF_BACKPRM");

void report(const char* what, int rounds, qint64 bytes, qint64 ns)
{
    const double s = double(ns) / 1e9;
    std::printf("%-34s %4d rounds  %8.1f ms/round  %10.1f kB/s\n", what, rounds, s * 1000 / rounds,
                double(bytes) / s / 1e3);
}

void inProcess(int rounds)
{
    sim::SimController ctl(sim::SimConfig{});
    if (!ctl.start(std::nullopt, nullptr))
        return;
    const int conn = ctl.attach();
    quint16 seq = 0;
    auto call = [&](quint8 op, const QByteArray& payload) {
        Frame f;
        f.seq = seq++;
        f.code = op;
        f.payload = payload;
        return ctl.handle(conn, f, 0);
    };
    call(OPEN, SimClient::strPayload(QStringLiteral("bench")));
    qint64 bytes = 0;
    QElapsedTimer t;
    t.start();
    for (int r = 0; r < rounds; ++r) {
        for (const auto& [name, size] : {std::pair{kRawCom, 256u}, std::pair{kBackPrm, 24576u}}) {
            for (quint32 off = 0; off < size; off += 4096)
                bytes += call(READ_RECORD, SimClient::readPayload(name, off, qMin(4096u, size - off))).bytes.size();
        }
    }
    report("in-process read of both records", rounds, bytes, t.nsecsElapsed());
}

void overLink(const char* what, const QStringList& args, bool pty, const QString& where, int rounds)
{
    SimProcess sim(args);
    if (!sim.start()) {
        std::printf("%-34s could not start tolvane-sim\n", what);
        return;
    }
    SimClient c;
    if (!(pty ? c.openPty(where) : c.connectTcp(where)) || c.open() != OK) {
        std::printf("%-34s could not connect\n", what);
        return;
    }
    qint64 bytes = 0;
    QElapsedTimer t;
    t.start();
    for (int r = 0; r < rounds; ++r) {
        for (const QString& name : {kRawCom, kBackPrm}) {
            const auto rec = c.readRecord(name);
            if (!rec) {
                std::printf("%-34s read failed\n", what);
                return;
            }
            bytes += rec->size();
        }
    }
    report(what, rounds, bytes, t.nsecsElapsed());
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsEmpty("TOLVANE_BIN_DIR"))
        qputenv("TOLVANE_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    const int rounds = argc > 1 ? qMax(1, QByteArray(argv[1]).toInt()) : 50;
    inProcess(rounds * 20);
    overLink("TCP read of both records", {QStringLiteral("--listen"), QStringLiteral("127.0.1.250")}, false,
             QStringLiteral("127.0.1.250"), rounds);
    QTemporaryDir dir;
    for (int baud : {115200, 38400}) {
        const QString link = dir.filePath(QStringLiteral("ttyBENCH%1").arg(baud));
        const QByteArray what = QStringLiteral("pty at %1 baud, both records").arg(baud).toLatin1();
        overLink(what.constData(), {QStringLiteral("--pty"), link, QStringLiteral("--pace"), QString::number(baud)},
                 true, link, 1);
    }
    return 0;
}
