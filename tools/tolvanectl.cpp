// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// tolvanectl: scripted commissioning and link checks without a window (see docs/tolvanectl.md).

#include "tools/ctl.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = ctl::Run(app.arguments().mid(1), out, err, isatty(STDERR_FILENO) == 1);
    out.flush();
    err.flush();
    return code;
}
