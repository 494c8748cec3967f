// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The message box of the string table: the one part of the texts that needs a window.
#include "localeui/lmsgbox.h"
#include "localeui/systemmsgbox.h"

#include <QApplication>

namespace {
MsgBoxHandler g_msgBoxHandler;
}

MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler)
{
    MsgBoxHandler previous = std::move(g_msgBoxHandler);
    g_msgBoxHandler = std::move(handler);
    return previous;
}

int LMsgBox(const QVariant& prompt, int style, const QVariant& title, const QVariant& values)
{
    const MsgBoxCall call = MakeMsgBoxCall(prompt, style, title, values);
    if (g_msgBoxHandler)
        return g_msgBoxHandler(call);
    SystemMsgBox box(call, QApplication::activeWindow());
    return box.run();
}
