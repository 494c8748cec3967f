// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Localization of whole windows, and the small helpers windows share: the OS version,
// the hand pointer and the mouse-pointer stack.

#include <QCursor>
#include <QString>
#include <QVariant>
#include <optional>

class QWidget;

// Replaces every number tag ("text#id") of the window and its controls by the text of
// the id and gives them the language's font. An empty fontName lets the OS version
// decide. A widget whose "Font" property holds a QObject (the IP address control's font
// object) gets its "Name" and "Charset" properties set instead of QWidget::setFont.
void LocalizeForm(QWidget* window, const QVariant& fontName = QVariant());
QString ResolveTag(const QString& text);
int GetOSMajorVersion();
std::optional<QCursor> GetHandCursor();

// Mouse pointer codes: 0 default, 11 busy, 99 custom.
void ChangeMousePointer(qint16 pointer);
qint16 UnChangeMousePointer();
qint16 ScreenMousePointer();  // the screen's current pointer code
