// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// uctIPAddressCtrl: the four-field IP address entry of the wizard (uctIPAddress1, uctIP,
// uctIPAddress3, uctSubnetMask). It hosts one address window at its top left corner and
// gives its owner a byte-wise interface; the font comes from a shared font object.

#include "controls/ipaddrfont.h"
#include "controls/ipaddresswindow.h"

#include <QPointer>
#include <QWidget>

class uctIPAddressCtrl : public QWidget
{
    Q_OBJECT
    Q_CLASSINFO("RegisteredName", "Tolvane.uctIPAddressCtrl")
    // Window localization finds the font object by this property name.
    Q_PROPERTY(QObject* Font READ FontObject)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(bool FontBold READ FontBold WRITE SetFontBold)
    Q_PROPERTY(bool FontItalic READ FontItalic WRITE SetFontItalic)
    Q_PROPERTY(QString FontName READ FontName WRITE SetFontName)
    Q_PROPERTY(float FontSize READ FontSize WRITE SetFontSize)

public:
    // The control keeps one size whatever its container asks for.
    static constexpr int kTwipsPerPixel = 15;
    static constexpr int kWidthTwips = 2400;
    static constexpr int kHeightTwips = 315;
    static constexpr int kWidthPixels = kWidthTwips / kTwipsPerPixel;    // 160
    static constexpr int kHeightPixels = kHeightTwips / kTwipsPerPixel;  // 21

    // A new control shows 127.0.0.1 and holds a font object with default attributes;
    // that font is applied only by ReadProperties or a change of the font.
    explicit uctIPAddressCtrl(QWidget* parent = nullptr);
    ~uctIPAddressCtrl() override;

    void Clear();
    bool IsBlank() const;
    // Puts the caret into field 0 to 3 (its digits selected); any other index chooses
    // the first blank field, or field 0 when none is blank.
    void SetFieldFocus(qint32 intIndex);
    void SetIPAddress(quint8 byFirst, quint8 bySecond, quint8 byThird, quint8 byFourth);
    // Blank fields read as 0.
    void GetIPAddress(quint8& byFirst, quint8& bySecond, quint8& byThird, quint8& byFourth) const;
    // Highest before lowest; an index outside 0 to 3 does nothing.
    void SetFieldRange(qint32 lIndex, quint8 byMax, quint8 byMin);

    // The control's own enabled state (a disabled container does not change it).
    bool Enabled() const;
    void SetEnabled(bool bEnabled);
    // Whether the hosted address window is shown; the control itself, its size and
    // every other state stay as they are.
    bool Visible() const;
    // Not QWidget::setVisible: this one leaves the control itself as it is.
    void SetVisible(bool bVisible);  // NOLINT(bugprone-virtual-near-miss)

    IPAddrFont* Font() const { return m_Font; }
    QObject* FontObject() const { return m_Font; }
    // Makes newFont (shared, not owned) the control's font object and applies it; a
    // null object is refused and the current one kept.
    void SetFont(IPAddrFont* newFont);
    bool FontBold() const;
    void SetFontBold(bool bBold);
    bool FontItalic() const;
    void SetFontItalic(bool bItalic);
    QString FontName() const;
    void SetFontName(const QString& strName);
    float FontSize() const;
    void SetFontSize(float fSize);

    // Loading the saved properties: the font becomes a copy of savedFont, or of the
    // container's font when none is saved, and is applied.
    void ReadProperties(const IPAddrFont* savedFont);
    // ReadProperties with the main window's design font (9 pt, weight 400, character
    // set 128, "ＭＳ Ｐゴシック").
    void ReadDesignProperties();

    // The dotted address as copied ("" when blank) and as pasted (false: no change).
    QString AddressText() const { return m_hWnd->Text(); }
    bool SetAddressText(const QString& dotted) { return m_hWnd->SetText(dotted); }

    IPAddressWindow* HostedWindow() const { return m_hWnd; }

    // Packed address: first byte in bits 24-31 ... fourth in bits 0-7, formed with
    // signed 32-bit arithmetic (a first byte of 128 or more sets the top bit).
    static qint32 PackAddress(quint8 byFirst, quint8 bySecond, quint8 byThird, quint8 byFourth);
    static void UnpackAddress(qint32 packed, quint8& byFirst, quint8& bySecond, quint8& byThird,
                              quint8& byFourth);
    // Packed field range: highest in the high byte, lowest in the low byte.
    static quint16 PackRange(quint8 byMax, quint8 byMin);
    static void UnpackRange(quint16 packed, quint8& byMax, quint8& byMin);

    // a × b / c rounded to the nearest whole number, halves away from zero; -1 when c
    // is 0 or the result does not fit (the Windows MulDiv rule).
    static int MulDiv(int a, int b, int c);
    // Rounds a size in points to a whole number, halves to the even number.
    static int RoundPoints(double points);
    // The character height asked for a font of this size: -MulDiv(points, dpiY, 72).
    static int FontHeight(double points, int dpiY);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The address changed (typed, pasted, cleared or set by the program).
    void AddressChanged();
    // A property the container saves changed ("Font").
    void PropertyChanged(const QString& propertyName);

protected:
    void focusInEvent(QFocusEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // The fields are one tab stop: Tab and Shift+Tab leave the control.
    bool focusNextPrevChild(bool next) override;

private:
    // The fields take their names from the control's: its accessible name, else the
    // text of the label whose buddy it is.
    void updateFieldNames();
    QString spokenName() const;
    void attachFont(IPAddrFont* font);
    void fontPropertyChanged();
    void m_Font_FontChanged(const QString& PropertyName);

    IPAddressWindow* m_hWnd = nullptr;
    QPointer<IPAddrFont> m_Font;
};
