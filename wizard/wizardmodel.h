// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The wizard's rules without a window: the items and start values of its lists, what
// the pages show once the controller's settings are read, how the pages' values merge
// into CommSettings (and whether that is a change), the order of the steps, and the
// controller calls of each press. The main window keeps the values in its controls and
// hands them in; tolvanectl fills the same structures from its command line.

#include "controller/commlink.h"
#include "controller/engine.h"
#include "controller/vocabulary.h"

#include <QElapsedTimer>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

namespace wizard {

// The steps, in the order of the pages.
enum Step { kConnection = 0, kPermission = 1, kEthernet = 2, kSerial = 3, kToken = 4 };

// Positions of the permission device list (cmbDevice): the settings' own.
using vocab::Device;
using enum vocab::Device;

// One list: the items' texts and item data, and the position selected at start.
struct ListItems {
    QStringList texts;
    QList<qint32> data;
    int start = 0;
    qint32 startValue() const { return data.value(start); }
};

// The serial lists (the connection page's and the RS232C page's hold the same items).
const ListItems& BaudRates();    // 9600 … 115200, start 38400
const ListItems& Parities();     // Even, None, Odd as 0, 1, 2; start None
const ListItems& DataLengths();  // 5 … 8, start 8
const ListItems& StopBits();     // "1", "1.5", "2" as 0, 1, 2; start 1
const ListItems& Delimiters();   // CR, CRLF as 0, 1; start CR
const ListItems& Devices();      // Ethernet, RS232C; start Ethernet

// The address the connection page and the token page start with.
inline constexpr IPv4 kStartAddress{192, 168, 0, 1};

// The token page's options (vocab::kTokenCodes), Ethernet at start.
using vocab::kTokenElements, vocab::TokenCode, vocab::TokenElement;
inline constexpr int kStartTokenElement = 2;

// The permission device preselected after the first read: the one device whose usage
// word is set; nullopt when both or neither are (the list then keeps its choice).
std::optional<int> PreselectedDevice(const CommSettings& s);

// The values of the pages that go back to the controller.
struct EthernetPage {
    IPv4 ip{};
    IPv4 mask{};
};
// Item data of each list's selected item; nullopt when the list has nothing selected.
struct SerialPage {
    std::optional<qint32> baudRate, parity, dataLength, stopBits, delimiter;
};
struct TokenPage {
    int element = kStartTokenElement;  // -1: no option selected
    IPv4 ip = kStartAddress;
};

SerialPage StartSerialPage();

// What the pages show once the settings are read: the stored values; a list without an
// item for the stored code, and the token options without an option for it, keep what
// they showed.
EthernetPage ShowEthernet(const CommSettings& s);
SerialPage ShowSerial(const CommSettings& s, const SerialPage& shown);
TokenPage ShowToken(const CommSettings& s);

// The merges of leaving a page; each answers whether a value changed. A list with
// nothing selected, and a token page with no option selected, leave their fields alone.
bool MergeEthernet(CommSettings& s, const EthernetPage& page);
bool MergeSerial(CommSettings& s, const SerialPage& page);
// The token page and the permission device: a write puts 2 into the usage word of the
// device chosen and 0 into the other, so a new device alone is a change.
bool MergeToken(CommSettings& s, const TokenPage& page, int device);

// The page after Next on pages 1 to 3 and the page after Back on pages 1 to 4; the
// device pages follow the device chosen, and without one the step stays.
int NextStep(int step, int device);
int BackStep(int step, int device);

// The controller's error, asked before every press while connected: 0 when there is
// none. ask(code) answers whether to go on; going on clears the error (a refused clear
// goes on like a cleared one). false: the press ends here.
bool PassControllerError(CommLink& link, const std::function<bool(qint32 code)>& ask);

// Next on the connection page: connect, then read and decode both records.
enum class Opened { kDone, kConnectFailed, kReadFailed };
Opened ConnectAndRead(CommLink& link);

// Complete: the records are read again and the merged settings written into them, so
// that what another client changed meanwhile is kept. When that read fails nothing is
// written: the controller keeps its settings rather than a stale merge.
bool WriteBack(CommLink& link);

// The progress line of a record's move: kilobytes with one decimal, and the seconds
// left, rounded up, once a second of the move has shown its rate.
QString ProgressText(const TransferProgress& p, qint64 elapsedMs);

// What one display of the engine's reports (the window's button band, tolvanectl's
// terminal line) shows: a record's move once it has lasted kProgressDelayMs, so that quick
// moves, as on Ethernet, never flash it; in its place, while a call has waited
// kWaitDelayMs for the controller, that it waits and when it gives up. Each report
// answers the line to show now; nullopt: none (the display takes its line away).
inline constexpr int kProgressDelayMs = 300;
inline constexpr int kWaitDelayMs = 1000;
class ProgressLine {
public:
    std::optional<QString> take(const TransferProgress& p);
    std::optional<QString> take(const WaitProgress& w);
    bool moving() const { return m_clock.isValid(); }    // a record's move is under way
    bool waiting() const { return m_wait.has_value(); }  // the line is the wait's
    // The wait's line with a shorter fixed part and the same seconds, for a display
    // too narrow for the whole one.
    std::optional<QString> shortLine() const { return m_waitShort; }

private:
    std::optional<QString> line() const { return m_wait ? m_wait : m_move; }
    QElapsedTimer m_clock;  // since the current move's first report
    std::optional<QString> m_move, m_wait, m_waitShort;
};

// The widest id or model shown whole.
inline constexpr int kPrintableWidth = 48;

// A text a controller or a file chose (an id, a model) as tolvanectl's text output and
// the wizard's lists show it: a backslash, control and format characters and line
// breaks escaped (\\, \n, \x1b, \u202e), so that nothing reaches a terminal as a
// command or a fake line, or turns a list's text around, and cut to maxWidth characters
// with "..." at the end.
QString Printable(const QString& text, int maxWidth = kPrintableWidth);

}  // namespace wizard
