// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard's start against a bare Qt program that shows an empty window: the time
// from process start to the window on the screen, and peak resident memory, each the
// median of its runs, the two programs started in turn so that both see the machine as
// it is. Runs on the display it is given (scripts/bench gives it a virtual X server).
//
//   bench_startup [RUNS]
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "bench/benchsupport.h"

#include <cstdio>

namespace {

struct Sample {
    QList<double> ms, mb;
};

bool runOnce(const QString& exe, const QString& configDir, Sample& into)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configDir);
    p.setProcessEnvironment(env);
    p.start(exe, {});
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    const QList<QByteArray> r = p.readAllStandardOutput().trimmed().split(' ');
    if (p.exitCode() != 0 || r.size() != 2)
        return false;
    into.ms << r[0].toDouble();
    into.mb << r[1].toDouble() / 1024.0;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 15;
    const QString dir = QCoreApplication::applicationDirPath();
    QTemporaryDir english, japanese;
    QDir().mkpath(japanese.filePath(QStringLiteral("Tolvane")));
    QFile ini(japanese.filePath(QStringLiteral("Tolvane/tolvane.ini")));
    if (!ini.open(QIODevice::WriteOnly) || ini.write("[LangID]\nID=1041\n") < 0)
        return 1;
    ini.close();

    struct Case {
        const char* name;
        QString exe, config;
        Sample s;
    };
    QList<Case> cases{{"bare Qt window (floor)", dir + QStringLiteral("/bench_startup_bare"), english.path(), {}},
                      {"wizard, English", dir + QStringLiteral("/bench_startup_wizard"), english.path(), {}},
                      {"wizard, Japanese", dir + QStringLiteral("/bench_startup_wizard"), japanese.path(), {}}};
    for (int r = 0; r < runs; ++r)
        for (Case& c : cases)
            if (!runOnce(c.exe, c.config, c.s)) {
                std::fprintf(stderr, "bench_startup: %s did not report\n", c.name);
                return 1;
            }
    const double floorMs = Median(cases[0].s.ms), floorMb = Median(cases[0].s.mb);
    std::printf("| program | start to window, median (ms) | time / floor | peak memory, median (MB) "
                "| memory / floor | runs | goal |\n|---|---|---|---|---|---|---|\n");
    for (const Case& c : cases) {
        const double ms = Median(c.s.ms), mb = Median(c.s.mb);
        const bool floor = &c == &cases.first();
        const char* goal = floor ? "" : ms / floorMs > 1.5 ? (mb / floorMb > 1.3 ? "time MISSED, memory MISSED" : "time MISSED, memory met")
                                                          : (mb / floorMb > 1.3 ? "time met, memory MISSED" : "time met, memory met");
        std::printf("| %s | %.0f | %.2f | %.1f | %.2f | %d | %s |\n", c.name, ms, ms / floorMs, mb, mb / floorMb, runs, goal);
    }
    return 0;
}
