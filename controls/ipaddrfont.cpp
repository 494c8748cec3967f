// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controls/ipaddrfont.h"

#include <QFont>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <limits>

const QString IPAddrFont::kDesignName = QStringLiteral(u"ＭＳ Ｐゴシック");

IPAddrFont::IPAddrFont(QObject* parent)
    : QObject(parent)
{
    if (qGuiApp) {
        Assign(QGuiApplication::font());
    } else {
        m_strName = QStringLiteral("Sans Serif");
        m_lSize = 9 * kSizeScale;
    }
}

IPAddrFont::IPAddrFont(const QString& name, double size, bool bold, bool italic,
                       bool underline, bool strikethrough, int charset, QObject* parent)
    : QObject(parent)
    , m_strName(name)
    , m_bBold(bold)
    , m_bItalic(italic)
    , m_bUnderline(underline)
    , m_bStrikethrough(strikethrough)
{
    SetSize(size);
    SetCharset(charset);
}

void IPAddrFont::SetName(const QString& strName)
{
    m_strName = strName;
    emit FontChanged(QStringLiteral("Name"));
}

bool IPAddrFont::SetSize(double fSize)
{
    if (!std::isfinite(fSize) || fSize < 0.0 || fSize > kMaxSize)
        return false;
    m_lSize = qRound64(fSize * double(kSizeScale));
    emit FontChanged(QStringLiteral("Size"));
    return true;
}

void IPAddrFont::setFlag(bool& member, bool value, const QString& propertyName)
{
    member = value;
    emit FontChanged(propertyName);
}

void IPAddrFont::SetBold(bool bBold)
{
    setFlag(m_bBold, bBold, QStringLiteral("Bold"));
}

void IPAddrFont::SetItalic(bool bItalic)
{
    setFlag(m_bItalic, bItalic, QStringLiteral("Italic"));
}

void IPAddrFont::SetUnderline(bool bUnderline)
{
    setFlag(m_bUnderline, bUnderline, QStringLiteral("Underline"));
}

void IPAddrFont::SetStrikethrough(bool bStrikethrough)
{
    setFlag(m_bStrikethrough, bStrikethrough, QStringLiteral("Strikethrough"));
}

bool IPAddrFont::SetCharset(int iCharset)
{
    if (iCharset < std::numeric_limits<qint16>::min() || iCharset > std::numeric_limits<qint16>::max())
        return false;
    m_iCharset = qint16(iCharset);
    emit FontChanged(QStringLiteral("Charset"));
    return true;
}

void IPAddrFont::Assign(const IPAddrFont& other)
{
    if (&other == this)
        return;
    SetName(other.Name());
    m_lSize = other.SizeFixed();
    emit FontChanged(QStringLiteral("Size"));
    SetBold(other.Bold());
    SetItalic(other.Italic());
    SetUnderline(other.Underline());
    SetStrikethrough(other.Strikethrough());
    SetCharset(other.Charset());
}

void IPAddrFont::Assign(const QFont& font)
{
    SetName(font.family());
    double points = font.pointSizeF();
    if (points <= 0.0 && font.pixelSize() > 0) {
        // A pixel-sized font: convert at the screen's resolution (72 points per inch).
        const QScreen* screen = qGuiApp ? QGuiApplication::primaryScreen() : nullptr;
        const double dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
        points = font.pixelSize() * 72.0 / dpi;
    }
    if (!SetSize(points))
        SetSize(9.0);
    SetBold(font.weight() >= QFont::DemiBold);
    SetItalic(font.italic());
    SetUnderline(font.underline());
    SetStrikethrough(font.strikeOut());
    SetCharset(0);
}

