// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// File and folder routines used at start-up to find and make the settings folder.
// None of them shows anything or throws; each reports through its result. Paths use the
// platform's directory separator ("/" on Linux, "\" on Windows).

#include <QChar>
#include <QString>

// The platform's directory separator.
QChar PathSeparator();

// The path of a Windows special folder (CSIDL) ending in the separator, or empty when
// the id is unknown. 26 (application data) is %APPDATA% on Windows and the XDG
// configuration folder on Linux ($XDG_CONFIG_HOME, by default ~/.config).
QString GetSpecialFolderPath(qint32 csidl);
constexpr qint32 CSIDL_APPDATA = 26;

// A user's base folder: on Windows the environment variable windowsVariable names it, on
// Linux xdgVariable, or homeFallback under the home folder when that is unset or not
// absolute (a relative XDG path is invalid by the XDG rules). No separator at the end;
// empty when there is none.
QString UserBaseFolder(const char* xdgVariable, const char* homeFallback, const char* windowsVariable);

// The folder where the program keeps what it learns while it runs (the connections used
// recently), ending in the separator: %LOCALAPPDATA%\Tolvane\ on Windows,
// $XDG_STATE_HOME/Tolvane/ on Linux (by default ~/.local/state/Tolvane/). Not made here.
QString StateFolder();

// path with the separator appended when it does not already end in one; empty stays
// empty.
QString AddBackslash(const QString& path);

// True when path names an existing folder (a link to a folder counts).
bool FolderExists(const QString& path);

// Makes every missing folder of path from the left. True when the whole path exists
// afterwards (a root alone, or an empty path, is true without touching anything); false
// at the first folder that can be neither found nor made; the folders made before it
// stay. A relative path is taken from the current directory, which is never changed.
bool CreateFolderPath(const QString& path);

// The program's folder (no trailing separator) and the executable's name without its
// extension ("tolvane").
QString AppPath();
QString AppExeName();
