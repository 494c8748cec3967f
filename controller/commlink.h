// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The controller routines of the wizard: connection, error check and the two settings
// records. One CommLink lives as long as the main window and owns the engine object,
// the workspace, the controller of the current connection, the connected flag,
// CommSettings and the kept values of the controller records.
// No routine lets an exception out: failures come back as false or -1.

#include "controller/recordlayout.h"
#include "controller/vocabulary.h"
#include "ipv4/ipv4.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <utility>

class ControllerView;
struct TransferProgress;  // controller/engine.h
struct WaitProgress;

struct CommSettings {
    qint32 rs232cUsage = 0;   // vocab::kUsageChosen when RS232C is the permission device
    qint32 baudRate = 0;
    qint32 parity = 0;        // 0 even, 1 none, 2 odd
    qint32 dataLength = 0;
    qint32 stopBits = 0;      // 0 one, 1 one and a half, 2 two
    qint32 delimiter = 0;     // 0 CR, 1 CR LF
    qint32 ethernetUsage = 0; // vocab::kUsageChosen when Ethernet is the permission device
    IPv4 ipAddress{};
    IPv4 subnetMask{};
    qint32 tokenCode = 0;     // 65535 Open, 0 I/O, 1 Ethernet, 2..4 COM2..COM4
    IPv4 tokenIp{};
    bool operator==(const CommSettings&) const = default;
};

qint32 BytesToLong(qint32 b0, qint32 b1, qint32 b2, qint32 b3);  // throws on overflow
bool LongToBytes(QByteArray& bytes, qint32 value);              // throws on negative
// Whether a write with the permission device at this cmbDevice position
// (vocab::Device) changes the usage words (vocab::UsageWordsFor).
bool PermissionChanges(const CommSettings& s, int devicePosition);

// The two settings records as the wizard reads and writes them. DecodeRawCom throws on
// a record shorter than 128 bytes (nothing decoded) or on a field that overflows (the
// fields before it decoded); DecodeToken leaves the token as it was when the record is
// too short to hold it. The encoders change only the bytes of the fields they write,
// and return a record too short for them unchanged (EncodeRawCom throws instead).
void DecodeRawCom(const QByteArray& record, CommSettings& s);
void DecodeToken(const QByteArray& record, CommSettings& s);
QByteArray EncodeRawCom(QByteArray record, const CommSettings& s, int devicePosition);
QByteArray EncodeToken(QByteArray record, const CommSettings& s);

class Engine;     // controller/engine.h
class Workspace;
class Controller;

class CommLink {
public:
    // Creates the engine object and its workspace; ok() is false when that failed.
    explicit CommLink(ControllerView& view);
    ~CommLink();  // disconnects, then releases the workspace and the engine object
    bool ok() const;

    bool ConnectController();
    void DisconnectController();  // may throw an engine error, as the routine has no handler
    bool connected() const;

    qint32 GetControllerErrorCode();
    void ClearControllerError(qint32 code);  // may throw an engine error

    bool ReadCommSettings(bool decode);
    bool WriteCommSettings();
    // The two settings records are read in part (rec::SettingsSpans), their kept values
    // 0 outside what was read; the other records whole.
    bool ReadControllerRecord(const QString& name, bool decode);
    bool WriteControllerRecord(const QString& name);

    // Backup and restore: every record of rec::kAllRecords read whole inside one access
    // bracket (kept as read), and records written as given, inside one write
    // transaction and access bracket: all of them or, on any failure, none.
    bool ReadAllRecords();
    bool WriteRecords(const QList<std::pair<QString, QByteArray>>& records);

    // Why the last connect, read or write sequence failed: the engine's error code of the
    // first failed call (EngineError::Code: kDenied when another client holds the access
    // bracket, kChanged when a record changed since it was read, kPortBusy when another
    // program held the serial port, ...), 0 when it did not fail or failed without an
    // engine error. For messages that say more than the wizard's texts.
    int lastFailure() const;
    // The engine's own words for that failure, where and why ("the connection was refused
    // by 127.0.0.1 port 47311", "no answer to OPEN from COM7 (/dev/ttyS6) at 9600 baud
    // within 4000 ms × 4 attempts"); empty with lastFailure 0.
    QString lastFailureText() const;

    // Progress of each record's move, for a progress bar (see Engine::setProgressHook),
    // and how long each call waits for the controller (Engine::setWaitHook).
    void setProgressHook(std::function<void(const TransferProgress&)> hook);
    void setWaitHook(std::function<void(const WaitProgress&)> hook);

    // The user's Cancel while a routine waits for the controller. The wait ends at once
    // (the commit of a write excepted: it runs on to its answer, so that what it did is
    // known and reported); the sequence under way ends its access bracket and write
    // transaction without commit, so the controller keeps what it had, and every routine
    // after it fails at once. Disconnecting still sends CLOSE.
    void Cancel();
    bool cancelled() const;

    CommSettings& settings();
    const CommSettings& settings() const;
    QByteArray keptValue(const QString& name) const;  // empty when none kept

    // The connection text of the view's values (eth:A.B.C.D, com:N:BAUD:P:DATA:STOP);
    // empty when a list has nothing selected.
    QString connectionText() const;
    // The controller connected: its id and model as it named itself; empty when none.
    QString controllerId() const;
    QString controllerModel() const;

    // The option string of the last connect attempt (for tests and logs).
    QString lastOptions() const;

    // Timeout (ms) and TORetry of the option string; the wizard keeps 4000 and 3,
    // tests and tolvanectl may choose others.
    void setLinkOptions(int timeoutMs, int retries);
    // Whether the engine uses the records it keeps between sessions (on by default);
    // off adds "RecordCache=Off" to the option string.
    void setRecordCache(bool on);

    // The engine objects, for call traces and collection counts in tests.
    Engine* engine() const;
    std::shared_ptr<Workspace> workspace() const;
    std::shared_ptr<Controller> controller() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
