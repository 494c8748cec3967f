// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// tolvanectl: reads and writes a controller's communication settings without a window,
// with the same controller routines and the same choices as the wizard's pages.

#include "wizard/wizardmodel.h"

#include <QStringList>
#include <QTextStream>

struct CommSettings;

namespace ctl {

// Exit codes.
enum Exit {
    kDone = 0, kUsage = 2, kConnectFailed = 3, kReadFailed = 4, kWriteFailed = 5, kReadBackDiffers = 6,
    kFileNotWritten = 7,  // backup: the file could not be written
    kBadFile = 8,         // restore: the file cannot be read, or is damaged
    kDoesNotFit = 9,      // restore: record sizes differ, or another model without --force
    kOutputLost = 10,     // standard output could not be written (closed, full, no reader)
    kNotReadBack = 11,    // write, restore: committed by the controller, but not read back
};

// What a command changed, for a report on standard error when standard output is lost.
struct Outcome {
    QString done;  // "the settings were written ...", empty when nothing was changed or saved
};

// args: the arguments after the program name. Settings go to out as one JSON object,
// messages to err; with showProgress (err is a terminal) a record's move that takes a
// while is shown on err as one line that is redrawn and cleared.
int Run(const QStringList& args, QTextStream& out, QTextStream& err, bool showProgress = false,
        Outcome* outcome = nullptr);

// The exit code once standard output has been flushed: lostErrno is 0 when all of it
// was written (or none was meant for it), else the system's reason (EBADF for a closed
// standard output). Lost output outranks every other code: it is said on err, with what
// the command did, and gives kOutputLost whatever the command's own code was.
int CheckOutput(int code, int lostErrno, const Outcome& outcome, QTextStream& err);

QString UsageText();

// A mistake in the arguments: said with the usage, exit code 2.
struct UsageError {
    QString message;
};

// A whole number from min to max, or UsageError naming the option.
int ParseNumber(const QString& option, const QString& text, int min, int max);

// Ids and models as the text output shows them (JSON output keeps the text exact).
using wizard::Printable, wizard::kPrintableWidth;

// The permission device as read prints it: ethernet, rs232c, both or none.
QString PermissionText(const CommSettings& s);

}  // namespace ctl
