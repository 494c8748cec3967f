// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// The controller-access engine: engine object, workspace, controller, value and record,
// each kept in its owner's collection and removed from it by index. Every call either
// succeeds or throws EngineError; the controller routines turn that into results.
//
// The one provider, "CaoProv.Marov.Quillet", speaks the controller link protocol over
// TCP or a serial line. A call that waits for the controller runs a local event loop
// that delivers every event, so the window keeps painting and its Cancel button can be
// pressed; the caller disables what must not be used meanwhile, and a second engine call
// made while one waits fails with kBusy. Engine::cancel ends such a wait.

#include "controller/linktypes.h"
#include "controller/recordlayout.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class Engine;
class Link;

// How far a record's move has come: reported when it starts (done 0), as its bytes go
// and come (estimated from the line's rate while a request leaves a serial line), and
// once more with finished set when it ends, also after a failure. done never goes back.
struct TransferProgress {
    QString record;
    bool writing = false;
    quint32 done = 0;
    quint32 total = 0;
    bool finished = false;
};

// A collection of engine items, each with an index that stays fixed while it is held:
// the smallest number not in use when the item was added.
template <class T>
class Collection {
public:
    int count() const { return int(m_items.size()); }
    std::shared_ptr<T> at(int pos) const { return m_items.at(size_t(pos)); }
    // index: a QVariant holding a 32-bit int, as the engine's interface asks.
    void remove(const QVariant& index);
private:
    friend class Workspace;
    friend class Controller;
    friend class Engine;
    int nextIndex() const;
    void add(std::shared_ptr<T> item) { m_items.push_back(std::move(item)); }
    std::vector<std::shared_ptr<T>> m_items;
    std::function<void(T&)> m_onRemove;
    QString m_kind;  // "controller", "value", "record": for the call trace
    Engine* m_engine = nullptr;
};

class Controller;

// What values and records share: the link they are read through, their name, and the
// index they hold in their controller's collection.
class ControllerItem {
public:
    int index() const { return m_index; }
    QString name() const { return m_name; }
protected:
    friend class Controller;
    std::weak_ptr<Link> m_link;
    Engine* m_engine = nullptr;
    QString m_name;
    int m_index = 0;
};

class Value : public ControllerItem {
public:
    QVariant value();  // READ_VALUE: empty, int, QVector<qint16>, QByteArray or QString
};

// A controller record. Its link keeps, for the session, the content last read or
// written, so that only what changed need move: a read of a record held asks for its
// digest (RECORD_DIGEST) and answers from what is held when the digest matches; a
// write of a held record sends the changed ranges in one PATCH_RECORD when they fit,
// once the controller has confirmed the held content's digest (asking for it first when
// no re-read has just done so). A write over read content that the controller has
// changed since throws kChanged and writes nothing: it was merged from stale bytes. A
// controller without these requests (UNSUPPORTED) gets whole reads and writes for the
// rest of the session, and cannot tell such a change.
//
// A record read in part (valueIn) is held in part: a later read fetches only what it
// lacks, and a write takes back only the bytes that were read. It patches them against
// the digest the controller named before the read; when the patch cannot go, the rest
// of the record is read first and the digest confirmed again, so that no byte the
// session has not read is ever written.
class Record : public ControllerItem {
public:
    // RECORD_SIZE (or RECORD_DIGEST), then READ_RECORD chunks; a QVariant holding a
    // QByteArray.
    QVariant value();
    // Only the bytes of spans, in as few READ_RECORD requests as the chunk allows, once
    // the controller has named its digest: a QByteArray of the record's size whose other
    // bytes are 0 (spans past its end are cut off). Content held whole, or kept between
    // sessions under that digest, is given whole; a controller without RECORD_DIGEST is
    // read whole.
    QVariant valueIn(const QList<rec::Span>& spans);
    // PATCH_RECORD, or WRITE_RECORD chunks; the variant must hold a QByteArray. Over a
    // record held in part, a byte outside what was read that is not 0, a value of another
    // size, or a second write without a read in between throws kNotRead, and nothing is
    // written.
    void setValue(const QVariant& v);
private:
    friend class Controller;
    QVariant read(const std::optional<QList<rec::Span>>& spans);
    QString m_options;
};

class Controller {
public:
    ~Controller();
    Collection<Record>& records() { return m_records; }
    int index() const { return m_index; }
    Collection<Value>& values() { return m_values; }
    std::shared_ptr<Record> addRecord(const QString& name, const QString& options);
    std::shared_ptr<Value> addValue(const QString& name, const QString& options);
    // command parameter: invalid (empty), int, QVector<qint16> or a QVariantList of
    // qint16, QByteArray or QString.
    QVariant execute(const QString& command, const QVariant& parameter);

    // What the controller told at OPEN.
    QString controllerId() const;
    QString model() const;
    quint32 largestChunk() const;
    LinkTraffic traffic() const;
private:
    friend class Workspace;
    friend class Engine;
    void close();  // CLOSE, best effort, then the link is closed
    // Ties a new value or record to this controller's link under the given index.
    void adopt(ControllerItem& item, const QString& name, int index);
    std::shared_ptr<Link> m_link;
    Engine* m_engine = nullptr;
    Collection<Record> m_records;
    Collection<Value> m_values;
    int m_index = 0;
};

class Workspace {
public:
    Collection<Controller>& controllers() { return m_controllers; }
    // Opens the link named by options and sends OPEN; throws on any failure.
    std::shared_ptr<Controller> addController(const QString& name, const QString& provider,
                                              const QString& machine, const QString& options);
private:
    friend class Engine;
    Engine* m_engine = nullptr;
    Collection<Controller> m_controllers;
};

class Engine {
public:
    Engine();
    ~Engine();
    std::shared_ptr<Workspace> addWorkspace(const QString& name, const QVariant& options);

    // Call trace for tests: receives "add-controller", "remove-controller 0",
    // "add-value @ERROR_CODE", "remove-value 0", "execute doSignal 0,0", …
    using TraceHook = std::function<void(const QString&)>;
    void setTraceHook(TraceHook hook) { m_trace = std::move(hook); }
    // Also the tolvane.engine category's line of the call.
    void trace(const QString& line) const;

    // Progress of record reads and writes, for a progress bar; called from inside the
    // waiting loop, so it must not make engine calls.
    using ProgressHook = std::function<void(const TransferProgress&)>;
    void setProgressHook(ProgressHook hook) { m_progress = std::move(hook); }
    void progress(const TransferProgress& p) const { if (m_progress) m_progress(p); }
    bool watched() const { return bool(m_progress); }

    // How each call waits for its controller, for a line that says so; called from inside
    // the waiting loop, so it must not make engine calls.
    void setWaitHook(WaitHook hook);

    // Ends the wait of the call under way now (a record's move at its next chunk when
    // the chunk under way has just come whole): that call throws kCancelled at once; a
    // connect under way stops too. The controllers' sessions stay, so that the caller can
    // end what it began there (an access bracket, a write transaction): from now on each
    // request on the engine's links gets one attempt of at most a second plus its line
    // time, and none once one has gone unanswered.
    void cancel();
    const std::shared_ptr<LinkWatch>& watch() const { return m_watch; }

    static constexpr const char* kProvider = "CaoProv.Marov.Quillet";
private:
    TraceHook m_trace;
    ProgressHook m_progress;
    std::shared_ptr<LinkWatch> m_watch;  // shared with every link the engine opens
    std::vector<std::shared_ptr<Workspace>> m_workspaces;
};

// --- template members --------------------------------------------------------------

template <class T>
int Collection<T>::nextIndex() const
{
    for (int i = 0;; ++i) {
        bool used = false;
        for (const auto& item : m_items)
            used = used || item->index() == i;
        if (!used)
            return i;
    }
}

void TraceRemove(Engine* engine, const QString& kind, int index);
int IndexFromVariant(const QVariant& index);

template <class T>
void Collection<T>::remove(const QVariant& index)
{
    CallGuard guard;
    const int i = IndexFromVariant(index);
    TraceRemove(m_engine, m_kind, i);
    for (auto it = m_items.begin(); it != m_items.end(); ++it) {
        if ((*it)->index() == i) {
            std::shared_ptr<T> item = *it;
            m_items.erase(it);
            if (m_onRemove)
                m_onRemove(*item);
            return;
        }
    }
    throw EngineError(EngineError::kNoSuchIndex,
                      QStringLiteral("no %1 with index %2").arg(m_kind).arg(i));
}
