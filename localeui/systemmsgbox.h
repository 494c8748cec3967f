// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The system message box behind LMsgBox: a QMessageBox built from Windows style bits
// that answers with Windows result codes. Exposed so that tests can check the box that
// would be shown without showing it.

#include "locale/modLocale.h"

#include <QMessageBox>

class SystemMsgBox : public QMessageBox
{
    Q_OBJECT
public:
    explicit SystemMsgBox(const MsgBoxCall& call, QWidget* parent = nullptr);

    // The buttons in Windows order (OK / Cancel, Abort / Retry / Ignore, …) with the
    // result code each answers.
    QList<QPair<QAbstractButton*, int>> orderedButtons() const { return m_buttons; }
    // Whether Escape and the close box answer (only boxes with Cancel, or a lone OK).
    bool canEscape() const { return m_escapeCode != 0; }
    // The Windows result code of a button of this box; the escape answer for nullptr.
    int resultFor(QAbstractButton* button) const;
    // Runs the box modally and returns the Windows result code.
    int run();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QList<QPair<QAbstractButton*, int>> m_buttons;
    int m_escapeCode = 0;
};

// The prompt as the box shows it: CR LF, and a CR alone, become line breaks.
QString MsgBoxDisplayText(const QString& prompt);
