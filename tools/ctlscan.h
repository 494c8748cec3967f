// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// tolvanectl scan: finds the controllers on addresses and serial ports.

#include <QStringList>
#include <QTextStream>

struct CommSettings;

namespace ctl {

// args: the arguments after "scan". Exit 0 when a controller answered, 3 when none did,
// 2 for bad usage.
int RunScan(const QStringList& args, QTextStream& out, QTextStream& err, bool showProgress);

// A mistake in the arguments: said with the usage, exit code 2.
struct UsageError {
    QString message;
};

// A whole number from min to max, or UsageError naming the option.
int ParseNumber(const QString& option, const QString& text, int min, int max);

// The permission device as read prints it: ethernet, rs232c, both or none.
QString PermissionText(const CommSettings& s);

extern const char* const kScanUsage;
extern const char* const kScanHelp;
extern const char* const kScanOptions;

}  // namespace ctl
