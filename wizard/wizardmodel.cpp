// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "wizard/wizardmodel.h"

#include "locale/modLocale.h"

#include <algorithm>
#include <array>

namespace wizard {

namespace {

// Copies value into field; true when that changed it.
template <class T>
bool Take(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

bool TakeSelected(qint32& field, const std::optional<qint32>& selected)
{
    return selected && Take(field, *selected);
}

// The page of the device chosen; otherwise when none is.
int DevicePage(int device, int otherwise)
{
    return device == kEthernetDevice ? kEthernet : device == kSerialDevice ? kSerial : otherwise;
}

std::optional<qint32> Shown(const ListItems& list, qint32 stored, const std::optional<qint32>& shown)
{
    return list.data.contains(stored) ? std::optional<qint32>(stored) : shown;
}

}  // namespace

const ListItems& BaudRates()
{
    static const ListItems items = [] {
        ListItems list;
        for (int rate : vocab::kBaudRates) {
            if (rate == vocab::kStartBaudRate)
                list.start = int(list.data.size());
            list.texts << QString::number(rate);
            list.data << rate;
        }
        return list;
    }();
    return items;
}

const ListItems& Parities()
{
    static const ListItems items{{"Even", "None", "Odd"}, {0, 1, 2}, 1};
    return items;
}

const ListItems& DataLengths()
{
    static const ListItems items{{"5", "6", "7", "8"}, {5, 6, 7, 8}, 3};
    return items;
}

const ListItems& StopBits()
{
    static const ListItems items{vocab::Words(vocab::kStopBitTexts), {0, 1, 2}, 0};
    return items;
}

const ListItems& Delimiters()
{
    static const ListItems items{{"CR", "CRLF"}, {0, 1}, 0};
    return items;
}

const ListItems& Devices()
{
    static const ListItems items{{"Ethernet", "RS232C"}, {vocab::kEthernetDevice, vocab::kSerialDevice}, 0};
    return items;
}

std::optional<int> PreselectedDevice(const CommSettings& s)
{
    if (s.ethernetUsage != 0 && s.rs232cUsage == 0)
        return kEthernetDevice;
    if (s.ethernetUsage == 0 && s.rs232cUsage != 0)
        return kSerialDevice;
    return std::nullopt;
}

SerialPage StartSerialPage()
{
    return {BaudRates().startValue(), Parities().startValue(), DataLengths().startValue(),
            StopBits().startValue(), Delimiters().startValue()};
}

EthernetPage ShowEthernet(const CommSettings& s)
{
    return {s.ipAddress, s.subnetMask};
}

SerialPage ShowSerial(const CommSettings& s, const SerialPage& shown)
{
    return {Shown(BaudRates(), s.baudRate, shown.baudRate), Shown(Parities(), s.parity, shown.parity),
            Shown(DataLengths(), s.dataLength, shown.dataLength), Shown(StopBits(), s.stopBits, shown.stopBits),
            Shown(Delimiters(), s.delimiter, shown.delimiter)};
}

TokenPage ShowToken(const CommSettings& s)
{
    return {TokenElement(s.tokenCode), s.tokenIp};
}

bool MergeEthernet(CommSettings& s, const EthernetPage& page)
{
    const bool ip = Take(s.ipAddress, page.ip);
    const bool mask = Take(s.subnetMask, page.mask);
    return ip || mask;
}

bool MergeSerial(CommSettings& s, const SerialPage& page)
{
    bool changed = TakeSelected(s.baudRate, page.baudRate);
    changed = TakeSelected(s.parity, page.parity) || changed;
    changed = TakeSelected(s.dataLength, page.dataLength) || changed;
    changed = TakeSelected(s.stopBits, page.stopBits) || changed;
    changed = TakeSelected(s.delimiter, page.delimiter) || changed;
    return changed;
}

bool MergeToken(CommSettings& s, const TokenPage& page, int device)
{
    bool changed = page.element >= 0 && page.element < kTokenElements && Take(s.tokenCode, TokenCode(page.element));
    changed = Take(s.tokenIp, page.ip) || changed;
    return PermissionChanges(s, device) || changed;
}

int NextStep(int step, int device)
{
    switch (step) {
    case kPermission:
        return DevicePage(device, step);
    case kEthernet:
    case kSerial:
        return device == kEthernetDevice || device == kSerialDevice ? kToken : step;
    default:
        return step;
    }
}

int BackStep(int step, int device)
{
    switch (step) {
    case kPermission: return kConnection;
    case kEthernet:
    case kSerial: return kPermission;
    case kToken: return DevicePage(device, step);
    default: return step;
    }
}

bool PassControllerError(CommLink& link, const std::function<bool(qint32 code)>& ask)
{
    if (!link.connected())
        return true;
    const qint32 code = link.GetControllerErrorCode();
    if (code <= 0)
        return true;
    if (!ask(code))
        return false;
    try {
        link.ClearControllerError(code);
    } catch (...) {
        // a refused clear goes on like a cleared one
    }
    return true;
}

Opened ConnectAndRead(CommLink& link)
{
    if (!link.ok() || !link.ConnectController())
        return Opened::kConnectFailed;
    return link.ReadCommSettings(true) ? Opened::kDone : Opened::kReadFailed;
}

bool WriteBack(CommLink& link)
{
    return link.ReadCommSettings(false) && link.WriteCommSettings();
}

QString ProgressText(const TransferProgress& p, qint64 elapsedMs)
{
    const auto kb = [](quint32 bytes) { return QString::number(bytes / 1024.0, 'f', 1); };
    if (p.done == 0 || elapsedMs < 1000 || p.done >= p.total)
        return LFormat(p.writing ? 9019 : 9018, kb(p.done), kb(p.total));
    const qint64 leftMs = elapsedMs * qint64(p.total - p.done) / qint64(p.done);
    return LFormat(p.writing ? 9017 : 9016, kb(p.done), kb(p.total), (leftMs + 999) / 1000);
}

std::optional<QString> ProgressLine::take(const TransferProgress& p)
{
    m_move.reset();
    if (p.finished) {
        m_clock.invalidate();
        return line();
    }
    if (!m_clock.isValid())
        m_clock.start();
    const qint64 elapsed = m_clock.elapsed();
    if (elapsed >= kProgressDelayMs)
        m_move = ProgressText(p, elapsed);
    return line();
}

std::optional<QString> ProgressLine::take(const WaitProgress& w)
{
    m_wait.reset();
    m_waitShort.reset();
    if (!w.finished && w.waitedMs >= kWaitDelayMs) {
        const qint64 seconds = (w.leftMs + 999) / 1000;
        m_wait = LFormat(9020, seconds);
        m_waitShort = LFormat(9044, seconds);
    }
    return line();
}

QString Printable(const QString& text, int maxWidth)
{
    QStringList pieces;  // one a character, as shown
    qsizetype width = 0;
    for (const uint c : text.toUcs4()) {
        const QChar::Category category = QChar::category(char32_t(c));
        if (c == '\\')
            pieces << QStringLiteral("\\\\");
        else if (c == '\n' || c == '\r' || c == '\t')
            pieces << QStringLiteral("\\") + QLatin1Char(c == '\n' ? 'n' : c == '\r' ? 'r' : 't');
        else if (category == QChar::Other_Control || category == QChar::Other_Format
                 || category == QChar::Separator_Line || category == QChar::Separator_Paragraph)
            pieces << (c < 0x100     ? QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'))
                       : c < 0x10000 ? QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0'))
                                     : QStringLiteral("\\U%1").arg(c, 8, 16, QLatin1Char('0')));
        else
            pieces << QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
        width += pieces.last().size();
        if (width > maxWidth) {
            // Cut between two characters as shown, never inside an escape.
            while (!pieces.isEmpty() && width + 3 > maxWidth)
                width -= pieces.takeLast().size();
            return pieces.join(QString()) + QStringLiteral("...");
        }
    }
    return pieces.join(QString());
}

}  // namespace wizard
