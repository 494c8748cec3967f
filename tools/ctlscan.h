// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// tolvanectl scan: finds the controllers on addresses and serial ports.

#include <QStringList>
#include <QTextStream>

namespace ctl {

// args: the arguments after "scan". Exit 0 when a controller answered, 3 when none did,
// 2 for bad usage.
int RunScan(const QStringList& args, QTextStream& out, QTextStream& err, bool showProgress);

extern const char* const kScanUsage;
extern const char* const kScanHelp;
extern const char* const kScanOptions;

}  // namespace ctl
