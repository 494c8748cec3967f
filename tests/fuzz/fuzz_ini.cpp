// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The settings file reader and writer over any file content: reads never fail hard, and
// a write keeps every line it does not touch byte for byte and reads back as written.
#include "settings/inifile.h"

#include <QDir>
#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // In memory where the system has a tmpfs: every input is written as a file.
    static const QString folder = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static const QString path = QDir(folder).filePath(QStringLiteral("tolvane-fuzz-ini-%1.ini").arg(::getpid()));
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
            std::abort();
    }
    IniFile ini(path);
    const QStringList sections = ini.sectionNames();
    for (const QString& s : sections.mid(0, 4)) {
        ini.value(s, QStringLiteral("ID"));
        ini.value(s, QStringLiteral("Port"));
    }
    if (ini.setValue(QStringLiteral("LangID"), QStringLiteral("ID"), QStringLiteral("1041"))) {
        if (ini.value(QStringLiteral("LangID"), QStringLiteral("ID")) != QStringLiteral("1041"))
            std::abort();
    }
    ini.removeKey(QStringLiteral("LangID"), QStringLiteral("ID"));
    if (!sections.isEmpty())
        ini.removeSection(sections.first());
    return 0;
}
