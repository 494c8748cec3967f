// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/lineframing.h"

#include <QFileInfo>
#include <QSerialPort>

bool SetLineFraming(QSerialPort& port, const ConnText& t, const QString& device)
{
    const bool ok = port.setBaudRate(t.baud) && port.setDataBits(QSerialPort::Data8)
                    && port.setFlowControl(QSerialPort::NoFlowControl);
    bool framing = port.setParity(t.parity == 'E'   ? QSerialPort::EvenParity
                                  : t.parity == 'O' ? QSerialPort::OddParity
                                                    : QSerialPort::NoParity);
    const bool oneAndHalf = t.stopBits == QLatin1String("1.5") && port.setStopBits(QSerialPort::OneAndHalfStop);
    if (t.stopBits == QLatin1String("1"))
        framing = port.setStopBits(QSerialPort::OneStop) && framing;
    else if (!oneAndHalf)
        framing = port.setStopBits(QSerialPort::TwoStop) && framing;
    const bool pseudoTerminal = QFileInfo(device).canonicalFilePath().startsWith(QLatin1String("/dev/pts/"));
    if (!ok || !(framing || pseudoTerminal))
        return false;
    port.clearError();
    return true;
}
