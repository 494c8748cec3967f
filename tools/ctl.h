// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// tolvanectl: reads and writes a controller's communication settings without a window,
// with the same controller routines and the same choices as the wizard's pages.

#include <QStringList>
#include <QTextStream>

namespace ctl {

// Exit codes.
enum Exit {
    kDone = 0, kUsage = 2, kConnectFailed = 3, kReadFailed = 4, kWriteFailed = 5, kReadBackDiffers = 6,
    kFileNotWritten = 7,  // backup: the file could not be written
    kBadFile = 8,         // restore: the file cannot be read, or is damaged
    kDoesNotFit = 9,      // restore: record sizes differ, or another model without --force
};

// args: the arguments after the program name. Settings go to out as one JSON object,
// messages to err; with showProgress (err is a terminal) a record's move that takes a
// while is shown on err as one line that is redrawn and cleared.
int Run(const QStringList& args, QTextStream& out, QTextStream& err, bool showProgress = false);

QString UsageText();

}  // namespace ctl
