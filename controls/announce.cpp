// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controls/announce.h"

#include <QAccessible>
#include <QWidget>
#include <utility>

namespace {
AnnounceHandler& handlerSlot()
{
    static AnnounceHandler handler;
    return handler;
}
}  // namespace

void AnnounceText(QWidget* source, const QString& text)
{
    if (!source || text.isEmpty())
        return;
    if (const AnnounceHandler& handler = handlerSlot()) {
        handler(source, text);
        return;
    }
    QAccessibleEvent named(source, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&named);
    QAccessibleEvent alert(source, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
}

AnnounceHandler SetAnnounceHandler(AnnounceHandler handler)
{
    return std::exchange(handlerSlot(), std::move(handler));
}
