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

class View : public ControllerView {
public:
    bool ethernet = true;
    std::array<quint8, 4> address{127, 0, 2, 250};
    int port = 1, baud = 38400;
    bool EthernetSelected() const override { return ethernet; }
    std::array<quint8, 4> ConnectAddress() const override { return address; }
    std::optional<int> PortNumber() const override { return port; }
    std::optional<int> BaudRate() const override { return baud; }
    std::optional<int> ParityPosition() const override { return 1; }
    std::optional<int> DataLength() const override { return 8; }
    std::optional<QString> StopBitText() const override { return QStringLiteral("1"); }
    int DevicePosition() const override { return 0; }
};

void measure(const char* what, View& view, int rounds)
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
            View view;
            measure("TCP read of both records", view, rounds);
        }
    }
    for (int baud : {115200, 38400}) {
        const QString link = config.filePath(QStringLiteral("Tolvane/ports/com9"));
        SimProcess sim({QStringLiteral("--pty"), link, QStringLiteral("--pace"), QString::number(baud)});
        if (!sim.start())
            continue;
        View view;
        view.ethernet = false;
        view.port = 9;
        view.baud = baud;
        const QByteArray what = QStringLiteral("pty at %1 baud, read of both records").arg(baud).toUtf8();
        // The paced line is slow: fewer rounds.
        measure(what.constData(), view, std::max(1, rounds / 10));
    }
    return 0;
}
