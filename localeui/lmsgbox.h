// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The message box of the string table: the one routine of the texts that shows a window.

#include "locale/modLocale.h"

#include <functional>

// Shows the prompt (a resource id or a finished text) with its values put in, titled
// with the title or the executable's name, and returns the button's result code.
// values: none (invalid QVariant), one value, or a QVariantList for placeholders 1, 2, …
int LMsgBox(const QVariant& prompt, int style = 0, const QVariant& title = QVariant(),
            const QVariant& values = QVariant());

// Tests install a handler that answers instead of a window.
using MsgBoxHandler = std::function<int(const MsgBoxCall&)>;
// Installs a handler (empty: the system message box again); returns the previous one.
MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler);
