// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "sim/simcontroller.h"

#include "controller/recordlayout.h"

#include <QFile>
#include <QFileInfo>

#include <cstdlib>
#include <sys/stat.h>

namespace sim {

using namespace proto;

std::optional<Fault> parseFault(const QString& faultText, QString* error)
{
    auto bad = [&](const QString& why) -> std::optional<Fault> {
        if (error)
            *error = QStringLiteral("bad --fault \"%1\": %2").arg(faultText, why);
        return std::nullopt;
    };
    Fault f;
    if (faultText == QLatin1String("deny-clear")) {
        f.type = Fault::DenyClear;
        return f;
    }
    if (faultText == QLatin1String("chatter")) {
        f.type = Fault::Chatter;
        return f;
    }
    if (faultText == QLatin1String("steal-after-commit")) {
        f.type = Fault::StealAfterCommit;
        return f;
    }
    const qsizetype eq = faultText.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return bad(QStringLiteral("expected KIND=VALUE or deny-clear"));
    const QString kind = faultText.left(eq);
    const QString value = faultText.mid(eq + 1);
    static const QHash<QString, Fault::Type> counted = {
        {QStringLiteral("drop-at"), Fault::DropAt},
        {QStringLiteral("stall-at"), Fault::StallAt},
        {QStringLiteral("freeze-at"), Fault::FreezeAt},
        {QStringLiteral("corrupt-at"), Fault::CorruptAt},
        {QStringLiteral("exit-at"), Fault::ExitAt},
        {QStringLiteral("exit-after-apply"), Fault::ExitAfterApply},
        {QStringLiteral("flood-at"), Fault::FloodAt},
        {QStringLiteral("header-flood-at"), Fault::HeaderFloodAt},
        {QStringLiteral("wrong-seq-at"), Fault::WrongSeqAt},
    };
    if (counted.contains(kind)) {
        bool ok = false;
        const qulonglong n = value.toULongLong(&ok);
        if (!ok || n == 0)
            return bad(QStringLiteral("the request number counts from 1"));
        f.type = counted.value(kind);
        f.n = n;
        return f;
    }
    if (kind == QLatin1String("error-at")) {
        const QStringList parts = value.split(QLatin1Char(':'));
        bool okN = false, okCode = false;
        const qulonglong n = parts.value(0).toULongLong(&okN);
        const qint32 code = parts.value(1).toInt(&okCode);
        if (parts.size() != 2 || !okN || n == 0 || !okCode)
            return bad(QStringLiteral("expected error-at=N:CODE, N counting from 1"));
        f.type = Fault::ErrorAt;
        f.n = n;
        f.code = code;
        return f;
    }
    if (value.isEmpty())
        return bad(QStringLiteral("a record name is needed"));
    if (kind == QLatin1String("fail-read")) {
        f.type = Fault::FailRead;
        f.name = value;
        return f;
    }
    if (kind == QLatin1String("fail-write")) {
        f.type = Fault::FailWrite;
        f.name = value;
        return f;
    }
    if (kind == QLatin1String("short")) {
        const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const qlonglong size = colon > 0 ? value.mid(colon + 1).toLongLong(&ok) : -1;
        if (!ok || size < 0 || size > qlonglong(kMaxPayload))
            return bad(QStringLiteral("expected short=NAME:SIZE"));
        f.type = Fault::Short;
        f.name = value.left(colon);
        f.size = qsizetype(size);
        return f;
    }
    return bad(QStringLiteral("unknown fault"));
}

SimController::SimController(SimConfig cfg) : m_cfg(std::move(cfg)) {}

bool SimController::start(std::optional<qint32> errorCode, QString* error)
{
    ControllerState st = m_cfg.memoryState && m_cfg.statePath.isEmpty() ? *m_cfg.memoryState : defaultState();
    if (!m_cfg.statePath.isEmpty()) {
        // A link is followed, and kept: the state is written where it points. A link
        // that leads nowhere is refused, not replaced by a new file.
        struct stat linkInfo {};
        if (::lstat(QFile::encodeName(m_cfg.statePath).constData(), &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
            // realpath, not QFileInfo: it fails on a loop as on a dangling link.
            char* resolved = ::realpath(QFile::encodeName(m_cfg.statePath).constData(), nullptr);
            const QString target = resolved ? QFile::decodeName(resolved) : QString();
            std::free(resolved);
            if (target.isEmpty()) {
                if (error)
                    *error = QStringLiteral("state file %1 is a symbolic link that leads nowhere (dangling or a loop); "
                                            "it is left as it is").arg(m_cfg.statePath);
                return false;
            }
            m_cfg.statePath = target;
        }
        if (QFileInfo::exists(m_cfg.statePath)) {
            QString why;
            if (!loadStateFile(m_cfg.statePath, &st, &why)) {
                if (error)
                    *error = QStringLiteral("cannot load state file %1: %2").arg(m_cfg.statePath, why);
                return false;
            }
        } else {
            QString why;
            if (!saveStateFile(m_cfg.statePath, st, &why)) {
                if (error)
                    *error = QStringLiteral("cannot create state file %1: %2").arg(m_cfg.statePath, why);
                return false;
            }
        }
    }
    const QStringList names = recordNames();
    for (const Fault& f : std::as_const(m_cfg.faults)) {
        if (f.type != Fault::Short)
            continue;
        if (!st.records.contains(f.name)) {
            if (error)
                *error = QStringLiteral("short=: unknown record %1").arg(f.name);
            return false;
        }
        QByteArray& rec = st.records[f.name];
        const qsizetype old = rec.size();
        rec.resize(f.size);
        for (qsizetype i = old; i < f.size; ++i)
            rec[i] = char(patternByte(int(names.indexOf(f.name)), i));
    }
    m_state = st;
    if (errorCode && *errorCode != m_state.errorCode) {
        ControllerState next = m_state;
        next.errorCode = *errorCode;
        QString why;
        if (!commitState(next, &why)) {
            if (error)
                *error = QStringLiteral("cannot store the error code: %1").arg(why);
            return false;
        }
    }
    return true;
}

int SimController::attach()
{
    const int id = m_nextConn++;
    m_conns.insert(id, Conn{});
    return id;
}

void SimController::detach(int conn)
{
    auto it = m_conns.find(conn);
    if (it == m_conns.end())
        return;
    endSession(*it);
    m_conns.erase(it);
}

int SimController::bracketHolder() const
{
    if (m_bracket == 0)
        return 0;
    for (auto it = m_conns.cbegin(); it != m_conns.cend(); ++it) {
        if (it->session == m_bracket)
            return it.key();
    }
    return 0;
}

void SimController::expireLease(qint64 nowMs)
{
    if (m_bracket == 0)
        return;
    for (auto it = m_conns.begin(); it != m_conns.end(); ++it) {
        if (it->session != m_bracket)
            continue;
        const qint64 silent = nowMs - it->lastRequestMs;
        if (silent >= m_cfg.leaseMs) {
            log(it.key(), it->lastSeq, QStringLiteral("LEASE"), QStringLiteral("silent %1 ms").arg(silent),
                QStringLiteral("ENDED"));
            endSession(*it);
        }
        return;
    }
}

void SimController::endSession(Conn& c)
{
    if (c.session != 0 && m_bracket == c.session)
        m_bracket = 0;
    c.session = 0;
    c.collection = Collection{};
    c.txOpen = false;
    c.staged.clear();
}

const Fault* SimController::faultAt(Fault::Type t, quint64 n) const
{
    for (const Fault& f : m_cfg.faults) {
        if (f.type == t && f.n == n)
            return &f;
    }
    return nullptr;
}

bool SimController::faultFrom(Fault::Type t, quint64 n) const
{
    for (const Fault& f : m_cfg.faults) {
        if (f.type == t && n >= f.n)
            return true;
    }
    return false;
}

bool SimController::hasNamedFault(Fault::Type t, const QString& name) const
{
    for (const Fault& f : m_cfg.faults) {
        if (f.type == t && (t == Fault::DenyClear || f.name == name))
            return true;
    }
    return false;
}

namespace {

// The log's description of a request's payload, "(malformed)" when it does not parse.
QString describe(const Frame& f)
{
    Reader r(f.payload);
    QString d;
    switch (f.code) {
    case OPEN:
    case READ_VALUE:
    case RECORD_SIZE:
    case RECORD_DIGEST:
        d = r.str();
        break;
    case PATCH_RECORD: {
        const QString name = r.str();
        const quint32 size = r.u32();
        r.bytes();
        const quint16 count = r.u16();
        QStringList ranges;
        for (quint16 k = 0; k < count && r.ok(); ++k) {
            const quint32 off = r.u32();
            ranges << QStringLiteral("%1+%2").arg(off).arg(r.bytes().size());
        }
        d = QStringLiteral("%1 %2/%3").arg(name, ranges.join(QLatin1Char(','))).arg(size);
        break;
    }
    case CLOSE:
        break;
    case READ_RECORD: {
        const QString name = r.str();
        const quint32 off = r.u32(), len = r.u32();
        d = QStringLiteral("%1 %2+%3").arg(name).arg(off).arg(len);
        break;
    }
    case WRITE_RECORD: {
        const QString name = r.str();
        const quint32 total = r.u32(), off = r.u32();
        const QByteArray data = r.bytes();
        d = QStringLiteral("%1 %2+%3/%4").arg(name).arg(off).arg(data.size()).arg(total);
        break;
    }
    case EXECUTE: {
        d = r.str();
        const Value v = r.value();
        if (auto a = std::get_if<QVector<qint16>>(&v)) {
            QStringList parts;
            for (qint16 x : *a)
                parts << QString::number(x);
            d += QLatin1Char(' ') + parts.join(QLatin1Char(','));
        } else if (auto i = std::get_if<qint32>(&v)) {
            d += QLatin1Char(' ') + QString::number(*i);
        } else if (std::holds_alternative<QByteArray>(v)) {
            d += QStringLiteral(" (bytes)");
        } else if (auto s = std::get_if<QString>(&v)) {
            d += QStringLiteral(" \"%1\"").arg(*s);
        }
        break;
    }
    default:
        return {};
    }
    if (!r.atEndOk())
        return QStringLiteral("(malformed)");
    return d;
}

}  // namespace

void SimController::log(int conn, quint16 seq, const QString& op, const QString& details,
                        const QString& result)
{
    if (!m_log)
        return;
    QString line = QStringLiteral("%1 %2 %3").arg(conn).arg(seq).arg(op);
    if (!details.isEmpty())
        line += QLatin1Char(' ') + details;
    line += QStringLiteral(" -> ") + result;
    // A client name or record name with a line break must not split the log line.
    for (QChar& ch : line) {
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F)
            ch = QLatin1Char('?');
    }
    m_log(line);
}

// The faults that answer a request before it is looked at, or nothing.
std::optional<Reply> SimController::faultBefore(int connId, Conn& c, const Frame& frame, quint64 n)
{
    struct Before {
        Fault::Type type;
        bool fromThenOn;  // request n and every later one
        Reply::Action action;
        const char* note;
    };
    static constexpr Before kBefore[] = {
        {Fault::DropAt, false, Reply::Drop, "(dropped)"},       {Fault::StallAt, false, Reply::Stall, "(stalled)"},
        {Fault::FreezeAt, true, Reply::Stall, "(frozen)"},      {Fault::ExitAt, false, Reply::Exit, "(exit)"},
        {Fault::FloodAt, false, Reply::Flood, "(flood)"},       {Fault::HeaderFloodAt, false, Reply::HeaderFlood, "(header flood)"},
    };
    for (const Before& b : kBefore) {
        if (b.fromThenOn ? !faultFrom(b.type, n) : !faultAt(b.type, n))
            continue;
        log(connId, frame.seq, proto::opcodeName(frame.code), describe(frame), QString::fromLatin1(b.note));
        if (b.action == Reply::Drop) {
            endSession(c);
            c.hasLast = false;
        }
        return Reply{b.action, {}};
    }
    return std::nullopt;
}

// The response to a request: executed, or the one already sent when it is a retry.
QByteArray SimController::answer(Conn& c, const Frame& frame, QString* result)
{
    QByteArray response;
    // OPEN always executes: a restarted client numbers from 0 again and may send the very
    // OPEN its predecessor sent last, and it must still get a session of its own.
    if (frame.code != OPEN && c.hasLast && c.lastSeq == frame.seq && c.lastOp == frame.code
        && c.lastPayload == frame.payload) {
        // A retry: the client lost our response. Send it again, do not execute again.
        response = c.lastResponse;
        *result = statusName(quint8(response.at(6))) + QStringLiteral(" (resent)");
    } else {
        const Outcome o = execute(c, frame);
        Frame resp;
        resp.kind = Kind::Response;
        resp.seq = frame.seq;
        resp.code = o.status;
        resp.payload = o.payload;
        response = encodeFrame(resp);
        c.hasLast = true;
        c.lastSeq = frame.seq;
        c.lastOp = frame.code;
        c.lastPayload = frame.payload;
        c.lastResponse = response;
        *result = statusName(o.status);
    }
    return response;
}

Reply SimController::handle(int connId, const Frame& frame, qint64 nowMs)
{
    if (frame.kind != Kind::Request)
        return {};  // a controller ignores response frames
    auto it = m_conns.find(connId);
    if (it == m_conns.end())
        return {};
    // A holder silent for the lease loses its session before anything else is decided:
    // its own next request then finds no session, another's finds the bracket free.
    expireLease(nowMs);
    Conn& c = *it;
    c.lastRequestMs = nowMs;
    const quint64 n = ++c.received;
    const QString op = proto::opcodeName(frame.code);

    if (const std::optional<Reply> r = faultBefore(connId, c, frame, n))
        return *r;
    if (const Fault* f = faultAt(Fault::ErrorAt, n)) {
        // The controller falls into error just before this request, durably.
        ControllerState next = m_state;
        next.errorCode = f->code;
        QString why;
        if (!commitState(next, &why) && m_log)
            m_log(QStringLiteral("error-at: cannot store the error code: %1").arg(why));
    }

    QString result;
    QByteArray response = answer(c, frame, &result);

    if (faultAt(Fault::ExitAfterApply, n)) {
        log(connId, frame.seq, op, describe(frame), result + QStringLiteral(" (exit)"));
        return {Reply::Exit, {}};
    }
    if (faultFrom(Fault::WrongSeqAt, n)) {
        // The answer as made, but numbered for another request, again and again.
        Frame wrong;
        wrong.kind = Kind::Response;
        wrong.seq = quint16(frame.seq + 1);
        wrong.code = quint8(response.at(6));
        wrong.payload = response.mid(kHeaderSize, response.size() - kHeaderSize - 4);
        log(connId, frame.seq, op, describe(frame), result + QStringLiteral(" (wrong sequence)"));
        return {Reply::Repeat, encodeFrame(wrong)};
    }
    if (faultAt(Fault::CorruptAt, n)) {
        // Damage the last CRC byte: the client drops the frame and, in time, retries.
        response[response.size() - 1] = char(response.at(response.size() - 1) ^ 0x5A);
        result += QStringLiteral(" (corrupted)");
    }
    log(connId, frame.seq, op, describe(frame), result);
    return {Reply::Send, response};
}

SimController::Outcome SimController::fail(quint8 status, const QString& message)
{
    Outcome o;
    o.status = status;
    o.payload = Writer().str(message).data();
    return o;
}

SimController::Outcome SimController::execute(Conn& c, const Frame& f)
{
    switch (f.code) {
    case OPEN: case CLOSE: case READ_VALUE: case RECORD_SIZE:
    case READ_RECORD: case WRITE_RECORD: case EXECUTE:
        break;
    case RECORD_DIGEST: case PATCH_RECORD:
        if (m_cfg.optionalRequests)
            break;
        [[fallthrough]];
    default:
        return fail(UNSUPPORTED, QStringLiteral("unknown opcode 0x%1").arg(f.code, 2, 16, QLatin1Char('0')));
    }
    if (c.session == 0 && f.code != OPEN && f.code != CLOSE)
        return fail(NOT_OPEN, QStringLiteral("no session: send OPEN first"));

    Reader r(f.payload);
    switch (f.code) {
    case OPEN:
        return doOpen(c, r);
    case CLOSE:
        if (!r.atEndOk())
            return fail(MALFORMED, QStringLiteral("CLOSE takes no payload"));
        endSession(c);
        return {};
    case READ_VALUE: {
        const QString name = r.str();
        if (!r.atEndOk())
            return fail(MALFORMED, QStringLiteral("malformed READ_VALUE"));
        if (name != QLatin1String(rec::kErrorCode))
            return fail(UNKNOWN_NAME, QStringLiteral("unknown value %1").arg(name));
        Outcome o;
        o.payload = Writer().value(m_state.errorCode).data();
        return o;
    }
    case RECORD_SIZE: {
        const QString name = r.str();
        if (!r.atEndOk())
            return fail(MALFORMED, QStringLiteral("malformed RECORD_SIZE"));
        if (!m_state.records.contains(name))
            return fail(UNKNOWN_NAME, QStringLiteral("unknown record %1").arg(name));
        Outcome o;
        o.payload = Writer().u32(quint32(m_state.records.value(name).size())).data();
        return o;
    }
    case READ_RECORD:
        return doReadRecord(r);
    case WRITE_RECORD:
        return doWriteRecord(c, r);
    case RECORD_DIGEST:
        return doRecordDigest(r);
    case PATCH_RECORD:
        return doPatchRecord(c, r, f.payload.size());
    default:
        return doExecute(c, r);
    }
}

SimController::Outcome SimController::doOpen(Conn& c, Reader& r)
{
    r.str();  // the client's name is only logged
    if (!r.atEndOk())
        return fail(MALFORMED, QStringLiteral("malformed OPEN"));  // the session stays as it was
    endSession(c);
    c.session = m_nextSession++;
    Outcome o;
    o.payload = Writer().u16(kVersion).u32(m_cfg.maxChunk).str(m_cfg.controllerId).str(m_cfg.model).data();
    return o;
}

SimController::Outcome SimController::doReadRecord(Reader& r)
{
    const QString name = r.str();
    const quint32 offset = r.u32();
    const quint32 length = r.u32();
    if (!r.atEndOk())
        return fail(MALFORMED, QStringLiteral("malformed READ_RECORD"));
    if (!m_state.records.contains(name))
        return fail(UNKNOWN_NAME, QStringLiteral("unknown record %1").arg(name));
    const QByteArray& rec = m_state.records[name];
    if (length > m_cfg.maxChunk)
        return fail(OUT_OF_RANGE, QStringLiteral("chunk of %1 bytes is over the largest chunk %2")
                                      .arg(length).arg(m_cfg.maxChunk));
    if (quint64(offset) + length > quint64(rec.size()))
        return fail(OUT_OF_RANGE, QStringLiteral("read past the end of %1").arg(name));
    if (hasNamedFault(Fault::FailRead, name))
        return fail(FAILED, QStringLiteral("read of %1 failed (fault)").arg(name));
    Outcome o;
    o.payload = Writer().bytes(rec.mid(offset, length)).data();
    return o;
}

SimController::Outcome SimController::doWriteRecord(Conn& c, Reader& r)
{
    const QString name = r.str();
    const quint32 total = r.u32();
    const quint32 offset = r.u32();
    const QByteArray data = r.bytes();
    // Every error of a WRITE_RECORD drops the unfinished collection.
    auto error = [&](quint8 status, const QString& msg) {
        c.collection = Collection{};
        return fail(status, msg);
    };
    if (!r.atEndOk())
        return error(MALFORMED, QStringLiteral("malformed WRITE_RECORD"));
    if (!m_state.records.contains(name))
        return error(UNKNOWN_NAME, QStringLiteral("unknown record %1").arg(name));
    const quint64 end = quint64(offset) + quint64(data.size());
    const bool completing = end == total;
    if (completing && m_bracket != 0 && m_bracket != c.session)
        return error(DENIED, QStringLiteral("another session holds the access bracket"));
    const qsizetype size = m_state.records[name].size();
    if (qsizetype(total) != size)
        return error(BAD_SIZE, QStringLiteral("%1 has %2 bytes, not %3").arg(name).arg(size).arg(total));
    if (quint64(data.size()) > m_cfg.maxChunk)
        return error(OUT_OF_RANGE, QStringLiteral("chunk of %1 bytes is over the largest chunk %2")
                                       .arg(data.size()).arg(m_cfg.maxChunk));
    if (end > total)
        return error(OUT_OF_RANGE, QStringLiteral("chunk runs past the total size"));
    if (offset == 0) {
        c.collection = Collection{true, name, 0, {}};
    } else if (!c.collection.active || c.collection.name != name || c.collection.next != offset) {
        return error(OUT_OF_RANGE, QStringLiteral("chunk does not continue the collection"));
    }
    c.collection.data.append(data);
    c.collection.next = quint32(end);
    if (!completing)
        return {};

    const QByteArray content = c.collection.data;
    c.collection = Collection{};
    return storeRecord(c, name, content);
}

SimController::Outcome SimController::storeRecord(Conn& c, const QString& name, const QByteArray& content)
{
    if (c.txOpen) {
        c.staged.insert(name, content);
        return {};
    }
    if (hasNamedFault(Fault::FailWrite, name))
        return fail(FAILED, QStringLiteral("write of %1 failed (fault)").arg(name));
    ControllerState next = m_state;
    next.records[name] = content;
    QString why;
    if (!commitState(next, &why))
        return fail(FAILED, QStringLiteral("cannot store %1: %2").arg(name, why));
    return {};
}

SimController::Outcome SimController::doRecordDigest(Reader& r)
{
    const QString name = r.str();
    if (!r.atEndOk())
        return fail(MALFORMED, QStringLiteral("malformed RECORD_DIGEST"));
    if (!m_state.records.contains(name))
        return fail(UNKNOWN_NAME, QStringLiteral("unknown record %1").arg(name));
    if (hasNamedFault(Fault::FailRead, name))
        return fail(FAILED, QStringLiteral("read of %1 failed (fault)").arg(name));
    const QByteArray& rec = m_state.records[name];
    Outcome o;
    o.payload = Writer().u32(quint32(rec.size())).bytes(appliedDigest(name)).data();
    return o;
}

SimController::Outcome SimController::doPatchRecord(Conn& c, Reader& r, qsizetype payloadSize)
{
    const QString name = r.str();
    const quint32 size = r.u32();
    const QByteArray baseDigest = r.bytes();
    const quint16 count = r.u16();
    // The payload bounds the ranges: each takes at least eight of its bytes.
    QList<std::pair<quint32, QByteArray>> ranges;
    for (quint16 k = 0; k < count && r.ok(); ++k) {
        const quint32 offset = r.u32();
        ranges.append({offset, r.bytes()});
    }
    if (!r.atEndOk())
        return fail(MALFORMED, QStringLiteral("malformed PATCH_RECORD"));
    if (!m_state.records.contains(name))
        return fail(UNKNOWN_NAME, QStringLiteral("unknown record %1").arg(name));
    if (m_bracket != 0 && m_bracket != c.session)
        return fail(DENIED, QStringLiteral("another session holds the access bracket"));
    const bool staged = c.txOpen && c.staged.contains(name);
    QByteArray content = staged ? c.staged.value(name) : m_state.records.value(name);
    if (qsizetype(size) != content.size())
        return fail(BAD_SIZE, QStringLiteral("%1 has %2 bytes, not %3").arg(name).arg(content.size()).arg(size));
    if ((staged ? proto::digest(content) : appliedDigest(name)) != baseDigest)
        return fail(FAILED, QStringLiteral("%1 has changed since it was read").arg(name));
    if (count == 0 || quint64(payloadSize) > m_cfg.maxChunk)
        return fail(OUT_OF_RANGE, QStringLiteral("a patch needs 1 to a chunk's worth of ranges"));
    quint64 end = 0;
    for (const auto& [offset, data] : std::as_const(ranges)) {
        if (offset < end || quint64(offset) + quint64(data.size()) > size)
            return fail(OUT_OF_RANGE, QStringLiteral("range %1+%2 overlaps, is out of order or runs past the end")
                                          .arg(offset).arg(data.size()));
        end = quint64(offset) + quint64(data.size());
    }
    for (const auto& [offset, data] : std::as_const(ranges))
        content.replace(qsizetype(offset), data.size(), data);
    return storeRecord(c, name, content);
}

SimController::Outcome SimController::doExecute(Conn& c, Reader& r)
{
    const QString name = r.str();
    const Value param = r.value();
    if (!r.atEndOk())
        return fail(MALFORMED, QStringLiteral("malformed EXECUTE"));
    if (name == QLatin1String("doSignal")) {
        const auto* a = std::get_if<QVector<qint16>>(&param);
        if (!a || a->size() != 2)
            return fail(MALFORMED, QStringLiteral("doSignal takes two 16-bit integers"));
        return doSignal(c, a->at(0), a->at(1));
    }
    if (name == QLatin1String("ClearError")) {
        const auto* code = std::get_if<qint32>(&param);
        if (!code)
            return fail(MALFORMED, QStringLiteral("ClearError takes a 32-bit integer"));
        if (hasNamedFault(Fault::DenyClear, {}))
            return fail(DENIED, QStringLiteral("clearing the error is refused (fault)"));
        if (*code != m_state.errorCode)
            return fail(FAILED, QStringLiteral("error code %1 is not the current one").arg(*code));
        if (m_state.errorCode != 0) {
            ControllerState next = m_state;
            next.errorCode = 0;
            QString why;
            if (!commitState(next, &why))
                return fail(FAILED, QStringLiteral("cannot store the error code: %1").arg(why));
        }
        Outcome o;
        o.payload = Writer().value(Empty{}).data();
        return o;
    }
    return fail(UNKNOWN_NAME, QStringLiteral("unknown command %1").arg(name));
}

SimController::Outcome SimController::doSignal(Conn& c, qint16 channel, qint16 phase)
{
    if ((channel != 0 && channel != 1) || phase < 0 || phase > 2)
        return fail(OUT_OF_RANGE, QStringLiteral("doSignal (%1,%2) is out of range").arg(channel).arg(phase));
    Outcome ok;
    ok.payload = Writer().value(Empty{}).data();
    if (channel == 0) {
        if (phase == 0) {
            if (m_bracket != 0 && m_bracket != c.session)
                return fail(DENIED, QStringLiteral("another session holds the access bracket"));
            m_bracket = c.session;
        } else if (m_bracket == c.session) {
            m_bracket = 0;  // releasing a bracket this session does not hold is OK and does nothing
        }
        return ok;
    }
    if (phase == 0) {
        c.txOpen = true;
        c.staged.clear();
        return ok;
    }
    if (!c.txOpen)
        return ok;
    if (phase == 2) {
        c.txOpen = false;
        c.staged.clear();
        return ok;
    }
    // Commit: a denied or failed commit leaves the transaction open.
    if (m_bracket != 0 && m_bracket != c.session)
        return fail(DENIED, QStringLiteral("another session holds the access bracket"));
    ControllerState next = m_state;
    for (auto it = c.staged.cbegin(); it != c.staged.cend(); ++it) {
        if (hasNamedFault(Fault::FailWrite, it.key()))
            return fail(FAILED, QStringLiteral("write of %1 failed (fault)").arg(it.key()));
        next.records[it.key()] = it.value();
    }
    if (!c.staged.isEmpty()) {
        QString why;
        if (!commitState(next, &why))
            return fail(FAILED, QStringLiteral("cannot store the transaction: %1").arg(why));
        // Another client takes the bracket the moment this commit is stored, and keeps it.
        if (hasNamedFault(Fault::StealAfterCommit, {}))
            m_bracket = kOtherClient;
    }
    c.txOpen = false;
    c.staged.clear();
    return ok;
}

bool SimController::commitState(const ControllerState& next, QString* error)
{
    if (!m_cfg.statePath.isEmpty() && !saveStateFile(m_cfg.statePath, next, error))
        return false;
    m_state = next;
    m_digests.clear();
    return true;
}

QByteArray SimController::appliedDigest(const QString& name)
{
    auto it = m_digests.find(name);
    if (it == m_digests.end())
        it = m_digests.insert(name, proto::digest(m_state.records.value(name)));
    return *it;
}

}  // namespace sim
