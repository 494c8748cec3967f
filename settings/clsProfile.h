// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// clsProfile: one INI file, read and written by section and key with the Windows
// private-profile rules (see settings/inifile.h). Every member goes to the file; the
// class keeps nothing but the file name. Writes reach the file at once, atomically.

#include <QString>
#include <QStringList>

class clsProfile {
public:
    // FileName starts as the program's folder, the separator, the executable's name
    // without extension and ".ini".
    clsProfile();
    // Calls Flush.
    ~clsProfile();
    clsProfile(const clsProfile&) = delete;
    clsProfile& operator=(const clsProfile&) = delete;

    // The value of Key in Section; defVal when the file, section or key is missing;
    // empty whatever defVal is when the key's value is empty. Values longer than
    // 199998 characters are cut there.
    QString GetString(const QString& Section, const QString& Key,
                      const QString& defVal = QString()) const;
    // The leading decimal number (optional sign) of Key's value: defVal when the key is
    // missing or empty, 0 when the value does not start with a number.
    qint32 GetInt(const QString& Section, const QString& Key, qint32 defVal = 0) const;
    // Section names in file order; no elements for a missing or empty file.
    QStringList GetSectNames() const;
    // Sets Key in Section to Data; true when the file was written.
    bool WriteString(const QString& Section, const QString& Key, const QString& Data);
    // Removes Key from Section; true when the key is gone.
    bool DeleteKey(const QString& Section, const QString& Key);
    // Removes Section with all its keys; true when it is gone.
    bool DeleteSection(const QString& Section);
    // Writes cached changes back. Every write has already reached the file, so this
    // only keeps the class's interface; its outcome is not reported.
    void Flush();

    QString FileName() const { return m_strFileName; }
    void FileName(const QString& strFileName) { m_strFileName = strFileName; }
    void SetFileName(const QString& strFileName) { m_strFileName = strFileName; }

    // The characters a profile call is offered (its buffer holds 200000; the
    // terminating NUL included).
    static constexpr int kCallChars = 199999;

private:
    QString m_strFileName;
};
