// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "controller/engine.h"

#include "controller/trace.h"

#include "controller/link.h"
#include "controller/recordcache.h"
#include "protocol/protocol.h"

#include <QStringList>

#include <algorithm>
#include <limits>
#include <optional>
#include <utility>

namespace {

// Records larger than this are not a settings record; refuse rather than allocate.
constexpr quint32 kLargestRecord = 64u * 1024u * 1024u;

QString describe(const QVariant& v)
{
    if (!v.isValid())
        return QString();
    if (v.typeId() == qMetaTypeId<QVector<qint16>>()) {
        QStringList parts;
        for (qint16 x : v.value<QVector<qint16>>())
            parts << QString::number(x);
        return parts.join(',');
    }
    if (v.typeId() == QMetaType::QVariantList) {
        QStringList parts;
        for (const QVariant& x : v.toList())
            parts << x.toString();
        return parts.join(',');
    }
    if (v.typeId() == QMetaType::QByteArray)
        return QStringLiteral("<%1 bytes>").arg(v.toByteArray().size());
    return v.toString();
}

bool isIntegral(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Int: case QMetaType::UInt: case QMetaType::Short: case QMetaType::UShort:
    case QMetaType::Char: case QMetaType::SChar: case QMetaType::UChar:
    case QMetaType::Long: case QMetaType::ULong: case QMetaType::LongLong: case QMetaType::ULongLong:
        return true;
    default:
        return false;
    }
}

proto::Value toWire(const QVariant& v)
{
    if (!v.isValid())
        return proto::Empty{};
    if (v.typeId() == qMetaTypeId<QVector<qint16>>())
        return v.value<QVector<qint16>>();
    if (v.typeId() == QMetaType::QVariantList) {
        QVector<qint16> out;
        for (const QVariant& x : v.toList()) {
            bool ok = false;
            const qlonglong n = x.toLongLong(&ok);
            if (!isIntegral(x) || !ok || n < std::numeric_limits<qint16>::min()
                || n > std::numeric_limits<qint16>::max())
                throw EngineError(EngineError::kTypeMismatch, QStringLiteral("array element is not a 16-bit integer"));
            out.append(qint16(n));
        }
        return out;
    }
    if (isIntegral(v)) {
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok || n < std::numeric_limits<qint32>::min() || n > std::numeric_limits<qint32>::max())
            throw EngineError(EngineError::kTypeMismatch, QStringLiteral("parameter out of 32-bit range"));
        return qint32(n);
    }
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray();
    if (v.typeId() == QMetaType::QString)
        return v.toString();
    throw EngineError(EngineError::kTypeMismatch, QStringLiteral("unsupported parameter type"));
}

QVariant fromWire(const proto::Value& v)
{
    if (const auto* i = std::get_if<qint32>(&v))
        return QVariant(int(*i));
    if (const auto* a = std::get_if<QVector<qint16>>(&v))
        return QVariant::fromValue(*a);
    if (const auto* b = std::get_if<QByteArray>(&v))
        return QVariant(*b);
    if (const auto* s = std::get_if<QString>(&v))
        return QVariant(*s);
    return QVariant();
}

std::shared_ptr<Link> lockLink(const std::weak_ptr<Link>& weak)
{
    std::shared_ptr<Link> link = weak.lock();
    if (!link || !link->isOpen())
        throw EngineError(EngineError::kClosed, QStringLiteral("the controller has been removed"));
    return link;
}

}  // namespace

int IndexFromVariant(const QVariant& index)
{
    if (index.typeId() != QMetaType::Int)
        throw EngineError(EngineError::kTypeMismatch, QStringLiteral("index must be a 32-bit integer"));
    return index.toInt();
}

void TraceRemove(Engine* engine, const QString& kind, int index)
{
    if (engine)
        engine->trace(QStringLiteral("remove-%1 %2").arg(kind).arg(index));
}

// --- Value -------------------------------------------------------------------------

QVariant Value::value()
{
    CallGuard guard;
    m_engine->trace(QStringLiteral("get-value ") + m_name);
    std::shared_ptr<Link> link = lockLink(m_link);
    proto::Reader r(link->call(proto::READ_VALUE, proto::Writer().str(m_name).data()));
    const proto::Value v = r.value();
    if (!r.atEndOk())
        throw EngineError(EngineError::kProtocol, QStringLiteral("malformed READ_VALUE response"));
    return fromWire(v);
}

// --- Record ------------------------------------------------------------------------

namespace {

using Spans = QList<rec::Span>;

// Reports one record's move to the engine's progress hook and watches the link's bytes
// while each chunk moves; the last report (finished) comes also when the move fails.
class MoveProgress {
public:
    MoveProgress(Engine* engine, Link& link, const QString& record, bool writing, quint32 total)
        : m_engine(engine), m_link(link)
    {
        m_p.record = record;
        m_p.writing = writing;
        m_p.total = total;
        m_engine->progress(m_p);
    }
    ~MoveProgress()
    {
        m_link.setMeter(nullptr);
        m_p.finished = true;
        m_engine->progress(m_p);
    }
    MoveProgress(const MoveProgress&) = delete;
    MoveProgress& operator=(const MoveProgress&) = delete;

    // A chunk of `length` record bytes, after `before` bytes of this move, is about to
    // move inside a frame that has `overhead` bytes besides them before the data
    // (header, fields).
    void chunk(quint32 before, quint32 length, qint64 overhead)
    {
        // Without a hook the link waits as it did, without a meter's timer.
        if (!m_engine->watched())
            return;
        m_link.setMeter([this, before, length, overhead](qint64 sent, qint64 received) {
            const qint64 moved = (m_p.writing ? sent : received) - overhead;
            at(before + quint32(std::clamp<qint64>(moved, 0, length)));
        });
    }
    void at(quint32 done)
    {
        if (done <= m_p.done)
            return;
        m_p.done = done;
        m_engine->progress(m_p);
    }
private:
    Engine* m_engine;
    Link& m_link;
    TransferProgress m_p;
};

quint32 checkedSize(quint32 size)
{
    if (size > kLargestRecord)
        throw EngineError(EngineError::kProtocol, QStringLiteral("record of %1 bytes is too large").arg(size));
    return size;
}

// Spans cut to a record of `size` bytes, sorted, the empty ones dropped and those that
// overlap or touch joined.
Spans normalized(Spans spans, quint32 size)
{
    const int end = int(size);
    for (rec::Span& s : spans) {
        s.begin = std::clamp(s.begin, 0, end);
        s.end = std::clamp(s.end, s.begin, end);
    }
    std::sort(spans.begin(), spans.end(), [](const rec::Span& a, const rec::Span& b) { return a.begin < b.begin; });
    Spans out;
    for (const rec::Span& s : std::as_const(spans)) {
        if (s.end == s.begin)
            continue;
        if (!out.isEmpty() && s.begin <= out.last().end)
            out.last().end = std::max(out.last().end, s.end);
        else
            out.append(s);
    }
    return out;
}

// What of `want` lies outside `have` (both normalized).
Spans missing(const Spans& have, const Spans& want)
{
    Spans out;
    for (const rec::Span& w : want) {
        int at = w.begin;
        for (const rec::Span& h : have) {
            if (h.end <= at)
                continue;
            if (h.begin >= w.end)
                break;
            if (h.begin > at)
                out.append({at, h.begin});
            at = std::max(at, h.end);
        }
        if (at < w.end)
            out.append({at, w.end});
    }
    return out;
}

bool covers(const Spans& have, qsizetype begin, qsizetype end)
{
    return std::any_of(have.begin(), have.end(), [&](const rec::Span& s) { return s.begin <= begin && end <= s.end; });
}

quint32 bytesIn(const Spans& spans)
{
    quint32 n = 0;
    for (const rec::Span& s : spans)
        n += quint32(s.end - s.begin);
    return n;
}

// A separate range costs its offset and byte count (8 bytes): a gap of up to as many
// unchanged bytes is cheaper sent than split.
constexpr qsizetype kMergeGap = 8;

// The PATCH_RECORD payload that turns base into data (both of one size), or nothing when
// its ranges do not fit a request of at most `limit` bytes. A write that changes
// nothing rewrites the first byte held, so that it is still a write to the controller.
// Of a record held in part only the bytes read are compared and sent: a gap between two
// ranges is sent only where it was read.
std::optional<QByteArray> patchPayload(const QString& name, const Link::HeldRecord& base, const QByteArray& data,
                                       quint32 limit)
{
    QList<std::pair<qsizetype, qsizetype>> ranges;  // [begin, end)
    const char* was = base.content.constData();
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] == was[i])
            continue;
        const qsizetype last = ranges.isEmpty() ? 0 : ranges.last().second;
        if (!ranges.isEmpty() && i - last <= kMergeGap && (!base.part || covers(*base.part, last, i)))
            ranges.last().second = i + 1;
        else
            ranges.append({i, i + 1});
    }
    if (ranges.isEmpty()) {
        if (base.part && base.part->isEmpty())
            return std::nullopt;  // nothing read to rewrite: the record goes whole
        const qsizetype first = base.part ? base.part->first().begin : 0;
        ranges.append({first, first + 1});
    }
    if (ranges.size() > std::numeric_limits<quint16>::max())
        return std::nullopt;
    proto::Writer w;
    w.str(name).u32(quint32(data.size())).bytes(base.digest()).u16(quint16(ranges.size()));
    for (const auto& range : std::as_const(ranges)) {
        w.u32(quint32(range.first)).bytes(data.mid(range.first, range.second - range.first));
        if (quint64(w.data().size()) > limit)
            return std::nullopt;
    }
    return w.data();
}

// The bytes of spans (normalized) into content, which has the record's size: each span
// in as few READ_RECORD requests as the chunk allows.
void readSpans(Link& link, const QString& name, QByteArray& content, const Spans& spans, MoveProgress& progress)
{
    quint32 done = 0;
    for (const rec::Span& span : spans) {
        for (quint32 offset = quint32(span.begin); offset < quint32(span.end);) {
            const quint32 length = std::min(link.chunkSize(), quint32(span.end) - offset);
            // The response's data follow its 12-byte header and the 4-byte count.
            progress.chunk(done, length, 16);
            proto::Reader r(link.call(proto::READ_RECORD, proto::Writer().str(name).u32(offset).u32(length).data()));
            const QByteArray part = r.bytes();
            if (!r.atEndOk() || quint32(part.size()) != length)
                throw EngineError(EngineError::kProtocol, QStringLiteral("malformed READ_RECORD response"));
            content.replace(qsizetype(offset), qsizetype(length), part);
            offset += length;
            done += length;
            progress.at(done);
        }
    }
}

// The whole record in READ_RECORD chunks.
QByteArray readWhole(Link& link, const QString& name, quint32 size, MoveProgress& progress)
{
    QByteArray data(qsizetype(size), '\0');
    readSpans(link, name, data, {{0, int(size)}}, progress);
    return data;
}

// The whole record in WRITE_RECORD chunks, at least one, so that an empty record is
// written as well.
void writeWhole(Link& link, const QString& name, const QByteArray& data, MoveProgress& progress)
{
    const quint32 total = quint32(data.size());
    quint32 offset = 0;
    do {
        const quint32 length = std::min(link.chunkSize(), total - offset);
        const QByteArray payload = proto::Writer().str(name).u32(total).u32(offset)
                                       .bytes(data.mid(offset, length)).data();
        // The request's data follow its header and every field before them.
        progress.chunk(offset, length, 12 + payload.size() - length);
        proto::Reader r(link.call(proto::WRITE_RECORD, payload));
        if (!r.atEndOk())
            throw EngineError(EngineError::kProtocol, QStringLiteral("malformed WRITE_RECORD response"));
        offset += length;
        progress.at(offset);
    } while (offset < total);
}

// RECORD_DIGEST: the record's size and digest, or nothing from a controller without it.
std::optional<std::pair<quint32, QByteArray>> askDigest(Link& link, const QString& name)
{
    try {
        proto::Reader r(link.call(proto::RECORD_DIGEST, proto::Writer().str(name).data()));
        const quint32 size = r.u32();
        const QByteArray digest = r.bytes();
        if (!r.atEndOk() || digest.size() != proto::kDigestSize)
            throw EngineError(EngineError::kProtocol, QStringLiteral("malformed RECORD_DIGEST response"));
        return std::make_pair(checkedSize(size), digest);
    } catch (const EngineError& e) {
        if (e.code() != EngineError::kUnsupported)
            throw;
        link.dropOptionalRequests();
        return std::nullopt;
    }
}

// The controller's content is no longer what this session read: a write merged from the
// old content would undo another client's change, so nothing is written.
[[noreturn]] void changedSinceRead(const QString& name)
{
    throw EngineError(EngineError::kChanged, QStringLiteral("%1 changed on the controller since it was read").arg(name));
}

// PATCH_RECORD; false when the whole record must go instead (a controller without it,
// or a request larger than its chunk). A refused base digest means the content changed
// since it was confirmed: over content read from the controller that fails the write.
bool sendPatch(Link& link, const QString& name, const Link::HeldRecord& base, const QByteArray& payload)
{
    try {
        if (!proto::Reader(link.call(proto::PATCH_RECORD, payload)).atEndOk())
            throw EngineError(EngineError::kProtocol, QStringLiteral("malformed PATCH_RECORD response"));
        return true;
    } catch (const EngineError& e) {
        if (e.code() == EngineError::kUnsupported) {
            link.dropOptionalRequests();
            return false;
        }
        // FAILED: the base digest no longer matches, the content changed since it was
        // confirmed. OUT_OF_RANGE: the controller's chunk limit; the whole record goes.
        if (e.code() == EngineError::kFailed && base.fromController)
            changedSinceRead(name);
        if (e.code() != EngineError::kFailed && e.code() != EngineError::kOutOfRange)
            throw;
        return false;
    }
}

// PATCH_RECORD from the held content, when the rules allow it: only content whose digest
// the controller has just confirmed (asked for here when no read since the last write
// has done it). False when the record must be written whole instead: nothing held,
// ranges too large or a controller without the optional requests. Content that the
// controller held is checked before a whole write too (inside the write's bracket, so
// nobody else can change it after the check); when it has changed, or the controller
// refuses the patch because it has, the write fails (kChanged) and nothing is written.
bool tryPatch(Link& link, const QString& name, const QByteArray& data)
{
    const auto it = link.held().find(name);
    if (!link.optionalRequests() || it == link.held().end())
        return false;
    const bool sameSize = it->content.size() == data.size() && !data.isEmpty();
    const std::optional<QByteArray> payload =
        sameSize ? patchPayload(name, *it, data, link.chunkSize()) : std::nullopt;
    if ((payload && !it->confirmed) || (!payload && it->fromController)) {
        const auto digest = askDigest(link, name);
        if (!digest)
            return false;
        if (digest->first != quint32(it->content.size()) || digest->second != it->digest()) {
            if (it->fromController)
                changedSinceRead(name);
            return false;  // only staged, or changed: the whole record gives what was asked
        }
        it->confirmed = true;
        it->fromController = true;
    }
    return payload && sendPatch(link, name, *it, *payload);
}

// A write over a record held in part: the bytes read go back, patched against the digest
// the controller named before they were read, or, when no patch can go, with the rest of
// the record read first and its digest confirmed again. Returns the content written:
// data when patched (known only in the spans read), the whole record otherwise.
// Anything this session has not read, it never writes: a byte outside the spans read
// that data changes, a value of another size, or a record written since without a read
// between (its digest unknown) fails the write before anything is sent.
std::pair<QByteArray, bool> writeOverPart(Engine* engine, Link& link, const QString& name, Link::HeldRecord& held,
                                          const QByteArray& data)
{
    const Spans& part = *held.part;
    auto notRead = [&](const QString& what) {
        throw EngineError(EngineError::kNotRead, QStringLiteral("%1: %2; read it whole before writing it").arg(name, what));
    };
    if (data.size() != held.content.size())
        notRead(QStringLiteral("a value of %1 bytes for a record of %2 read in part")
                    .arg(data.size())
                    .arg(held.content.size()));
    const Spans rest = missing(part, {{0, int(data.size())}});
    for (const rec::Span& s : rest) {
        for (int i = s.begin; i < s.end; ++i)
            if (data[i] != held.content[i])
                notRead(QStringLiteral("byte %1 was not read").arg(i));
    }
    if (held.digest().isEmpty())
        notRead(QStringLiteral("written since it was read"));
    if (const auto payload = link.optionalRequests() ? patchPayload(name, held, data, link.chunkSize()) : std::nullopt) {
        MoveProgress progress(engine, link, name, true, quint32(data.size()));
        if (sendPatch(link, name, held, *payload)) {
            progress.at(quint32(data.size()));
            return {data, false};
        }
    }
    // The whole record: what was not read comes from the controller first, and all of it
    // must still be the content whose digest was named, on the controller too (asked
    // again unless the controller has just refused the optional requests).
    QByteArray whole = held.content;
    {
        MoveProgress reading(engine, link, name, false, bytesIn(rest));
        readSpans(link, name, whole, rest, reading);
    }
    if (proto::digest(whole) != held.digest())
        changedSinceRead(name);
    if (link.optionalRequests()) {
        const auto now = askDigest(link, name);
        if (now && now->second != held.digest())
            changedSinceRead(name);
    }
    for (const rec::Span& s : part)
        whole.replace(s.begin, s.end - s.begin, data.mid(s.begin, s.end - s.begin));
    MoveProgress progress(engine, link, name, true, quint32(whole.size()));
    writeWhole(link, name, whole, progress);
    return {whole, true};
}

}  // namespace

QVariant Record::value()
{
    CallGuard guard;
    m_engine->trace(QStringLiteral("get-record ") + m_name);
    return read(std::nullopt);
}

QVariant Record::valueIn(const Spans& spans)
{
    CallGuard guard;
    QStringList parts;
    for (const rec::Span& s : spans)
        parts << QStringLiteral("%1+%2").arg(s.begin).arg(s.end - s.begin);
    m_engine->trace(QStringLiteral("get-record %1 %2").arg(m_name, parts.join(QLatin1Char(','))));
    return read(spans);
}

QVariant Record::read(const std::optional<Spans>& wanted)
{
    std::shared_ptr<Link> link = lockLink(m_link);
    auto& held = link->held();
    RecordCache* cache = link->cache();
    try {
        std::optional<quint32> size;
        QByteArray named;  // the digest the controller named before the read
        auto it = held.find(m_name);
        // The digest replaces RECORD_SIZE: it brings the size too.
        if (link->optionalRequests() && (it != held.end() || cache || wanted)) {
            if (const auto digest = askDigest(*link, m_name)) {
                const auto& [digestSize, controllerDigest] = *digest;
                const bool heldMatches = it != held.end() && digestSize == quint32(it->content.size())
                    && controllerDigest == it->digest();
                // Kept content counts only now that the controller has named its digest.
                std::optional<QByteArray> kept;
                if (!heldMatches && cache)
                    kept = cache->find(controllerDigest, digestSize);
                if (kept) {
                    it = held.insert(m_name, Link::HeldRecord{*kept, true, true, controllerDigest});
                } else if (!heldMatches && wanted) {
                    // Nothing of it held yet: its spans are read under the digest just named.
                    it = held.insert(m_name, Link::HeldRecord{QByteArray(qsizetype(digestSize), '\0'), true, true,
                                                              controllerDigest});
                    it->part = Spans{};
                }
                if (heldMatches || kept || wanted) {
                    it->confirmed = true;
                    it->fromController = true;
                    const Spans all{{0, int(digestSize)}};
                    const Spans lacking =
                        it->part ? missing(*it->part, wanted ? normalized(*wanted, digestSize) : all) : Spans{};
                    MoveProgress progress(m_engine, *link, m_name, false, bytesIn(lacking));
                    readSpans(*link, m_name, it->content, lacking, progress);
                    if (it->part) {
                        it->part = normalized(*it->part + lacking, digestSize);
                        if (missing(*it->part, all).isEmpty()) {
                            // Held whole now: pieces read at different times must still
                            // make the content the controller named.
                            it->part.reset();
                            if (proto::digest(it->content) != controllerDigest)
                                throw EngineError(EngineError::kChanged,
                                                  QStringLiteral("%1 changed on the controller while it was read")
                                                      .arg(m_name));
                            if (cache)
                                cache->keep(it->content, controllerDigest);
                        }
                    }
                    progress.at(bytesIn(lacking));
                    return QVariant(it->content);
                }
                size = digestSize;
                named = controllerDigest;
            }
        }
        if (!size) {
            proto::Reader sr(link->call(proto::RECORD_SIZE, proto::Writer().str(m_name).data()));
            size = sr.u32();
            if (!sr.atEndOk())
                throw EngineError(EngineError::kProtocol, QStringLiteral("malformed RECORD_SIZE response"));
            checkedSize(*size);
        }
        MoveProgress progress(m_engine, *link, m_name, false, *size);
        const QByteArray data = readWhole(*link, m_name, *size, progress);
        // Fresh, but no digest confirmed yet: a patch asks for one first.
        it = held.insert(m_name, Link::HeldRecord{data, false, true});
        // Kept for a later session only where a controller can confirm it, under the
        // digest it named: content that changed in between fails the check at its next
        // use, which is cheaper than hashing every read here.
        if (cache && !named.isEmpty())
            cache->keep(data, named);
        return QVariant(data);
    } catch (...) {
        held.remove(m_name);
        throw;
    }
}

void Record::setValue(const QVariant& v)
{
    CallGuard guard;
    m_engine->trace(QStringLiteral("put-record ") + m_name);
    if (v.typeId() != QMetaType::QByteArray)
        throw EngineError(EngineError::kTypeMismatch, QStringLiteral("a record value is a byte array"));
    const QByteArray data = v.toByteArray();
    if (quint64(data.size()) > kLargestRecord)
        throw EngineError(EngineError::kOutOfRange, QStringLiteral("record value too large"));
    std::shared_ptr<Link> link = lockLink(m_link);
    auto& held = link->held();
    try {
        if (const auto it = held.find(m_name); it != held.end() && it->part) {
            const auto [written, whole] = writeOverPart(m_engine, *link, m_name, *it, data);
            Link::HeldRecord after{written, false, false};
            // Patched: still known only in the spans read, and its digest is unknown until
            // the next read names it.
            if (!whole)
                after.part = it->part;
            held.insert(m_name, after);
            return;
        }
        MoveProgress progress(m_engine, *link, m_name, true, quint32(data.size()));
        if (tryPatch(*link, m_name, data))
            progress.at(quint32(data.size()));
        else
            writeWhole(*link, m_name, data, progress);
        // Held for the next read, which must confirm it first: inside a transaction the
        // write is only staged. Kept too, for a later session to confirm.
        const auto it = held.insert(m_name, Link::HeldRecord{data, false, false});
        if (RecordCache* cache = link->cache(); cache && link->optionalRequests())
            cache->keep(data, it->digest());
    } catch (...) {
        held.remove(m_name);
        throw;
    }
}

// --- Controller --------------------------------------------------------------------

Controller::~Controller() = default;

void Controller::adopt(ControllerItem& item, const QString& name, int index)
{
    item.m_link = m_link;
    item.m_engine = m_engine;
    item.m_name = name;
    item.m_index = index;
}

std::shared_ptr<Record> Controller::addRecord(const QString& name, const QString& options)
{
    CallGuard guard;
    m_engine->trace(QStringLiteral("add-record ") + name);
    lockLink(m_link);
    auto record = std::make_shared<Record>();
    adopt(*record, name, m_records.nextIndex());
    record->m_options = options;
    m_records.add(record);
    return record;
}

std::shared_ptr<Value> Controller::addValue(const QString& name, const QString& options)
{
    Q_UNUSED(options)
    CallGuard guard;
    m_engine->trace(QStringLiteral("add-value ") + name);
    lockLink(m_link);
    auto value = std::make_shared<Value>();
    adopt(*value, name, m_values.nextIndex());
    m_values.add(value);
    return value;
}

QVariant Controller::execute(const QString& command, const QVariant& parameter)
{
    CallGuard guard;
    m_engine->trace(QStringLiteral("execute %1 %2").arg(command, describe(parameter)));
    std::shared_ptr<Link> link = lockLink(m_link);
    proto::Reader r(link->call(proto::EXECUTE, proto::Writer().str(command).value(toWire(parameter)).data()));
    const proto::Value result = r.value();
    if (!r.atEndOk())
        throw EngineError(EngineError::kProtocol, QStringLiteral("malformed EXECUTE response"));
    return fromWire(result);
}

LinkTraffic Controller::traffic() const { return m_link ? m_link->traffic() : LinkTraffic{}; }
QString Controller::controllerId() const { return m_link ? m_link->controllerId() : QString(); }
QString Controller::model() const { return m_link ? m_link->model() : QString(); }
quint32 Controller::largestChunk() const { return m_link ? m_link->largestChunk() : 0; }

void Controller::close()
{
    if (m_link)
        m_link->close();
}

// --- Workspace and engine ----------------------------------------------------------

std::shared_ptr<Controller> Workspace::addController(const QString& name, const QString& provider,
                                                     const QString& machine, const QString& options)
{
    Q_UNUSED(name)
    Q_UNUSED(machine)
    CallGuard guard;
    m_engine->trace(QStringLiteral("add-controller"));
    if (provider.compare(QLatin1String(Engine::kProvider), Qt::CaseInsensitive) != 0)
        throw EngineError(EngineError::kBadProvider, QStringLiteral("unknown provider ") + provider);
    const LinkOptions opts = ParseLinkOptions(options);
    auto link = std::make_shared<Link>(opts, m_engine->watch());
    link->open(QStringLiteral("Tolvane"));
    if (opts.recordCache)
        link->setCache(std::make_unique<RecordCache>(RecordCache::defaultFolder()));
    auto controller = std::make_shared<Controller>();
    controller->m_link = link;
    controller->m_engine = m_engine;
    controller->m_records.m_kind = QStringLiteral("record");
    controller->m_records.m_engine = m_engine;
    controller->m_values.m_kind = QStringLiteral("value");
    controller->m_values.m_engine = m_engine;
    controller->m_index = m_controllers.nextIndex();
    m_controllers.add(controller);
    return controller;
}

Engine::Engine() : m_watch(std::make_shared<LinkWatch>()) {}

void Engine::setWaitHook(WaitHook hook)
{
    m_watch->report = std::move(hook);
}

void Engine::cancel()
{
    m_watch->cancelled = true;
    CallGuard::cancelWait();
}

Engine::~Engine()
{
    m_workspaces.clear();
}

void Engine::trace(const QString& line) const
{
    qCDebug(lcEngine).noquote() << line;
    if (m_trace)
        m_trace(line);
}

std::shared_ptr<Workspace> Engine::addWorkspace(const QString& name, const QVariant& options)
{
    Q_UNUSED(name)
    Q_UNUSED(options)
    CallGuard guard;
    trace(QStringLiteral("add-workspace"));
    auto ws = std::make_shared<Workspace>();
    ws->m_engine = this;
    ws->m_controllers.m_kind = QStringLiteral("controller");
    ws->m_controllers.m_engine = this;
    // Removing a controller from the collection closes its link.
    ws->m_controllers.m_onRemove = [](Controller& c) { c.close(); };
    m_workspaces.push_back(ws);
    return ws;
}
