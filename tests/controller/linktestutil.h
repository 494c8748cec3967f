// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Shared pieces of the controller link tests: a window stand-in and call traces.

#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "controller/engine.h"
#include "tests/support/loggedsim.h"

#include <QStringList>

#include <memory>

// What the wizard window would show: Ethernet to 127.0.2.1, COM1 38400 None 8 1 on the
// RS232C side, and "Ethernet" chosen as the permission device.
class FakeView : public ControllerSelections {
public:
    FakeView()
    {
        address = {127, 0, 2, 1};
        port = 1;
        baud = 38400;
        parity = 1;
        dataLength = 8;
        stopBit = QStringLiteral("1");
        device = 0;
    }
};

// Records every engine call of a CommLink.
inline std::shared_ptr<QStringList> TraceInto(CommLink& link)
{
    auto lines = std::make_shared<QStringList>();
    link.engine()->setTraceHook([lines](const QString& l) { lines->append(l); });
    return lines;
}

// Counts of what is still held in the engine's collections.
inline int HeldItems(CommLink& link)
{
    int n = 0;
    if (auto c = link.controller())
        n += c->records().count() + c->values().count();
    return n;
}
