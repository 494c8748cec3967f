// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// What a start-up benchmark's child reports once its window is on the screen: the time
// since its process started and its peak resident memory, both as the kernel counts them.

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace startup {

// Milliseconds since the process started: the monotonic clock now minus the start time
// the kernel keeps for the process.
inline qint64 processAgeMs()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = stat.readAll().split(')').last().trimmed().split(' ');
    const double startTicks = fields.value(19).toDouble();  // field 22 of the whole line
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = double(now.tv_sec) * 1000.0 + double(now.tv_nsec) / 1e6;
    return qint64(nowMs - startTicks * 1000.0 / double(::sysconf(_SC_CLK_TCK)));
}

// Peak resident memory in KiB. VmHWM, not getrusage: ru_maxrss survives exec and would
// show the parent's peak.
inline qint64 peakKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& l : status.readAll().split('\n'))
            if (l.startsWith("VmHWM:"))
                return l.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Shows the window, waits (at most 10 s) until the window system has exposed it and it
// has painted once, then prints "<age ms> <peak KiB>".
inline void showAndReport(QWidget& w)
{
    w.show();
    QElapsedTimer bound;
    bound.start();
    while (!(w.windowHandle() && w.windowHandle()->isExposed()) && bound.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QApplication::processEvents();
    std::printf("%lld %lld\n", qlonglong(processAgeMs()), qlonglong(peakKb()));
    std::fflush(stdout);
    // Where the memory is, mapping by mapping, for a closer look (scripts/bench --memory).
    const QByteArray smaps = qgetenv("BENCH_STARTUP_SMAPS");
    if (!smaps.isEmpty()) {
        QFile in(QStringLiteral("/proc/self/smaps")), out(QFile::decodeName(smaps));
        if (in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly))
            out.write(in.readAll());
    }
}

}  // namespace startup
