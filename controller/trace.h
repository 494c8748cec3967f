// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The wire trace, off unless a logging rule turns its debug messages on
// (QT_LOGGING_RULES="tolvane.*.debug=true", or tolvanectl --verbose):
//   tolvane.link    each frame with its direction, opcode or status, sequence number,
//                   payload length (a record's bytes only as a count) and the time
//                   since the engine call began; connects, time-outs and a lost link.
//   tolvane.engine  each engine call, and how it ended and after how long.

#include <QLoggingCategory>

// The logging rule that turns the whole trace on.
inline constexpr char kTraceRules[] = "tolvane.*.debug=true";

Q_DECLARE_LOGGING_CATEGORY(lcLink)
Q_DECLARE_LOGGING_CATEGORY(lcEngine)
