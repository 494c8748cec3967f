// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "settings/modFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QChar PathSeparator()
{
    return QDir::separator();
}

QString GetSpecialFolderPath(qint32 csidl)
{
    QString path;
    switch (csidl) {
    case CSIDL_APPDATA:
#ifdef Q_OS_WIN
        path = qEnvironmentVariable("APPDATA");
#else
        path = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        // A relative XDG_CONFIG_HOME is invalid by the XDG rules and ignored; taken as
        // it is, the settings would move with the current directory.
        if (!QDir::isAbsolutePath(path))
            path = QDir::homePath() + QStringLiteral("/.config");
#endif
        break;
    default:
        return QString();
    }
    if (path.isEmpty())
        return QString();
    return AddBackslash(QDir::toNativeSeparators(path));
}

QString UserBaseFolder(const char* xdgVariable, const char* homeFallback, const char* windowsVariable)
{
#ifdef Q_OS_WIN
    Q_UNUSED(xdgVariable);
    Q_UNUSED(homeFallback);
    return qEnvironmentVariable(windowsVariable);
#else
    Q_UNUSED(windowsVariable);
    const QString base = qEnvironmentVariable(xdgVariable);
    return QDir::isAbsolutePath(base) ? base : QDir::homePath() + QLatin1String(homeFallback);
#endif
}

QString StateFolder()
{
    const QString base = UserBaseFolder("XDG_STATE_HOME", "/.local/state", "LOCALAPPDATA");
    if (base.isEmpty())
        return QString();
    return AddBackslash(QDir::toNativeSeparators(QDir::cleanPath(base + QStringLiteral("/Tolvane"))));
}

QString AddBackslash(const QString& path)
{
    if (path.isEmpty())
        return path;
    const QChar sep = PathSeparator();
    if (path.back() == sep)
        return path;
#ifdef Q_OS_WIN
    if (path.back() == u'/')
        return path;
#endif
    return path + sep;
}

bool FolderExists(const QString& path)
{
    if (path.isEmpty())
        return false;
    return QFileInfo(path).isDir();
}

bool CreateFolderPath(const QString& path)
{
    if (path.isEmpty())
        return true;
    // Work on an absolute, cleaned path with "/" so that QDir::mkdir never depends on
    // the current directory; the current directory itself is never changed.
    const QString abs = QDir::cleanPath(QDir::current().absoluteFilePath(QDir::fromNativeSeparators(path)));
    // The root: "/" on Linux; "C:/" or "//server/share/" on Windows.
    qsizetype rootLen = 0;
    if (abs.startsWith(u"//")) {
        const qsizetype server = abs.indexOf(u'/', 2);
        const qsizetype share = server < 0 ? -1 : abs.indexOf(u'/', server + 1);
        rootLen = share < 0 ? abs.size() : share + 1;
    } else if (abs.size() >= 2 && abs.at(1) == u':') {
        rootLen = abs.size() >= 3 ? 3 : 2;
    } else if (abs.startsWith(u'/')) {
        rootLen = 1;
    }
    QDir dir;
    qsizetype pos = rootLen;
    while (pos < abs.size()) {
        qsizetype slash = abs.indexOf(u'/', pos);
        if (slash < 0)
            slash = abs.size();
        const QString folder = abs.left(slash);
        // Another process may make the folder between the test and mkdir: what counts
        // is that it is there afterwards.
        if (!QFileInfo(folder).isDir() && !dir.mkdir(folder) && !QFileInfo(folder).isDir())
            return false;
        pos = slash + 1;
    }
    return true;
}

namespace {

QString executablePath()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
#ifdef Q_OS_LINUX
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
#else
    return QString();
#endif
}

} // namespace

QString AppPath()
{
    const QString exe = executablePath();
    if (exe.isEmpty())
        return QString();
    return QDir::toNativeSeparators(QFileInfo(exe).absolutePath());
}

QString AppExeName()
{
    const QFileInfo exe(executablePath());
#ifdef Q_OS_WIN
    return exe.completeBaseName();  // "tolvane.exe" -> "tolvane"
#else
    // Linux executables carry no extension: a dot in the name is part of it.
    return exe.fileName();
#endif
}
