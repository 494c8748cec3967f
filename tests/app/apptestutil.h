// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Shared helpers of the wizard tests: a private settings folder, the language file,
// the message-box seam and finding controls by name.

#include "app/frmMain.h"
#include "controls/uctIPAddressCtrl.h"
#include "locale/modLocale.h"
#include "localeui/lmsgbox.h"
#include "settings/modFile.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <deque>
#include <functional>

namespace apptest {

// Points the application-data folder at a fresh temporary folder (before any window).
inline void UseConfigHome(const QTemporaryDir& dir)
{
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
}

inline QString SettingsDir()
{
    return QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath(QStringLiteral("Tolvane"));
}

// Writes the settings file's language key; an empty value writes "ID=" as is.
inline void WriteLangId(const QString& value)
{
    QDir().mkpath(SettingsDir());
    QFile file(SettingsDir() + QLatin1Char('/') + AppExeName() + QStringLiteral(".ini"));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[LangID]\nID=" + value.toUtf8() + "\n");
}

inline void RemoveSettingsFile()
{
    QFile::remove(SettingsDir() + QLatin1Char('/') + AppExeName() + QStringLiteral(".ini"));
}

// Answers LMsgBox calls from a queue (OK when empty) and records every call.
class MsgBoxRecorder {
public:
    MsgBoxRecorder()
    {
        SetMsgBoxHandler([this](const MsgBoxCall& call) {
            calls.append(call);
            if (during)
                during(call);
            if (answers.empty())
                return int(MsgBox::IdOK);
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        });
    }
    ~MsgBoxRecorder() { SetMsgBoxHandler({}); }
    MsgBoxRecorder(const MsgBoxRecorder&) = delete;
    MsgBoxRecorder& operator=(const MsgBoxRecorder&) = delete;

    QList<MsgBoxCall> calls;
    std::deque<int> answers;
    std::function<void(const MsgBoxCall&)> during;  // runs while the box would be open
};

template <class T>
T* Find(const QWidget& window, const char* name)
{
    T* child = window.findChild<T*>(QLatin1String(name));
    if (!child)
        qWarning("no control %s", name);
    return child;
}

inline std::array<quint8, 4> GetIP(const QWidget& window, const char* name)
{
    std::array<quint8, 4> ip{};
    Find<uctIPAddressCtrl>(window, name)->GetIPAddress(ip[0], ip[1], ip[2], ip[3]);
    return ip;
}

inline void SetIP(const QWidget& window, const char* name, std::array<quint8, 4> ip)
{
    Find<uctIPAddressCtrl>(window, name)->SetIPAddress(ip[0], ip[1], ip[2], ip[3]);
}

// Option buttons react to clicks on their indicator and caption only, at the left.
inline void ClickOption(QRadioButton* option)
{
    QTest::mouseClick(option, Qt::LeftButton, {}, QPoint(6, option->height() / 2));
}

inline void Click(const QWidget& window, const char* button)
{
    QTest::mouseClick(Find<QPushButton>(window, button), Qt::LeftButton);
}

}  // namespace apptest
