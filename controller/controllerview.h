// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// What the controller routines read from the wizard window. The main window implements
// it; tolvanectl and tests implement it without any window.

#include "ipv4/ipv4.h"

#include <QString>
#include <array>
#include <optional>

class ControllerView {
public:
    virtual ~ControllerView() = default;
    // Connection page: optDevice element 0 selected means Ethernet.
    virtual bool EthernetSelected() const = 0;
    // uctIPAddress1, first octet first.
    virtual IPv4 ConnectAddress() const = 0;
    // Item data of the selected cmbPort1 / cmbBaudRate1 / cmbDataLength1 item,
    // the selected position of cmbParity1, the selected text of cmbStopbit1;
    // std::nullopt when the list has nothing selected.
    virtual std::optional<int> PortNumber() const = 0;
    virtual std::optional<int> BaudRate() const = 0;
    virtual std::optional<int> ParityPosition() const = 0;
    virtual std::optional<int> DataLength() const = 0;
    virtual std::optional<QString> StopBitText() const = 0;
    // Permission page: position selected in cmbDevice (0 Ethernet, 1 RS232C), -1 none.
    virtual int DevicePosition() const = 0;
};

// A window-less ControllerView that holds plain values: what tolvanectl fills in from its
// command line, and what tests set. An unset list (std::nullopt) has nothing selected.
class ControllerSelections : public ControllerView {
public:
    bool ethernet = true;
    IPv4 address{};
    std::optional<int> port, baud, parity, dataLength;
    std::optional<QString> stopBit;
    int device = -1;

    bool EthernetSelected() const override { return ethernet; }
    IPv4 ConnectAddress() const override { return address; }
    std::optional<int> PortNumber() const override { return port; }
    std::optional<int> BaudRate() const override { return baud; }
    std::optional<int> ParityPosition() const override { return parity; }
    std::optional<int> DataLength() const override { return dataLength; }
    std::optional<QString> StopBitText() const override { return stopBit; }
    int DevicePosition() const override { return device; }
};
