// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// tolvanectl: reads and writes a controller's communication settings without a window,
// with the same controller routines and the same choices as the wizard's pages.

#include <QStringList>
#include <QTextStream>

namespace ctl {

// Exit codes.
enum Exit { kDone = 0, kUsage = 2, kConnectFailed = 3, kReadFailed = 4, kWriteFailed = 5, kReadBackDiffers = 6 };

// args: the arguments after the program name. Settings go to out as one JSON object,
// messages to err.
int Run(const QStringList& args, QTextStream& out, QTextStream& err);

QString UsageText();

}  // namespace ctl
