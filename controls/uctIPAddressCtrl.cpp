// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controls/uctIPAddressCtrl.h"

#include <QApplication>
#include <QFocusEvent>
#include <QLabel>
#include <cmath>
#include <limits>

uctIPAddressCtrl::uctIPAddressCtrl(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(kWidthPixels, kHeightPixels);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);

    m_hWnd = new IPAddressWindow(this);
    m_hWnd->setGeometry(0, 0, kWidthPixels, kHeightPixels);
    connect(m_hWnd, &IPAddressWindow::addressChanged, this, &uctIPAddressCtrl::AddressChanged);

    SetIPAddress(127, 0, 0, 1);
    attachFont(new IPAddrFont(this));
}

uctIPAddressCtrl::~uctIPAddressCtrl()
{
    // The font objects die with the control: no replacement for them now.
    if (m_Font)
        disconnect(m_Font, nullptr, this, nullptr);
}

void uctIPAddressCtrl::Clear()
{
    m_hWnd->SendMessage(IPAddressWindow::IPM_CLEARADDRESS, 0, 0);
}

bool uctIPAddressCtrl::IsBlank() const
{
    return m_hWnd->SendMessage(IPAddressWindow::IPM_ISBLANK, 0, 0) != 0;
}

void uctIPAddressCtrl::SetFieldFocus(qint32 intIndex)
{
    // As a message parameter a negative index becomes a huge one: "beyond the last".
    m_hWnd->SendMessage(IPAddressWindow::IPM_SETFOCUS, quintptr(quint32(intIndex)), 0);
}

void uctIPAddressCtrl::SetIPAddress(quint8 byFirst, quint8 bySecond, quint8 byThird, quint8 byFourth)
{
    const qint32 packed = PackAddress(byFirst, bySecond, byThird, byFourth);
    m_hWnd->SendMessage(IPAddressWindow::IPM_SETADDRESS, 0, qintptr(quint32(packed)));
}

void uctIPAddressCtrl::GetIPAddress(quint8& byFirst, quint8& bySecond, quint8& byThird, quint8& byFourth) const
{
    quint32 packed = 0;
    m_hWnd->SendMessage(IPAddressWindow::IPM_GETADDRESS, 0, reinterpret_cast<qintptr>(&packed));
    UnpackAddress(qint32(packed), byFirst, bySecond, byThird, byFourth);
}

void uctIPAddressCtrl::SetFieldRange(qint32 lIndex, quint8 byMax, quint8 byMin)
{
    if (lIndex < 0 || lIndex > 3)
        return;
    m_hWnd->SendMessage(IPAddressWindow::IPM_SETRANGE, quintptr(lIndex), PackRange(byMax, byMin));
}

bool uctIPAddressCtrl::Enabled() const
{
    return parentWidget() ? isEnabledTo(parentWidget()) : isEnabled();
}

void uctIPAddressCtrl::SetEnabled(bool bEnabled)
{
    setEnabled(bEnabled);
}

bool uctIPAddressCtrl::Visible() const
{
    return m_hWnd->isVisibleTo(this);
}

void uctIPAddressCtrl::SetVisible(bool bVisible)  // NOLINT(bugprone-virtual-near-miss)
{
    m_hWnd->setVisible(bVisible);
}

void uctIPAddressCtrl::SetFont(IPAddrFont* newFont)
{
    if (!newFont)
        return;
    attachFont(newFont);
    fontPropertyChanged();
}

bool uctIPAddressCtrl::FontBold() const
{
    return m_Font && m_Font->Bold();
}

void uctIPAddressCtrl::SetFontBold(bool bBold)
{
    // The object's own notification rebuilds the font.
    m_Font->SetBold(bBold);
    emit PropertyChanged(QStringLiteral("Font"));
}

bool uctIPAddressCtrl::FontItalic() const
{
    return m_Font && m_Font->Italic();
}

void uctIPAddressCtrl::SetFontItalic(bool bItalic)
{
    m_Font->SetItalic(bItalic);
    emit PropertyChanged(QStringLiteral("Font"));
}

QString uctIPAddressCtrl::FontName() const
{
    return m_Font ? m_Font->Name() : QString();
}

void uctIPAddressCtrl::SetFontName(const QString& strName)
{
    m_Font->SetName(strName);
    emit PropertyChanged(QStringLiteral("Font"));
}

float uctIPAddressCtrl::FontSize() const
{
    return m_Font ? float(m_Font->Size()) : 0.0f;
}

void uctIPAddressCtrl::SetFontSize(float fSize)
{
    if (m_Font->SetSize(double(fSize)))
        emit PropertyChanged(QStringLiteral("Font"));
}

void uctIPAddressCtrl::ReadProperties(const IPAddrFont* savedFont)
{
    auto* font = new IPAddrFont(this);
    if (savedFont)
        font->Assign(*savedFont);
    else
        font->Assign(parentWidget() ? parentWidget()->font() : QApplication::font());
    attachFont(font);
    m_Font_FontChanged(QString());
}

void uctIPAddressCtrl::ReadDesignProperties()
{
    IPAddrFont design(IPAddrFont::kDesignName, IPAddrFont::kDesignSize, false, false, false, false,
                      IPAddrFont::kDesignCharset);
    ReadProperties(&design);
}

qint32 uctIPAddressCtrl::PackAddress(quint8 byFirst, quint8 bySecond, quint8 byThird, quint8 byFourth)
{
    const qint32 low = qint32(bySecond) * 0x10000 + qint32(byThird) * 0x100 + qint32(byFourth);
    if (byFirst >= 128) {
        // Form the value from byFirst - 128, then set the top bit: no signed overflow.
        return qint32((byFirst - 128) * 0x1000000 + low) | std::numeric_limits<qint32>::min();
    }
    return qint32(byFirst) * 0x1000000 + low;
}

void uctIPAddressCtrl::UnpackAddress(qint32 packed, quint8& byFirst, quint8& bySecond, quint8& byThird,
                                     quint8& byFourth)
{
    const bool topBit = packed < 0;
    qint32 value = packed & std::numeric_limits<qint32>::max();
    byFourth = quint8(value % 256);
    value /= 256;
    byThird = quint8(value % 256);
    value /= 256;
    bySecond = quint8(value % 256);
    value /= 256;
    byFirst = quint8(value % 256);
    if (topBit)
        byFirst = quint8(byFirst | 0x80);
}

quint16 uctIPAddressCtrl::PackRange(quint8 byMax, quint8 byMin)
{
    return quint16(byMax * 256 + byMin);
}

void uctIPAddressCtrl::UnpackRange(quint16 packed, quint8& byMax, quint8& byMin)
{
    byMax = quint8(packed >> 8);
    byMin = quint8(packed & 0xFF);
}

int uctIPAddressCtrl::MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    const qint64 product = qint64(a) * qint64(b);
    const qint64 divisor = c < 0 ? -qint64(c) : qint64(c);
    const qint64 magnitude = ((product < 0 ? -product : product) + divisor / 2) / divisor;
    const qint64 result = ((product < 0) != (c < 0)) ? -magnitude : magnitude;
    if (result > std::numeric_limits<int>::max() || result < std::numeric_limits<int>::min())
        return -1;
    return int(result);
}

int uctIPAddressCtrl::RoundPoints(double points)
{
    // Work on the fixed-point size (four decimals) so 10.5 is exactly a half.
    const qint64 fixed = qRound64(std::fabs(points) * double(IPAddrFont::kSizeScale));
    qint64 whole = fixed / IPAddrFont::kSizeScale;
    const qint64 fraction = fixed % IPAddrFont::kSizeScale;
    const qint64 half = IPAddrFont::kSizeScale / 2;
    if (fraction > half || (fraction == half && (whole % 2) != 0))
        ++whole;
    if (whole > std::numeric_limits<int>::max())
        whole = std::numeric_limits<int>::max();
    return points < 0 ? -int(whole) : int(whole);
}

int uctIPAddressCtrl::FontHeight(double points, int dpiY)
{
    return -MulDiv(RoundPoints(points), dpiY, 72);
}

QSize uctIPAddressCtrl::sizeHint() const
{
    return QSize(kWidthPixels, kHeightPixels);
}

QSize uctIPAddressCtrl::minimumSizeHint() const
{
    return sizeHint();
}

void uctIPAddressCtrl::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    updateFieldNames();
    SetFieldFocus(0);
}

void uctIPAddressCtrl::showEvent(QShowEvent* event)
{
    // By the time the control is shown its window is localized: the label's text is final.
    updateFieldNames();
    QWidget::showEvent(event);
}

QString uctIPAddressCtrl::spokenName() const
{
    if (!accessibleName().isEmpty())
        return accessibleName();
    if (!parentWidget())
        return QString();
    for (const QLabel* label : parentWidget()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        if (label->buddy() != this)
            continue;
        // The mnemonic marker is no part of what is said: "&&" is a literal "&".
        QString text = label->text();
        text.replace(QLatin1String("&&"), QString(QChar(0xFFFF)));
        text.remove(QLatin1Char('&'));
        text.replace(QChar(0xFFFF), QLatin1Char('&'));
        return text.trimmed();
    }
    return QString();
}

void uctIPAddressCtrl::updateFieldNames()
{
    m_hWnd->SetFieldNames(spokenName());
}

bool uctIPAddressCtrl::focusNextPrevChild(bool next)
{
    // Walk the window's focus chain past this control and its fields to the next (or
    // previous) widget that takes focus by Tab.
    QWidget* candidate = this;
    for (int guard = 0; guard < 100000; ++guard) {
        candidate = next ? candidate->nextInFocusChain() : candidate->previousInFocusChain();
        if (!candidate || candidate == this)
            return false;
        if (isAncestorOf(candidate))
            continue;
        if ((candidate->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && candidate->isEnabled()
            && candidate->isVisible() && !candidate->focusProxy()) {
            candidate->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

void uctIPAddressCtrl::attachFont(IPAddrFont* font)
{
    if (m_Font == font)
        return;
    if (m_Font)
        disconnect(m_Font, nullptr, this, nullptr);
    m_Font = font;
    connect(font, &IPAddrFont::FontChanged, this, &uctIPAddressCtrl::m_Font_FontChanged);
    // A font object destroyed by its holder leaves the control a default one.
    connect(font, &QObject::destroyed, this, [this] { attachFont(new IPAddrFont(this)); });
}

void uctIPAddressCtrl::fontPropertyChanged()
{
    emit PropertyChanged(QStringLiteral("Font"));
    m_Font_FontChanged(QString());
}

void uctIPAddressCtrl::m_Font_FontChanged(const QString& PropertyName)
{
    Q_UNUSED(PropertyName);
    if (!m_Font)
        return;
    const int height = FontHeight(m_Font->Size(), logicalDpiY());
    QFont font;
    font.setFamilies({m_Font->Name()});
    // A height of 0 asks for the default size.
    if (height != 0)
        font.setPixelSize(std::abs(height));
    font.setWeight(m_Font->Bold() ? QFont::Bold : QFont::Normal);
    font.setItalic(m_Font->Italic());
    font.setUnderline(m_Font->Underline());
    font.setStrikeOut(m_Font->Strikethrough());
    m_hWnd->setFont(font);
}
