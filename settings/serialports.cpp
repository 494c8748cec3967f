// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "settings/serialports.h"

#include "settings/modFile.h"

#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 256;

#ifndef Q_OS_WIN
// The link that makes any device the port COMn.
QString portLink(const QString& settingsFolder, int n)
{
    return settingsFolder + QStringLiteral("ports/com") + QString::number(n);
}

// COMn under a given settings folder: the ports/comN link first, then the /dev names.
QString comPortDeviceIn(const QString& settingsFolder, int n)
{
    if (n < kFirstPort || n > kLastPort)
        return QString();
    if (!settingsFolder.isEmpty()) {
        const QFileInfo link(portLink(settingsFolder, n));
        // The link decides even when it points nowhere: a dangling link resolves to
        // nothing rather than falling back to a /dev name the user did not mean.
        if (link.isSymLink() || link.exists())
            return link.canonicalFilePath();
    }
    if (n <= 32)
        return QStringLiteral("/dev/ttyS") + QString::number(n - 1);
    if (n <= 64)
        return QStringLiteral("/dev/ttyUSB") + QString::number(n - 33);
    if (n <= 96)
        return QStringLiteral("/dev/ttyACM") + QString::number(n - 65);
    return QString();
}

bool probeDevice(const QString& device)
{
    if (device.isEmpty())
        return false;
    const QByteArray path = QFile::encodeName(device);
    // No open attempt for a name that is not there, so probing 256 names stays quick.
    if (::access(path.constData(), F_OK) != 0)
        return false;
    int fd = -1;
    do {
        fd = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;  // EBUSY from an exclusive holder, EACCES, ENXIO, ...
    bool ok = ::isatty(fd) != 0;
#ifdef TIOCGEXCL
    // A privileged process may open a port another program holds exclusively; the
    // port is busy all the same, so it is not listed.
    if (ok) {
        int exclusive = 0;
        if (::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0)
            ok = false;
    }
#endif
    if (ok) {
        ok = ::ioctl(fd, TIOCEXCL) == 0;
        // Leave the port as it was found: the exclusive flag belongs to the tty, not to
        // this descriptor, and would otherwise shut out the next program to open it.
        if (ok)
            ::ioctl(fd, TIOCNXCL);
    }
    ::close(fd);
    return ok;
}
#endif

} // namespace

QString SettingsFolder()
{
    return GetSpecialFolderPath(CSIDL_APPDATA) + QStringLiteral("Tolvane") + PathSeparator();
}

QString ComPortDevice(int n)
{
#ifdef Q_OS_WIN
    if (n < kFirstPort || n > kLastPort)
        return QString();
    return QStringLiteral("\\\\.\\COM") + QString::number(n);
#else
    return comPortDeviceIn(SettingsFolder(), n);
#endif
}

QStringList ComPortNamesTried(int n)
{
#ifdef Q_OS_WIN
    return {ComPortDevice(n)};
#else
    if (n < kFirstPort || n > kLastPort)
        return {};
    const QString link = portLink(SettingsFolder(), n);
    const QFileInfo info(link);
    if (info.isSymLink() || info.exists())
        return {link};
    const QString device = comPortDeviceIn(QString(), n);
    return device.isEmpty() ? QStringList{link} : QStringList{link, device};
#endif
}

bool ProbeComPort(int n)
{
#ifdef Q_OS_WIN
    const QString device = ComPortDevice(n);
    if (device.isEmpty())
        return false;
    // Share mode 0: a port another program holds does not open.
    HANDLE h = ::CreateFileW(reinterpret_cast<LPCWSTR>(device.utf16()), GENERIC_READ | GENERIC_WRITE,
                             0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(h);
    return true;
#else
    return probeDevice(ComPortDevice(n));
#endif
}

QList<int> ProbeComPorts()
{
    QList<int> found;
#ifdef Q_OS_WIN
    for (int n = kFirstPort; n <= kLastPort; ++n)
        if (ProbeComPort(n))
            found.append(n);
#else
    const QString folder = SettingsFolder();  // looked up once for all 256 names
    for (int n = kFirstPort; n <= kLastPort; ++n)
        if (probeDevice(comPortDeviceIn(folder, n)))
            found.append(n);
#endif
    return found;
}
