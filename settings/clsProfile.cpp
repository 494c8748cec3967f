// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "settings/clsProfile.h"

#include "settings/inifile.h"
#include "settings/modFile.h"

clsProfile::clsProfile()
    : m_strFileName(AppPath() + PathSeparator() + AppExeName() + QStringLiteral(".ini"))
{
}

clsProfile::~clsProfile()
{
    Flush();
}

QString clsProfile::GetString(const QString& Section, const QString& Key,
                              const QString& defVal) const
{
    QString buffer;
    const int n = GetPrivateProfileString(Section, Key, defVal, &buffer, kCallChars, m_strFileName);
    if (n <= 0)
        return QString();
    return buffer.left(buffer.indexOf(QChar(0)));
}

qint32 clsProfile::GetInt(const QString& Section, const QString& Key, qint32 defVal) const
{
    return GetPrivateProfileInt(Section, Key, defVal, m_strFileName);
}

QStringList clsProfile::GetSectNames() const
{
    QString buffer;
    const int n = GetPrivateProfileSectionNames(&buffer, kCallChars, m_strFileName);
    if (n < 1)
        return {};
    qsizetype end = buffer.size();
    while (end > 0 && buffer.at(end - 1) == QChar(0))
        --end;
    return buffer.left(end).split(QChar(0));
}

bool clsProfile::WriteString(const QString& Section, const QString& Key, const QString& Data)
{
    // A null QString would mean "no value" (delete) to the profile call; WriteString
    // always writes, so an empty key or data is passed as empty text.
    return WritePrivateProfileString(Section.isNull() ? QStringLiteral("") : Section,
                                     Key.isNull() ? QStringLiteral("") : Key,
                                     Data.isNull() ? QStringLiteral("") : Data, m_strFileName);
}

bool clsProfile::DeleteKey(const QString& Section, const QString& Key)
{
    return WritePrivateProfileString(Section.isNull() ? QStringLiteral("") : Section,
                                     Key.isNull() ? QStringLiteral("") : Key, QString(),
                                     m_strFileName);
}

bool clsProfile::DeleteSection(const QString& Section)
{
    return WritePrivateProfileString(Section.isNull() ? QStringLiteral("") : Section, QString(),
                                     QString(), m_strFileName);
}

void clsProfile::Flush()
{
    WritePrivateProfileString(QString(), QString(), QString(), m_strFileName);
}
