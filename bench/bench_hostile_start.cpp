// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// Starts the wizard with a hostile file where its settings file (tolvane.ini) or its
// language module (LangRes.dll, beside the executable) belongs, once per case, each in
// a process of its own (a copy of this program named "tolvane" in a scratch folder),
// offscreen. Prints, per case, the time from the process start to the shown window,
// the process's peak resident memory, and the window's title and first button, which
// show whether the program's own English texts served.
#include "app/frmMain.h"
#include "bench/startupreport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtEndian>

#include <cstdio>
#include <cstring>
#include <functional>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int child(int argc, char** argv)
{
    QApplication app(argc, argv);
    frmMain w;
    w.show();
    QApplication::processEvents();
    const auto* title = w.findChild<QLabel*>(QStringLiteral("lblTitle"));
    const auto* next = w.findChild<QAbstractButton*>(QStringLiteral("cmdNext"));
    std::printf("%lld %lld \"%s\" \"%s\"\n", qlonglong(startup::processAgeMs()), qlonglong(startup::peakKb() / 1024),
                title ? qPrintable(title->text()) : "", next ? qPrintable(next->text()) : "");
    return 0;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "--child")
        return child(argc, argv);

    QCoreApplication app(argc, argv);
    const QByteArray good = readFile(QStringLiteral(TOLVANE_GOOD_MODULE));
    struct Case {
        const char* name;
        std::function<bool(const QString& ini, const QString& module)> make;
    };
    // The first section's data said to lie far past the end of the file.
    QByteArray outside = good;
    if (outside.size() > 0x200) {
        const quint32 pe = qFromLittleEndian<quint32>(outside.constData() + 0x3C);
        const quint16 optional = qFromLittleEndian<quint16>(outside.constData() + pe + 20);
        qToLittleEndian<quint32>(0x7FFF0000u, outside.data() + pe + 24 + optional + 20);
    }
    const QList<Case> cases{
        {"nothing there (baseline)", [](const QString&, const QString&) { return true; }},
        {"LangRes.dll cut to 2,200 bytes", [&](const QString&, const QString& m) { return writeFile(m, good.left(2200)); }},
        {"LangRes.dll with section data past its end", [&](const QString&, const QString& m) { return writeFile(m, outside); }},
        {"LangRes.dll of 200 MB", [&](const QString&, const QString& m) {
             QFile f(m);
             return f.open(QIODevice::WriteOnly) && f.write(good) == good.size() && f.resize(200 << 20);
         }},
        {"LangRes.dll a named pipe", [](const QString&, const QString& m) { return ::mkfifo(QFile::encodeName(m), 0600) == 0; }},
        {"LangRes.dll a folder", [](const QString&, const QString& m) { return QDir().mkdir(m); }},
        {"tolvane.ini of 100 MB empty lines", [](const QString& i, const QString&) { return writeFile(i, QByteArray(100 << 20, '\n')); }},
        {"tolvane.ini with one 10 MB line", [](const QString& i, const QString&) { return writeFile(i, "[LangID]\nID=1041\n" + QByteArray(10 << 20, 'x')); }},
        {"tolvane.ini with binary bytes", [](const QString& i, const QString&) { return writeFile(i, QByteArray("[LangID]\nID=1041\n\0\xff\xfe\x80[=\r", 16) + QByteArray(65536, '\0')); }},
        {"tolvane.ini a named pipe", [](const QString& i, const QString&) { return ::mkfifo(QFile::encodeName(i), 0600) == 0; }},
    };
    QTextStream out(stdout);
    out << "| case | start to window (ms) | peak memory (MB) | title | Next |\n|---|---|---|---|---|\n";
    for (const Case& c : cases) {
        QTemporaryDir dir;
        const QString exe = dir.filePath(QStringLiteral("tolvane"));
        QDir().mkpath(dir.filePath(QStringLiteral("config/Tolvane")));
        if (!QFile::copy(QCoreApplication::applicationFilePath(), exe)
            || !c.make(dir.filePath(QStringLiteral("config/Tolvane/tolvane.ini")), dir.filePath(QStringLiteral("LangRes.dll")))) {
            out << "| " << c.name << " | could not be set up | | | |\n";
            continue;
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("LANG"), QStringLiteral("en_US.UTF-8"));
        p.setProcessEnvironment(env);
        p.start(exe, {QStringLiteral("--child")});
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
            out << "| " << c.name << " | no window within 20 s | | | |\n";
            continue;
        }
        const QList<QByteArray> r = p.readAllStandardOutput().trimmed().split(' ');
        const QString all = QString::fromUtf8(r.mid(2).join(' '));
        out << "| " << c.name << " | " << r.value(0) << " | " << r.value(1) << " | " << all << " |\n";
        out.flush();
    }
    return 0;
}
