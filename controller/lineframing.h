// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// A serial line set up as a connection text asks: the one mapping of its rate, parity
// letter and stop-bit text onto the port, for the link and the scanner alike.

#include "controller/conntext.h"

class QSerialPort;

// The rate, 8 data bits, the parity, the stop bits and no flow control. Not every
// platform can send one and a half stop bits: two are then sent, which a receiver that
// expects one and a half reads correctly. A pseudo-terminal (device under /dev/pts/)
// has no line and Linux keeps no parity or stop bits there, so only a real port must
// take them. False when the port refused a setting it must take.
bool SetLineFraming(QSerialPort& port, const ConnText& t, const QString& device);
