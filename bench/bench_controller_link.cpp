// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// How long the wizard's ReadCommSettings(true) takes (the doSignal bracket, "@CNF_RAW_COM"
// and "@CNF_BACKPRM" in 4096-byte chunks) through CommLink and the real simulator: over
// TCP on 127.0.2.250 and over a pseudo-terminal paced to 38400 and 115200 baud.
// Prints one line per case; it asserts nothing.
//
//   bench_controller_link [ROUNDS]      (TOLVANE_BIN_DIR: folder of tolvane-sim)

#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "tests/support/simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// The wizard's first page: Ethernet on 127.0.2.250, or COM9 at 38400 8N1.
ControllerSelections connectionPage()
{
    ControllerSelections view;
    view.address = {127, 0, 2, 250};
    view.port = 1;
    view.baud = 38400;
    view.parity = 1;
    view.dataLength = 8;
    view.stopBit = QStringLiteral("1");
    view.device = 0;
    return view;
}

void measure(const char* what, ControllerSelections& view, int rounds)
{
    CommLink link(view);
    if (!link.ConnectController()) {
        std::printf("%-40s connect failed\n", what);
        return;
    }
    QElapsedTimer t;
    t.start();
    int ok = 0;
    for (int r = 0; r < rounds; ++r)
        ok += link.ReadCommSettings(true) ? 1 : 0;
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const qint64 bytes = qint64(link.keptValue(QStringLiteral("@CNF_RAW_COM")).size()
                                + link.keptValue(QStringLiteral("@CNF_BACKPRM")).size()) * rounds;
    std::printf("%-40s %3d/%3d rounds  %8.1f ms/round  %9.1f kB/s\n", what, ok, rounds, ms / rounds,
                double(bytes) / (ms / 1000) / 1e3);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QDir().mkpath(config.filePath(QStringLiteral("Tolvane/ports")));

    {
        SimProcess sim({QStringLiteral("--listen"), QStringLiteral("127.0.2.250")});
        if (sim.start()) {
            ControllerSelections view = connectionPage();
            measure("TCP read of both records", view, rounds);
        }
    }
    for (int baud : {115200, 38400}) {
        const QString link = config.filePath(QStringLiteral("Tolvane/ports/com9"));
        SimProcess sim({QStringLiteral("--pty"), link, QStringLiteral("--pace"), QString::number(baud)});
        if (!sim.start())
            continue;
        ControllerSelections view = connectionPage();
        view.ethernet = false;
        view.port = 9;
        view.baud = baud;
        const QByteArray what = QStringLiteral("pty at %1 baud, read of both records").arg(baud).toUtf8();
        // The paced line is slow: fewer rounds.
        measure(what.constData(), view, std::max(1, rounds / 10));
    }
    return 0;
}
