// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controls/ipaddresswindow.h"

#include "controls/announce.h"
#include "ipv4/ipv4.h"
#include "locale/modLocale.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QValidator>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QToolTip>
#include <algorithm>

namespace {

bool isAsciiDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Fields hold at most three ASCII digits; the validator also guards drops and undo. A
// plain check: a regular expression here would load and compile a regex engine at start.
class DigitsValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        if (input.size() > 3)
            return Invalid;
        for (QChar c : std::as_const(input))
            if (!isAsciiDigit(c))
                return Invalid;
        return Acceptable;
    }
};

// Finds an entry of QLineEdit's standard menu: by its object name where Qt sets one, else
// by its (translated) text before the shortcut.
bool isMenuEntry(const QAction* action, const char* objectName, const char* text)
{
    if (action->objectName() == QLatin1String(objectName))
        return true;
    return action->text().section(QLatin1Char('\t'), 0, 0) == QCoreApplication::translate("QLineEdit", text);
}

}  // namespace

IPAddressWindow::IPAddressWindow(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("ipAddressWindow"));
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);

    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(0);
    auto* validator = new DigitsValidator(this);

    for (int i = 0; i < kFieldCount; ++i) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(3);
        field->setValidator(validator);
        field->setTextMargins(0, 0, 0, 0);
        field->setAcceptDrops(false);
        // Full-width digits from an input method are no address; take plain keys only.
        field->setAttribute(Qt::WA_InputMethodEnabled, false);
        field->setInputMethodHints(Qt::ImhDigitsOnly);
        // Only the control as a whole is a tab stop; a click still puts the caret here.
        field->setFocusPolicy(Qt::ClickFocus);
        field->setMinimumSize(1, 1);
        field->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
        // The frame paints one background behind all four fields.
        QPalette pal = field->palette();
        pal.setBrush(QPalette::All, QPalette::Base, Qt::transparent);
        field->setPalette(pal);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textChanged, this, &IPAddressWindow::noteChange);
        m_fields[size_t(i)] = field;
        layout->addWidget(field, 1);

        if (i < kFieldCount - 1) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setObjectName(QStringLiteral("dot%1").arg(i));
            dot->setAlignment(Qt::AlignCenter);
            dot->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
            dot->setAccessibleName(QString());
            m_dots[size_t(i)] = dot;
            layout->addWidget(dot, 0);
        }
    }
    updateMargins();
    SetFieldNames(QString());

    // The range note: a small tool-tip window beside the field, which never takes the
    // focus from the field being typed into.
    m_note = new QLabel(this, Qt::ToolTip | Qt::BypassGraphicsProxyWidget);
    m_note->setObjectName(QStringLiteral("rangeNote"));
    m_note->setForegroundRole(QPalette::ToolTipText);
    m_note->setBackgroundRole(QPalette::ToolTipBase);
    m_note->setPalette(QToolTip::palette());
    m_note->setAutoFillBackground(true);
    m_note->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_note->setMargin(4);
    m_note->setWordWrap(true);
    m_note->setAttribute(Qt::WA_ShowWithoutActivating);
    m_note->installEventFilter(this);
    m_noteTimer = new QTimer(this);
    m_noteTimer->setSingleShot(true);
    m_noteTimer->setInterval(kNoteMilliseconds);
    connect(m_noteTimer, &QTimer::timeout, m_note, &QWidget::hide);
}

IPAddressWindow::~IPAddressWindow()
{
    // A field that loses the focus while it is destroyed must not reach the filter.
    for (QLineEdit* field : m_fields)
        field->removeEventFilter(this);
}

qintptr IPAddressWindow::SendMessage(quint32 message, quintptr wParam, qintptr lParam)
{
    switch (message) {
    case IPM_CLEARADDRESS:
        ClearAddress();
        return 0;
    case IPM_SETADDRESS:
        SetAddress(quint32(lParam));
        return 1;
    case IPM_GETADDRESS:
        // The message's lParam carries the caller's pointer, as the window message does.
        return GetAddress(reinterpret_cast<quint32*>(lParam));  // NOLINT(performance-no-int-to-ptr)
    case IPM_SETRANGE:
        if (wParam >= quintptr(kFieldCount))
            return 0;
        return SetRange(int(wParam), quint8((lParam >> 8) & 0xFF), quint8(lParam & 0xFF)) ? 1 : 0;
    case IPM_SETFOCUS:
        SetFocusField(wParam);
        return 0;
    case IPM_ISBLANK:
        return IsBlank() ? 1 : 0;
    default:
        return 0;
    }
}

void IPAddressWindow::ClearAddress()
{
    m_autoAdvanced = -1;
    beginBatch();
    for (QLineEdit* field : m_fields)
        field->clear();
    endBatch();
}

void IPAddressWindow::SetAddress(quint32 packed)
{
    m_autoAdvanced = -1;
    beginBatch();
    for (int i = 0; i < kFieldCount; ++i) {
        const int shift = 8 * (kFieldCount - 1 - i);
        const int value = std::clamp(int((packed >> shift) & 0xFF), int(m_min[size_t(i)]), int(m_max[size_t(i)]));
        m_fields[size_t(i)]->setText(QString::number(value));
    }
    endBatch();
}

int IPAddressWindow::GetAddress(quint32* packed) const
{
    quint32 value = 0;
    int filled = 0;
    for (int i = 0; i < kFieldCount; ++i) {
        const int v = FieldValue(i);
        if (v >= 0)
            ++filled;
        value = (value << 8) | quint32(std::max(v, 0));
    }
    if (packed)
        *packed = value;
    return filled;
}

bool IPAddressWindow::SetRange(int field, quint8 byMax, quint8 byMin)
{
    if (field < 0 || field >= kFieldCount)
        return false;
    if (byMin > byMax)
        std::swap(byMin, byMax);
    m_min[size_t(field)] = byMin;
    m_max[size_t(field)] = byMax;
    commitField(field);
    return true;
}

void IPAddressWindow::SetFocusField(quintptr field)
{
    int index = 0;
    if (field < quintptr(kFieldCount)) {
        index = int(field);
    } else {
        // Beyond the last field: the first blank one, or the first field when none is.
        for (int i = 0; i < kFieldCount; ++i) {
            if (m_fields[size_t(i)]->text().isEmpty()) {
                index = i;
                break;
            }
        }
    }
    goToField(index, Caret::SelectAll);
    m_autoAdvanced = -1;
}

bool IPAddressWindow::IsBlank() const
{
    return std::all_of(m_fields.begin(), m_fields.end(),
                       [](const QLineEdit* f) { return f->text().isEmpty(); });
}

QLineEdit* IPAddressWindow::Field(int index) const
{
    return (index >= 0 && index < kFieldCount) ? m_fields[size_t(index)] : nullptr;
}

int IPAddressWindow::FieldValue(int index) const
{
    const QString text = m_fields.at(size_t(index))->text();
    if (text.isEmpty())
        return -1;
    return std::clamp(text.toInt(nullptr, 10), int(m_min[size_t(index)]), int(m_max[size_t(index)]));
}

QString IPAddressWindow::Text() const
{
    if (IsBlank())
        return QString();
    QStringList parts;
    for (int i = 0; i < kFieldCount; ++i)
        parts << QString::number(std::max(FieldValue(i), 0));
    return parts.join(QLatin1Char('.'));
}

bool IPAddressWindow::SetText(const QString& dotted)
{
    const std::optional<IPv4> bytes = ParseIPv4(dotted);
    if (!bytes)
        return false;
    quint32 packed = 0;
    for (quint8 b : *bytes)
        packed = (packed << 8) | b;
    SetAddress(packed);
    return true;
}

bool IPAddressWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_note) {
        if (event->type() == QEvent::MouseButtonPress)
            m_note->hide();  // a click on the note puts it away
        return QWidget::eventFilter(watched, event);
    }
    const int index = indexOf(watched);
    if (index < 0)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
        // A disabled entry takes no input, even from events sent to it directly.
        if (!m_fields[size_t(index)]->isEnabled())
            return true;
        return handleKey(index, static_cast<QKeyEvent*>(event));
    case QEvent::ContextMenu:
        handleContextMenu(index, static_cast<QContextMenuEvent*>(event));
        return true;
    case QEvent::FocusIn:
        update();  // the frame shows the focus of any field
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        m_autoAdvanced = -1;  // a click places the caret: no separator is pending
        break;
    case QEvent::FocusOut:
        if (m_autoAdvanced == index)
            m_autoAdvanced = -1;
        // A note about an earlier field must not cover the control the user moves on
        // to; one about the field being left is shown by the commit below.
        if (indexOf(QApplication::focusWidget()) < 0)
            hideRangeNote();
        commitField(index, true);
        update();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool IPAddressWindow::handleKey(int index, QKeyEvent* event)
{
    QLineEdit* field = m_fields[size_t(index)];
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool plain = !(mods & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const bool shift = mods & Qt::ShiftModifier;
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();

    switch (event->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
        return false;  // a modifier alone is no key of the address
    default:
        break;
    }
    // Only the key right after an automatic move may be the separator already passed.
    const bool separatorPassed = m_autoAdvanced == index;
    m_autoAdvanced = -1;

    if (event->matches(QKeySequence::Paste)) {
        pasteClipboard(index);
        return true;
    }
    if (event->matches(QKeySequence::Copy)) {
        if (field->hasSelectedText())
            return false;  // an ordinary copy of the selected digits
        copyAddress(index);
        return true;
    }

    switch (event->key()) {
    case Qt::Key_Backspace:
        if (atStart && index > 0) {
            goToField(index - 1, Caret::End);
            return true;
        }
        return false;
    case Qt::Key_Left:
        if (!shift && atStart && index > 0) {
            goToField(index - 1, Caret::End);
            return true;
        }
        return false;
    case Qt::Key_Right:
        if (!shift && atEnd && index < kFieldCount - 1) {
            goToField(index + 1, Caret::Start);
            return true;
        }
        return false;
    case Qt::Key_Home:
        if (shift)
            return false;
        goToField(0, Caret::Start);
        return true;
    case Qt::Key_End:
        if (shift)
            return false;
        goToField(kFieldCount - 1, Caret::End);
        return true;
    default:
        break;
    }

    const QString text = event->text();
    if (!plain || text.isEmpty() || !text.at(0).isPrint())
        return false;  // Tab, Enter, Escape, Delete, shortcuts: the usual handling
    if (text.size() == 1 && isAsciiDigit(text.at(0))) {
        typeDigit(index, text.at(0));
    } else if (text == QLatin1String(".") || text == QLatin1String(" ")) {
        if (separatorPassed)
            return true;
        if (!field->text().isEmpty() && index < kFieldCount - 1)
            goToField(index + 1, Caret::SelectAll);
    }
    // Any other character is no part of an address and is dropped.
    return true;
}

void IPAddressWindow::typeDigit(int index, QChar digit)
{
    QLineEdit* field = m_fields[size_t(index)];
    if (!field->hasSelectedText() && field->text().size() >= 3) {
        // A full field: with the caret at its end the digit starts the next field.
        if (field->cursorPosition() == field->text().size() && index < kFieldCount - 1) {
            goToField(index + 1, Caret::SelectAll);
            typeDigit(index + 1, digit);
        }
        return;
    }
    field->insert(QString(digit));
    if (field->text().size() >= 3) {
        commitField(index, true);
        if (index < kFieldCount - 1) {
            goToField(index + 1, Caret::SelectAll);
            m_autoAdvanced = index + 1;
        }
    }
}

void IPAddressWindow::commitField(int index, bool tell)
{
    QLineEdit* field = m_fields[size_t(index)];
    const QString typed = field->text();
    if (typed.isEmpty())
        return;
    const int number = typed.toInt(nullptr, 10);
    const QString normal = QString::number(FieldValue(index));
    if (typed == normal)
        return;
    field->setText(normal);
    // Leading zeros are only dropped; a number out of range is corrected aloud.
    if (tell && normal.toInt(nullptr, 10) != number)
        showRangeNote(index, QString::number(number));
}

void IPAddressWindow::showRangeNote(int index, const QString& typed)
{
    QLineEdit* field = m_fields[size_t(index)];
    const QString text = LFormat(9002, typed, int(m_min[size_t(index)]), int(m_max[size_t(index)]));
    if (field->isVisible()) {
        m_note->setText(text);
        // One or two lines, as wide as the text asks but never wider than a few
        // controls, kept on the field's screen.
        const QMargins frame = m_note->contentsMargins();
        const int extra = frame.left() + frame.right() + 2 * m_note->margin();
        const int natural = m_note->fontMetrics().horizontalAdvance(text) + extra + 2;
        const int w = std::min(natural, std::max(2 * width(), 320));
        m_note->resize(w, m_note->heightForWidth(w));
        QPoint at = field->mapToGlobal(QPoint(0, field->height() + 2));
        if (const QScreen* screen = field->screen()) {
            const QRect area = screen->availableGeometry();
            at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - m_note->width())));
        }
        m_note->move(at);
        m_note->show();
        m_noteTimer->start();
    }
    AnnounceText(field, text);
}

void IPAddressWindow::SetFieldNames(const QString& controlName)
{
    for (int i = 0; i < kFieldCount; ++i) {
        m_fields[size_t(i)]->setAccessibleName(controlName.isEmpty()
                                                   ? LFormat(9001, i + 1, int(kFieldCount))
                                                   : LFormat(9000, controlName, i + 1, int(kFieldCount)));
    }
}

void IPAddressWindow::goToField(int index, Caret caret)
{
    for (int i = 0; i < kFieldCount; ++i) {
        if (i != index && m_fields[size_t(i)]->hasFocus())
            commitField(i);
    }
    QLineEdit* field = m_fields[size_t(index)];
    field->setFocus(Qt::OtherFocusReason);
    switch (caret) {
    case Caret::SelectAll:
        field->selectAll();
        break;
    case Caret::Start:
        field->setCursorPosition(0);
        break;
    case Caret::End:
        field->setCursorPosition(int(field->text().size()));
        break;
    }
}

void IPAddressWindow::copyAddress(int index)
{
    Q_UNUSED(index);
    const QString text = Text();
    if (!text.isEmpty())
        QGuiApplication::clipboard()->setText(text);
}

void IPAddressWindow::pasteClipboard(int index)
{
    const QString text = QGuiApplication::clipboard()->text();
    if (SetText(text))
        return;
    // A plain number goes into this field like typed digits; anything else is refused.
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), isAsciiDigit))
        return;
    QLineEdit* field = m_fields[size_t(index)];
    field->insert(digits);
    if (field->text().size() >= 3)
        commitField(index, true);
}

void IPAddressWindow::handleContextMenu(int index, QContextMenuEvent* event)
{
    QLineEdit* field = m_fields[size_t(index)];
    QMenu* menu = field->createStandardContextMenu();
    // Copy and paste work on whole addresses here, as the keys do.
    for (QAction* action : menu->actions()) {
        if (isMenuEntry(action, "edit-paste", "&Paste")) {
            QObject::disconnect(action, &QAction::triggered, field, nullptr);
            action->setEnabled(field->isEnabled() && !field->isReadOnly());
            connect(action, &QAction::triggered, this, [this, index] { pasteClipboard(index); });
        } else if (isMenuEntry(action, "edit-copy", "&Copy")) {
            QObject::disconnect(action, &QAction::triggered, field, nullptr);
            action->setEnabled(field->hasSelectedText() || !IsBlank());
            connect(action, &QAction::triggered, this, [this, index, field] {
                if (field->hasSelectedText())
                    field->copy();
                else
                    copyAddress(index);
            });
        }
    }
    menu->exec(event->globalPos());
    delete menu;
}

void IPAddressWindow::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    QStyleOptionFrame option;
    option.initFrom(this);
    option.rect = rect();
    option.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    option.state &= ~QStyle::State_HasFocus;
    for (const QLineEdit* field : m_fields) {
        if (field->hasFocus())
            option.state |= QStyle::State_HasFocus;
    }
    option.features = QStyleOptionFrame::None;
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &option, &painter, this);
}

void IPAddressWindow::hideEvent(QHideEvent* event)
{
    // The note belongs beside a shown field; a new page or a closed window takes it away.
    hideRangeNote();
    QWidget::hideEvent(event);
}

void IPAddressWindow::hideRangeNote()
{
    m_note->hide();
    m_noteTimer->stop();
}

void IPAddressWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::StyleChange)
        updateMargins();
    QWidget::changeEvent(event);
}

int IPAddressWindow::indexOf(const QObject* object) const
{
    for (int i = 0; i < kFieldCount; ++i) {
        if (m_fields[size_t(i)] == object)
            return i;
    }
    return -1;
}

void IPAddressWindow::updateMargins()
{
    QStyleOptionFrame option;
    option.initFrom(this);
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, this);
    layout()->setContentsMargins(frame, frame, frame, frame);
}

void IPAddressWindow::endBatch()
{
    if (--m_batch == 0)
        noteChange();
}

void IPAddressWindow::noteChange()
{
    if (m_batch > 0)
        return;
    std::array<int, kFieldCount> now{};
    for (int i = 0; i < kFieldCount; ++i) {
        const QString text = m_fields[size_t(i)]->text();
        now[size_t(i)] = text.isEmpty() ? -1 : text.toInt(nullptr, 10);
    }
    if (now == m_last)
        return;
    m_last = now;
    emit addressChanged();
}
