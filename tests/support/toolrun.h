// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Runs one of the project's programs as a script would: a separate process, judged by
// its exit code and its output, watched while it runs.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

struct ToolRun {
    int exitCode = -1;  // -1 when it crashed, did not start or ran past 60 s (then killed)
    QByteArray out, err;
    qint64 ms = -1;            // from start to exit
    qint64 peak = -1;          // the largest figure sample(pid) gave while it ran
    QJsonObject json() const;  // standard output as one JSON object
};

// $TOLVANE_BIN_DIR/<program> with args. sample(pid) is called every 2 ms while it runs;
// childSetup runs in the child before the program starts (async-signal-safe calls only).
ToolRun RunTool(const QString& program, const QStringList& args, const std::function<qint64(qint64)>& sample = {},
                const std::function<void()>& childSetup = {});
