// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/commlink.h"

#include "controller/controllerview.h"
#include "controller/engine.h"

#include <QVector>

#include <functional>
#include <limits>
#include <stdexcept>

namespace {

const QString kErrorCode = QString::fromLatin1(rec::kErrorCode);
const QString kRawCom = QString::fromLatin1(rec::kRawCom);
const QString kBackPrm = QString::fromLatin1(rec::kBackPrm);
// Records that are read and written back whole, without decoding: all but the two
// settings records.
const QStringList kWholeRecords = [] {
    QStringList names;
    for (const char* name : rec::kAllRecords)
        if (qstrcmp(name, rec::kRawCom) != 0 && qstrcmp(name, rec::kBackPrm) != 0)
            names << QString::fromLatin1(name);
    return names;
}();

constexpr int kRawComMinSize = rec::kRawComSettingsSize;
constexpr int kBackPrmMinSize = rec::kBackPrmSettingsSize;

using rec::kRs232cUsage, rec::kBaud, rec::kParity, rec::kDataLength, rec::kStopBits, rec::kDelimiter,
    rec::kEthernetUsage, rec::kIpAddress, rec::kSubnetMask;

qint32 longAt(const QByteArray& v, int offset)
{
    return BytesToLong(quint8(v[offset]), quint8(v[offset + 1]), quint8(v[offset + 2]), quint8(v[offset + 3]));
}

void putLong(QByteArray& v, int offset, qint32 value)
{
    QByteArray four(4, '\0');
    LongToBytes(four, value);
    for (int k = 0; k < 4; ++k)
        v[offset + k] = four[k];
}

QVariant signal(qint16 channel, qint16 phase)
{
    return QVariant::fromValue(QVector<qint16>{channel, phase});
}

}  // namespace

bool PermissionChanges(const CommSettings& s, int devicePosition)
{
    const std::optional<vocab::UsageWords> words = vocab::UsageWordsFor(devicePosition);
    return words && (s.ethernetUsage != words->ethernet || s.rs232cUsage != words->rs232c);
}

qint32 BytesToLong(qint32 b0, qint32 b1, qint32 b2, qint32 b3)
{
    // Every product and every partial sum is a signed 32-bit value, as in the record's
    // own arithmetic: a b3 of 128 or more overflows even where the whole sum would fit.
    auto checked = [](qint64 x) {
        if (x < std::numeric_limits<qint32>::min() || x > std::numeric_limits<qint32>::max())
            throw std::overflow_error("BytesToLong: overflow");
        return x;
    };
    qint64 sum = b0;
    sum = checked(sum + checked(qint64(b1) * 256));
    sum = checked(sum + checked(qint64(b2) * 65536));
    sum = checked(sum + checked(qint64(b3) * 16777216));
    return qint32(sum);
}

bool LongToBytes(QByteArray& bytes, qint32 value)
{
    if (value < 0)
        throw std::invalid_argument("LongToBytes: negative value");
    if (bytes.size() < 4)
        bytes.resize(4);
    for (int k = 0; k < 4; ++k)
        bytes[k] = char((value >> (8 * k)) & 255);
    return true;
}

struct CommLink::Private {
    explicit Private(ControllerView& v) : view(v) {}
    ControllerView& view;
    std::unique_ptr<Engine> engine;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<Controller> controller;
    bool connected = false;
    CommSettings settings;
    QHash<QString, QByteArray> kept;
    QString lastOptions;
    int timeoutMs = 4000;
    int retries = 3;
    bool recordCache = true;
    int lastFailure = 0;
    QString lastFailureText;
    bool cancelled = false;   // the user's Cancel: every routine after it fails
    bool committing = false;  // a commit is under way, which a cancel must not cut off
    // Keeps the code of the first engine error of a sequence.
    void noteFailure(const std::exception& e)
    {
        if (const auto* engineError = dynamic_cast<const EngineError*>(&e); engineError && lastFailure == 0) {
            lastFailure = engineError->code();
            lastFailureText = QString::fromStdString(engineError->what());
        }
    }

    void forgetFailure()
    {
        lastFailure = 0;
        lastFailureText.clear();
    }
    QString connectionText() const;
    void removeController();
    QByteArray encodeRawCom() const
    {
        if (!kept.contains(kRawCom))
            throw std::runtime_error("no kept value of @CNF_RAW_COM");
        return EncodeRawCom(kept.value(kRawCom), settings, view.DevicePosition());
    }
    QByteArray encodeToken() const
    {
        if (!kept.contains(kBackPrm))
            throw std::runtime_error("no kept value of @CNF_BACKPRM");
        return EncodeToken(kept.value(kBackPrm), settings);
    }
    void execute(const QString& command, const QVariant& parameter);
    bool withRecord(const QString& name, const QString& options, const std::function<void(Record&)>& use);
    bool readRecord(const QString& name, bool decode, bool whole);
    // Opens the write transaction and takes the access bracket, runs the writes, then
    // commits and releases; when a write or the commit fails, both end "after failure"
    // and the controller keeps what it had. True only for a commit it confirmed.
    bool writeTransaction(const std::function<bool()>& writes);
    // A read sequence: the access bracket around reads, ended after success or failure.
    bool readSequence(const std::function<bool()>& reads);
    // A sequence the user cancelled ends what it may have begun on the controller, even
    // when the cancel cut off the call that began it; each call is short by then.
    void windUp(bool transaction);
    void refuseWhenCancelled() const
    {
        if (cancelled)
            throw EngineError(EngineError::kCancelled, QStringLiteral("cancelled"));
    }
};

QString CommLink::Private::connectionText() const
{
    if (view.EthernetSelected()) {
        ConnText t;
        t.address = view.ConnectAddress();
        return FormatConnText(t);
    }
    const std::optional<int> port = view.PortNumber();
    const std::optional<int> baud = view.BaudRate();
    const std::optional<int> parity = view.ParityPosition();
    const std::optional<int> data = view.DataLength();
    const std::optional<QString> stop = view.StopBitText();
    if (!port || !baud || !parity || !data || !stop)
        throw std::runtime_error("a connection list has nothing selected");
    if (*parity < 0 || *parity >= int(vocab::kParityLetters.size()))
        throw std::runtime_error("parity position out of range");
    ConnText t;
    t.serial = true;
    t.port = *port;
    t.baud = *baud;
    t.parity = vocab::kParityLetters[size_t(*parity)];
    t.dataBits = *data;
    t.stopBits = *stop;
    return FormatConnText(t);
}

void CommLink::Private::removeController()
{
    if (controller) {
        workspace->controllers().remove(QVariant(qint32(controller->index())));
        controller.reset();
    }
}

void DecodeRawCom(const QByteArray& v, CommSettings& settings)
{
    // A record too short for the last field is refused before any field is touched.
    if (v.size() < kRawComMinSize)
        throw std::out_of_range("@CNF_RAW_COM shorter than 128 bytes");
    // Field by field in offset order: when one overflows, those before it stay decoded.
    settings.rs232cUsage = longAt(v, kRs232cUsage);
    settings.baudRate = longAt(v, kBaud);
    settings.parity = longAt(v, kParity);
    settings.dataLength = longAt(v, kDataLength);
    settings.stopBits = longAt(v, kStopBits);
    settings.delimiter = longAt(v, kDelimiter);
    settings.ethernetUsage = longAt(v, kEthernetUsage);
    settings.ipAddress = rec::ReversedAt(v, kIpAddress);
    settings.subnetMask = rec::ReversedAt(v, kSubnetMask);
}

void DecodeToken(const QByteArray& v, CommSettings& settings)
{
    // A record too short for the token goes back unchanged; the fields stay as they were.
    if (v.size() < kBackPrmMinSize)
        return;
    settings.tokenCode = BytesToLong(quint8(v[rec::kTokenCode]), quint8(v[rec::kTokenCode + 1]), 0, 0);
    settings.tokenIp = rec::AddressAt(v, rec::kTokenIp);
}

QByteArray EncodeRawCom(QByteArray v, const CommSettings& settings, int devicePosition)
{
    // Never write out of bounds: a short record is not ours to extend.
    if (v.size() < kRawComMinSize)
        throw std::out_of_range("@CNF_RAW_COM shorter than 128 bytes");
    const std::optional<vocab::UsageWords> words = vocab::UsageWordsFor(devicePosition);
    if (words) {
        putLong(v, kEthernetUsage, words->ethernet);
        putLong(v, kRs232cUsage, words->rs232c);
    }
    switch (devicePosition) {
    case vocab::kEthernetDevice:
        rec::PutReversed(v, kIpAddress, settings.ipAddress);
        rec::PutReversed(v, kSubnetMask, settings.subnetMask);
        break;
    case vocab::kSerialDevice:
        putLong(v, kBaud, settings.baudRate);
        putLong(v, kParity, settings.parity);
        putLong(v, kDataLength, settings.dataLength);
        putLong(v, kStopBits, settings.stopBits);
        putLong(v, kDelimiter, settings.delimiter);
        break;
    default:  // nothing selected: the record goes back as read
        break;
    }
    return v;
}

QByteArray EncodeToken(QByteArray v, const CommSettings& settings)
{
    if (v.size() < kBackPrmMinSize)
        return v;
    QByteArray four(4, '\0');
    LongToBytes(four, settings.tokenCode);
    v[rec::kTokenCode] = four[0];
    v[rec::kTokenCode + 1] = four[1];
    v[rec::kTokenCode + 2] = 0;
    v[rec::kTokenCode + 3] = 0;
    rec::PutAddress(v, rec::kTokenIp, settings.tokenIp);
    return v;
}

void CommLink::Private::execute(const QString& command, const QVariant& parameter)
{
    if (!controller)
        throw EngineError(EngineError::kClosed, QStringLiteral("not connected"));
    try {
        controller->execute(command, parameter);
    } catch (const std::exception& e) {
        noteFailure(e);
        throw;
    }
}

void CommLink::Private::windUp(bool transaction)
{
    const QList<QVariant> ends = transaction ? QList<QVariant>{signal(0, 2), signal(1, 2)} : QList{signal(0, 2)};
    for (const QVariant& end : ends) {
        try {
            controller->execute(QStringLiteral("doSignal"), end);
        } catch (const std::exception&) {
            // Best effort: CLOSE and the end of the link end the session as well.
        }
    }
}

bool CommLink::Private::readSequence(const std::function<bool()>& reads)
{
    forgetFailure();
    bool last = false;
    try {
        refuseWhenCancelled();
        execute(QStringLiteral("doSignal"), signal(0, 0));
        last = reads();
        refuseWhenCancelled();
        execute(QStringLiteral("doSignal"), signal(0, last ? 1 : 2));
    } catch (const std::exception& e) {
        // The sequence ends; the result is that of the last record.
        noteFailure(e);
        if (cancelled && controller) {
            last = false;
            windUp(false);
        }
    }
    return last;
}

bool CommLink::Private::writeTransaction(const std::function<bool()>& writes)
{
    forgetFailure();
    bool last = false;
    try {
        refuseWhenCancelled();
        execute(QStringLiteral("doSignal"), signal(1, 0));
        execute(QStringLiteral("doSignal"), signal(0, 0));
        last = writes() && !cancelled;
        if (last) {
            // Only a commit that the controller confirmed counts as written. A cancel
            // cuts off neither it nor the release after it: what it did must be known.
            struct Committing {
                bool& flag;
                ~Committing() { flag = false; }
            };
            committing = true;
            const Committing guard{committing};
            try {
                execute(QStringLiteral("doSignal"), signal(1, 1));
            } catch (const std::exception&) {
                last = false;
                execute(QStringLiteral("doSignal"), signal(0, 2));
                execute(QStringLiteral("doSignal"), signal(1, 2));
                return last;
            }
            execute(QStringLiteral("doSignal"), signal(0, 1));
        } else if (cancelled) {
            windUp(true);
        } else {
            execute(QStringLiteral("doSignal"), signal(0, 2));
            execute(QStringLiteral("doSignal"), signal(1, 2));
        }
    } catch (const std::exception& e) {
        // The sequence ends; the result is that of the last record. A cancel that cut off
        // the opening of the bracket or the transaction still ends both: the controller
        // may have taken the request.
        noteFailure(e);
        if (cancelled && controller && !last)
            windUp(true);
    }
    return last;
}

// Adds a controller record, hands it to use, and removes it again by its index, also
// after an error. True when use finished; every error is caught.
bool CommLink::Private::withRecord(const QString& name, const QString& options,
                                   const std::function<void(Record&)>& use)
{
    bool result = false;
    std::shared_ptr<Record> record;
    try {
        if (!controller)
            throw EngineError(EngineError::kClosed, QStringLiteral("not connected"));
        refuseWhenCancelled();
        record = controller->addRecord(name, options);
        use(*record);
        result = true;
    } catch (const std::exception& e) {
        noteFailure(e);
        result = false;
    }
    if (record) {
        try {
            controller->records().remove(QVariant(qint32(record->index())));
        } catch (const std::exception&) {
            // Removal only fails when the controller is gone, and the record with it.
        }
        record.reset();
    }
    return result;
}

// --- CommLink ----------------------------------------------------------------------

CommLink::CommLink(ControllerView& view) : d(std::make_unique<Private>(view))
{
    try {
        d->engine = std::make_unique<Engine>();
        d->workspace = d->engine->addWorkspace(QString(), QVariant());
    } catch (const std::exception&) {
        d->workspace.reset();
    }
}

CommLink::~CommLink()
{
    try {
        DisconnectController();
    } catch (const std::exception&) {
        // Unloading goes on whatever the controller says.
    }
    d->controller.reset();
    d->workspace.reset();
    d->engine.reset();
}

bool CommLink::ok() const
{
    return d->engine && d->workspace;
}

bool CommLink::ConnectController()
{
    d->connected = false;
    d->forgetFailure();
    try {
        d->refuseWhenCancelled();
        const QString conn = d->connectionText();
        d->removeController();
        d->lastOptions = QStringLiteral("Timeout=%1, TORetry=%2, Conn=").arg(d->timeoutMs).arg(d->retries) + conn;
        if (!d->recordCache)
            d->lastOptions += QStringLiteral(", RecordCache=Off");
        if (!d->workspace)
            throw std::runtime_error("no workspace");
        d->controller = d->workspace->addController(QString(), QLatin1String(Engine::kProvider), QString(),
                                                    d->lastOptions);
        if (d->controller)
            d->connected = true;
    } catch (const std::exception& e) {
        // The flag stays false; the wizard reports the failure and disconnects.
        d->noteFailure(e);
    }
    return d->connected;
}

void CommLink::DisconnectController()
{
    d->removeController();
    d->connected = false;
}

bool CommLink::connected() const
{
    return d->connected;
}

qint32 CommLink::GetControllerErrorCode()
{
    qint32 result = -1;
    if (!d->controller || d->cancelled)
        return result;
    std::shared_ptr<Value> value;
    try {
        value = d->controller->addValue(kErrorCode, QString());
        const QVariant v = value->value();
        bool ok = false;
        qlonglong n = 0;
        if (v.typeId() == QMetaType::QString)
            n = v.toString().trimmed().toLongLong(&ok);
        else if (v.typeId() == QMetaType::Int || v.typeId() == QMetaType::Short || v.typeId() == QMetaType::LongLong)
            n = v.toLongLong(&ok);
        if (ok && n >= std::numeric_limits<qint32>::min() && n <= std::numeric_limits<qint32>::max())
            result = qint32(n);
    } catch (const std::exception&) {
        result = -1;
    }
    if (value) {
        try {
            d->controller->values().remove(QVariant(qint32(value->index())));
        } catch (const std::exception&) {
            // The value is gone with the controller at the latest.
        }
        value.reset();
    }
    return result;
}

void CommLink::ClearControllerError(qint32 code)
{
    d->refuseWhenCancelled();
    d->execute(QStringLiteral("ClearError"), QVariant(qint32(code)));
}

bool CommLink::ReadCommSettings(bool decode)
{
    return d->readSequence([&] {
        return ReadControllerRecord(kRawCom, decode) && ReadControllerRecord(kBackPrm, decode);
    });
}

bool CommLink::WriteCommSettings()
{
    return d->writeTransaction([this] {
        return WriteControllerRecord(kRawCom) && WriteControllerRecord(kBackPrm);
    });
}

bool CommLink::ReadAllRecords()
{
    return d->readSequence([this] {
        for (const char* name : rec::kAllRecords) {
            if (!d->readRecord(QString::fromLatin1(name), false, true))
                return false;
        }
        return true;
    });
}

bool CommLink::WriteRecords(const QList<std::pair<QString, QByteArray>>& records)
{
    return d->writeTransaction([&] {
        for (const auto& named : records) {
            const bool ok = d->withRecord(named.first, QStringLiteral("@Create=1"), [&](Record& record) {
                record.setValue(QVariant(named.second));
            });
            if (!ok)
                return false;
        }
        return true;
    });
}

void CommLink::setProgressHook(std::function<void(const TransferProgress&)> hook)
{
    if (d->engine)
        d->engine->setProgressHook(std::move(hook));
}

void CommLink::setWaitHook(std::function<void(const WaitProgress&)> hook)
{
    if (d->engine)
        d->engine->setWaitHook(std::move(hook));
}

void CommLink::Cancel()
{
    if (d->cancelled)
        return;
    d->cancelled = true;
    // A commit runs on to its answer, and the release after it too.
    if (d->engine && !d->committing)
        d->engine->cancel();
}

bool CommLink::cancelled() const
{
    return d->cancelled;
}

bool CommLink::ReadControllerRecord(const QString& name, bool decode)
{
    return d->readRecord(name, decode, false);
}

// A settings record is read in part, unless whole: only the bytes the settings decode
// from (the other bytes 0); the engine writes back only what was read.
bool CommLink::Private::readRecord(const QString& name, bool decode, bool whole)
{
    return withRecord(name, QString(), [&](Record& record) {
        if (name == kRawCom || name == kBackPrm || kWholeRecords.contains(name)) {
            const QList<rec::Span> spans = whole ? QList<rec::Span>{} : rec::SettingsSpans(name);
            // The value is kept before it is decoded, as read.
            const QByteArray v = (spans.isEmpty() ? record.value() : record.valueIn(spans)).toByteArray();
            kept.insert(name, v);
            if (decode && name == kRawCom)
                DecodeRawCom(v, settings);
            else if (decode && name == kBackPrm)
                DecodeToken(v, settings);
        }
    });
}

bool CommLink::WriteControllerRecord(const QString& name)
{
    return d->withRecord(name, QStringLiteral("@Create=1"), [&](Record& record) {
        if (name == kRawCom || name == kBackPrm) {
            const QByteArray v = name == kRawCom ? d->encodeRawCom() : d->encodeToken();
            record.setValue(QVariant(v));
            d->kept.insert(name, v);
        } else if (kWholeRecords.contains(name)) {
            if (!d->kept.contains(name))
                throw std::runtime_error("no kept value");
            record.setValue(QVariant(d->kept.value(name)));
        }
    });
}

int CommLink::lastFailure() const { return d->lastFailure; }
QString CommLink::lastFailureText() const { return d->lastFailureText; }
CommSettings& CommLink::settings() { return d->settings; }
const CommSettings& CommLink::settings() const { return d->settings; }

QByteArray CommLink::keptValue(const QString& name) const
{
    return d->kept.value(name);
}

QString CommLink::connectionText() const
{
    try {
        return d->connectionText();
    } catch (const std::exception&) {
        return QString();
    }
}

QString CommLink::controllerId() const
{
    return d->controller ? d->controller->controllerId() : QString();
}

QString CommLink::controllerModel() const
{
    return d->controller ? d->controller->model() : QString();
}

QString CommLink::lastOptions() const { return d->lastOptions; }

void CommLink::setLinkOptions(int timeoutMs, int retries)
{
    d->timeoutMs = timeoutMs;
    d->retries = retries;
}

void CommLink::setRecordCache(bool on)
{
    d->recordCache = on;
}

Engine* CommLink::engine() const { return d->engine.get(); }
std::shared_ptr<Workspace> CommLink::workspace() const { return d->workspace; }
std::shared_ptr<Controller> CommLink::controller() const { return d->controller; }
