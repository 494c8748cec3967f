// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The IP address control's font object: a shared, observable description of a font
// (name, size in points, style flags and character set). Whoever holds the object may
// change it; the control listens to FontChanged and rebuilds the font of its entry.

#include <QObject>
#include <QString>

class QFont;

class IPAddrFont : public QObject
{
    Q_OBJECT
    // Window localization sets "Name" and "Charset" by these property names.
    Q_PROPERTY(QString Name READ Name WRITE SetName)
    Q_PROPERTY(double Size READ Size WRITE SetSize)
    Q_PROPERTY(bool Bold READ Bold WRITE SetBold)
    Q_PROPERTY(bool Italic READ Italic WRITE SetItalic)
    Q_PROPERTY(bool Underline READ Underline WRITE SetUnderline)
    Q_PROPERTY(bool Strikethrough READ Strikethrough WRITE SetStrikethrough)
    Q_PROPERTY(int Charset READ Charset WRITE SetCharset)

public:
    // Sizes are kept as fixed-point points with four decimals, as the saved font does.
    static constexpr qint64 kSizeScale = 10000;
    // Largest size accepted, in points; larger values are refused.
    static constexpr double kMaxSize = 32767.0;

    // The font the main window's design saves for its four address controls.
    static const QString kDesignName;          // "ＭＳ Ｐゴシック" (full-width letters)
    static constexpr double kDesignSize = 9.0; // weight 400, no style flags
    static constexpr int kDesignCharset = 128;

    // A new object holds the application's general font, character set 0.
    explicit IPAddrFont(QObject* parent = nullptr);
    IPAddrFont(const QString& name, double size, bool bold, bool italic, bool underline,
               bool strikethrough, int charset, QObject* parent = nullptr);

    QString Name() const { return m_strName; }
    double Size() const { return double(m_lSize) / double(kSizeScale); }
    qint64 SizeFixed() const { return m_lSize; }  // points × 10000
    bool Bold() const { return m_bBold; }
    bool Italic() const { return m_bItalic; }
    bool Underline() const { return m_bUnderline; }
    bool Strikethrough() const { return m_bStrikethrough; }
    int Charset() const { return m_iCharset; }

    // Every setter emits FontChanged with its property name, also when the value stays
    // the same (a holder that sets a value expects the font to be applied).
    void SetName(const QString& strName);
    // Refuses (returns false, changes nothing) a size that is not a number, negative or
    // above kMaxSize.
    bool SetSize(double fSize);
    void SetBold(bool bBold);
    void SetItalic(bool bItalic);
    void SetUnderline(bool bUnderline);
    void SetStrikethrough(bool bStrikethrough);
    // The character set is a 16-bit value; anything outside that range is refused.
    bool SetCharset(int iCharset);

    // Copies every attribute of another font object or of a QFont (character set 0).
    void Assign(const IPAddrFont& other);
    void Assign(const QFont& font);

signals:
    void FontChanged(const QString& propertyName);

private:
    void setFlag(bool& member, bool value, const QString& propertyName);

    QString m_strName;
    qint64 m_lSize = 0;
    bool m_bBold = false;
    bool m_bItalic = false;
    bool m_bUnderline = false;
    bool m_bStrikethrough = false;
    qint16 m_iCharset = 0;
};
