// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Memory of a running process as Linux counts it, for tests that pin a bound.

#include <QFile>

#include <unistd.h>

// How much more memory a process of the sanitizer build holds for the same work (shadow
// memory, freed blocks kept in quarantine): memory bounds of tests are scaled by it.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr qint64 kMemoryScale = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr qint64 kMemoryScale = 4;
#else
inline constexpr qint64 kMemoryScale = 1;
#endif
#else
inline constexpr qint64 kMemoryScale = 1;
#endif

// A field of /proc/PID/status in KiB ("VmRSS", "VmHWM"); -1 when the process is gone.
inline qint64 ProcStatusKb(qint64 pid, const char* field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Processor time a process has used so far (user and system), in milliseconds; -1 when
// the process is gone.
inline qint64 ProcCpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command's closing parenthesis; utime and stime are the 12th
    // and 13th of them, in clock ticks.
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    const long tick = ::sysconf(_SC_CLK_TCK);
    if (fields.size() < 13 || tick <= 0)
        return -1;
    return (fields[11].toLongLong() + fields[12].toLongLong()) * 1000 / tick;
}
