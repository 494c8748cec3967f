// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The words and numbers of a controller's communication settings, written once for the
// wizard, tolvanectl, the scanner and the collection (which reads them from tolvanectl's
// help): the permission devices and their usage words, the parity letters, the stop-bit
// texts, the baud rates of the lists, the token options, and the bounds of the link's
// time-out and retries.

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <optional>

namespace vocab {

// Positions of the permission device list, and the names tolvanectl gives them.
enum Device { kNoDevice = -1, kEthernetDevice = 0, kSerialDevice = 1 };
inline constexpr std::array<const char*, 2> kDeviceNames = {"ethernet", "rs232c"};
// The device named so; nullopt for any other word.
std::optional<int> DeviceNamed(const QString& name);

// A write puts 2 into the usage word of the device chosen and 0 into the other's; a
// position that is no device writes neither (nullopt).
struct UsageWords {
    qint32 ethernet = 0;
    qint32 rs232c = 0;
};
inline constexpr qint32 kUsageChosen = 2;
std::optional<UsageWords> UsageWordsFor(int device);

// Parity: list position and stored code 0, 1, 2 are E, N and O in a connection text.
inline constexpr std::array<char, 3> kParityLetters = {'E', 'N', 'O'};
int ParityPosition(char letter);  // -1 for any other letter

// Stop bits: list position and stored code 0, 1, 2 are these texts.
inline constexpr std::array<const char*, 3> kStopBitTexts = {"1", "1.5", "2"};
int StopBitPosition(const QString& text);  // -1 for any other text

// The baud rates the connection page and the RS232C page offer; 38400 at start (the
// factory rate, which a scan of a port tries first).
inline constexpr std::array<int, 5> kBaudRates = {9600, 19200, 38400, 57600, 115200};
inline constexpr int kStartBaudRate = 38400;

// The link is binary: a serial line carries 8 data bits.
inline constexpr int kLinkDataBits = 8;

// The token page's options in their order: element 0 Open (code 65535), elements 1 to
// 5 the codes 0 to 4; tolvanectl names them.
inline constexpr int kTokenElements = 6;
inline constexpr std::array<qint32, kTokenElements> kTokenCodes = {65535, 0, 1, 2, 3, 4};
inline constexpr std::array<const char*, kTokenElements> kTokenNames = {"open", "io",   "ethernet",
                                                                        "com2", "com3", "com4"};
qint32 TokenCode(int element);  // the code of element 0..5
int TokenElement(qint32 code);  // -1 when no option stands for the code (5 … 65534)
std::optional<int> TokenNamed(const QString& name);

// The link's time-out of one attempt (ms) and its further attempts, as tolvanectl and
// the collection take them.
inline constexpr int kTimeoutMin = 1, kTimeoutMax = 3600000;
inline constexpr int kRetriesMin = 0, kRetriesMax = 100;

// The words of a list, as texts and help pages name them.
template <size_t N>
QStringList Words(const std::array<const char*, N>& words)
{
    QStringList out;
    for (const char* w : words)
        out << QString::fromLatin1(w);
    return out;
}
QString OneOf(const QStringList& words);  // "a, b or c"
QStringList ParityWords();                // "E", "N", "O"
QStringList BaudWords();                  // "9600" … "115200"

}  // namespace vocab
