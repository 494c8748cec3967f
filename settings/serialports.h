// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Serial port names: COMn on Windows is \\.\COMn; on Linux the link ports/comN in the
// settings folder when it exists (like Wine's dosdevices), else COM1-32 /dev/ttyS0-31,
// COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31; COM97-256 only as links.

#include <QString>
#include <QStringList>

// The settings folder: the application-data folder followed by "Tolvane/", with the
// trailing separator.
QString SettingsFolder();
// Device path of COMn (1..256); empty when n is out of range or COMn has no device name.
QString ComPortDevice(int n);
// The names the lookup of COMn consults, in order, for a message that says where a
// port was looked for: the ports/comN link, and the /dev name when the link is absent.
QStringList ComPortNamesTried(int n);
// Opens the device for reading and writing with exclusive access and closes it again;
// true when it opened. A name that resolves to nothing (no such path) is not opened.
bool ProbeComPort(int n);

#include <QList>

// Probes COM1 to COM256 in order and gives the numbers of the ports that opened, for
// the connection page's port list. Names that do not exist are not opened at all.
QList<int> ProbeComPorts();
