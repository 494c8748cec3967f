// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "localeui/systemmsgbox.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace {

struct ButtonKind {
    QMessageBox::StandardButton button;
    int code;
    int textId;  // caption from the program's table, so it follows the chosen language
};

constexpr ButtonKind kOk{QMessageBox::Ok, MsgBox::IdOK, 5004};
constexpr ButtonKind kCancel{QMessageBox::Cancel, MsgBox::IdCancel, 5005};
constexpr ButtonKind kAbort{QMessageBox::Abort, MsgBox::IdAbort, 5006};
constexpr ButtonKind kRetry{QMessageBox::Retry, MsgBox::IdRetry, 5007};
constexpr ButtonKind kIgnore{QMessageBox::Ignore, MsgBox::IdIgnore, 5008};
constexpr ButtonKind kYes{QMessageBox::Yes, MsgBox::IdYes, 5009};
constexpr ButtonKind kNo{QMessageBox::No, MsgBox::IdNo, 5010};

QList<ButtonKind> buttonsOf(int buttons)
{
    switch (buttons) {
    case MsgBox::OKCancel: return {kOk, kCancel};
    case MsgBox::AbortRetryIgnore: return {kAbort, kRetry, kIgnore};
    case MsgBox::YesNoCancel: return {kYes, kNo, kCancel};
    case MsgBox::YesNo: return {kYes, kNo};
    case MsgBox::RetryCancel: return {kRetry, kCancel};
    default: return {kOk};  // 0 and anything unknown: a lone OK, as Windows does
    }
}

QMessageBox::Icon iconOf(int icon)
{
    switch (icon) {
    case MsgBox::Critical: return QMessageBox::Critical;
    case MsgBox::Question: return QMessageBox::Question;
    case MsgBox::Exclamation: return QMessageBox::Warning;
    case MsgBox::Information: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

} // namespace

QString MsgBoxDisplayText(const QString& prompt)
{
    QString text = prompt;
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

SystemMsgBox::SystemMsgBox(const MsgBoxCall& call, QWidget* parent)
    : QMessageBox(parent)
{
    setWindowTitle(call.title);
    // The system box never interprets markup: a "<" in a message stays a "<".
    setTextFormat(Qt::PlainText);
    setText(MsgBoxDisplayText(call.text));
    setIcon(iconOf(call.icon()));

    const QList<ButtonKind> kinds = buttonsOf(call.buttons());
    for (const ButtonKind& kind : kinds) {
        QPushButton* b = addButton(kind.button);
        const QString caption = LStr(kind.textId);
        if (!caption.isEmpty())
            b->setText(caption);
        m_buttons.append({b, kind.code});
    }
    // Default button by position in Windows order; a position the box lacks is the first.
    int defaultIndex = 0;
    if (call.defaultButton() == MsgBox::DefButton2)
        defaultIndex = 1;
    else if (call.defaultButton() == MsgBox::DefButton3)
        defaultIndex = 2;
    if (defaultIndex >= m_buttons.size())
        defaultIndex = 0;
    setDefaultButton(static_cast<QPushButton*>(m_buttons.at(defaultIndex).first));

    // Escape and the close box answer Cancel where there is one, OK for a lone OK, and
    // do nothing otherwise (Abort/Retry/Ignore and Yes/No must be answered).
    for (const auto& [button, code] : std::as_const(m_buttons)) {
        if (code == MsgBox::IdCancel) {
            m_escapeCode = code;
            setEscapeButton(button);
        }
    }
    if (m_buttons.size() == 1) {
        m_escapeCode = m_buttons.first().second;
        setEscapeButton(m_buttons.first().first);
    }
}

int SystemMsgBox::resultFor(QAbstractButton* button) const
{
    for (const auto& [b, code] : m_buttons) {
        if (b == button && button)
            return code;
    }
    if (m_escapeCode)
        return m_escapeCode;
    return defaultButton() ? resultFor(defaultButton()) : m_buttons.first().second;
}

int SystemMsgBox::run()
{
    exec();
    return resultFor(clickedButton());
}

void SystemMsgBox::keyPressEvent(QKeyEvent* event)
{
    if (!canEscape() && event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QMessageBox::keyPressEvent(event);
}

void SystemMsgBox::closeEvent(QCloseEvent* event)
{
    if (!canEscape()) {
        event->ignore();
        return;
    }
    QMessageBox::closeEvent(event);
}
