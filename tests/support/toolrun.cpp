// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tests/support/toolrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>

#include <algorithm>

QJsonObject ToolRun::json() const { return QJsonDocument::fromJson(out.trimmed()).object(); }

ToolRun RunTool(const QString& program, const QStringList& args, const std::function<qint64(qint64)>& sample,
                const std::function<void()>& childSetup)
{
    QProcess p;
    p.setProgram(QDir(qEnvironmentVariable("TOLVANE_BIN_DIR")).filePath(program));
    p.setArguments(args);
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    QElapsedTimer clock;
    clock.start();
    p.start();
    ToolRun r;
    if (!p.waitForStarted(10000))
        return r;
    const qint64 pid = p.processId();
    while (!p.waitForFinished(2)) {
        if (sample)
            r.peak = std::max(r.peak, sample(pid));
        if (clock.elapsed() > 60000) {
            p.kill();
            p.waitForFinished(10000);
            return r;
        }
    }
    r.ms = clock.elapsed();
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}
