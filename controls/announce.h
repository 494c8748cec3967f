// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Tells assistive technology about a change the user did not cause by moving the focus:
// a new wizard page, a value the address control corrected. Qt 6.4 has no announcement
// event, so the source widget reports an alert and a changed name; screen readers read
// the alerting object's text.

#include <QString>
#include <functional>

class QWidget;

void AnnounceText(QWidget* source, const QString& text);

// Tests see every announcement here (no accessibility bridge runs offscreen); an empty
// handler restores the accessibility events. Returns the previous handler.
using AnnounceHandler = std::function<void(QWidget* source, const QString& text)>;
AnnounceHandler SetAnnounceHandler(AnnounceHandler handler);
