// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/trace.h"

// Information and above by default: the trace is all debug, so it costs a flag's test.
Q_LOGGING_CATEGORY(lcLink, "tolvane.link", QtInfoMsg)
Q_LOGGING_CATEGORY(lcEngine, "tolvane.engine", QtInfoMsg)
