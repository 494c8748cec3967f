// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// What a link to a controller is given, what it reports and what it throws: the layer
// under the engine, which builds its calls on these.

#include "controller/conntext.h"

#include <QString>
#include <functional>
#include <stdexcept>

class EngineError : public std::runtime_error {
public:
    // Codes 1..8 are the controller's non-OK statuses; the others are the engine's own.
    enum Code {
        kUnknownName = 1, kMalformed = 2, kOutOfRange = 3, kDenied = 4, kNotOpen = 5,
        kFailed = 6, kUnsupported = 7, kBadSize = 8,
        kBadProvider = 100,    // unknown provider name
        kBadOptions = 101,     // malformed option string
        kBadConnection = 102,  // connection text that names no usable link
        kConnectFailed = 103,  // link could not be opened
        kTimeout = 104,        // controller silent for T ms on every attempt
        kLinkLost = 105,       // TCP connection dropped or serial line error
        kBusy = 106,           // an engine call was made while another one waits
        kNoSuchIndex = 107,    // remove() with an index the collection does not hold
        kTypeMismatch = 108,   // argument of the wrong type
        kProtocol = 109,       // a response the client cannot understand
        kClosed = 110,         // the controller has been removed
        kChanged = 111,        // a write refused: the record changed since it was read
        kCancelled = 112,      // the caller ended the wait (Engine::cancel)
        kPortBusy = 113,       // the serial port stayed held by another program
        kNotRead = 114,        // a write of bytes this session has not read
    };
    EngineError(int code, const QString& message);
    int code() const { return m_code; }
private:
    int m_code;
};

// Options of the provider's connection-option string.
struct LinkOptions {
    int timeoutMs = 4000;  // inactivity bound of one attempt
    int retries = 3;       // further attempts after the first
    QString conn;          // connection text: eth:A.B.C.D or com:N:BAUD:P:DATA:STOP
    bool recordCache = true;  // records kept on disk between sessions (RecordCache=Off)
};
// Parses "Timeout=T, TORetry=R, Conn=..., RecordCache=On|Off" (keys and On/Off
// case-insensitive, blanks ignored, unknown keys ignored). Throws kBadOptions on a
// malformed number or On/Off, or a missing Conn.
LinkOptions ParseLinkOptions(const QString& options);

// A connection text the link can use, with the device of COM N looked up.
struct ConnectionTarget : ConnText {
    QString device;  // com: device path of COM N
};
// Throws kBadConnection for a text that names no usable link (DATA other than 8
// included: the link is binary), or COM N without a device.
ConnectionTarget ParseConnectionText(const QString& conn);

// What has moved on one controller's link: request frames sent (retries included) and
// bytes each way, frames whole.
struct LinkTraffic {
    quint64 attempts = 0;
    quint64 bytesSent = 0;
    quint64 bytesReceived = 0;
};

// How long the call under way has waited for a controller: connecting, or a request
// beyond the line time of the request and its answer (nothing on TCP); and the longest it
// may still take, its retries included. Reported about every 100 ms while a call waits,
// and once with finished set when it ends, also after a failure.
struct WaitProgress {
    qint64 waitedMs = 0;
    qint64 leftMs = 0;
    bool finished = false;
};

using WaitHook = std::function<void(const WaitProgress&)>;

// What an engine shares with the links it opens: its wait hook, and whether it was
// cancelled (its links then only wind their sessions up).
struct LinkWatch {
    WaitHook report;
    bool cancelled = false;
};

// Guards every public engine call: a call made while another one waits (from an event
// handled by the waiting loop) throws kBusy instead of re-entering the link. There is
// one call under way at a time, so what ends its wait lives here too.
class CallGuard {
public:
    CallGuard();
    ~CallGuard();
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;
    static bool busy();
    // Milliseconds since the call under way began (for the wire trace).
    static qint64 elapsedMs();
    // Ends the wait of the call under way, or its next one when it is between two
    // requests; nothing when no call is under way. A cancel no wait took ends with its call.
    static void cancelWait();
    static bool cancelPending();
    static bool takeCancel();  // true once for each cancel
    // Set by a wait while it runs: what ends it.
    static void setWake(std::function<void()> wake);
};
