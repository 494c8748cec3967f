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

// Processor time a process has used so far (user and system, the 14th and 15th fields
// of /proc/PID/stat, after the command's parentheses), in milliseconds.
inline qint64 ProcCpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    const QByteArray stat = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) * 1000 / ::sysconf(_SC_CLK_TCK);
}
