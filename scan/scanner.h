// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#pragma once
// Finds controllers: tries each address and port setting of the targets with OPEN under
// a short deadline, many at once, and keeps what answered it correctly. Nothing is
// ever written to a controller.

#include "controller/commlink.h"
#include "scan/scantarget.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace scan {

struct ScanOptions {
    int timeoutMs = 500;                                     // the T of each attempt's deadline
    int retries = 0;                                         // further attempts of a connect or a request
    int parallel = 64;                                       // addresses and ports tried at once
    bool details = false;                                    // also read @CNF_RAW_COM
    int startsPerSecond = 1000;                              // new connections and ports opened, at most
    QString clientName = QStringLiteral("tolvanectl scan");  // what OPEN tells the controller
};

struct Found {
    qint64 order = 0;  // the place of its address or port among the targets
    QString conn;      // the connection text to use
    QString id, model;
    // With details: what a scan shows of @CNF_RAW_COM's settings (rec::kShownSpans: the
    // usage words, baud rate, address and mask; the other fields are 0, as they are not
    // read), nullopt when they could not be read (why says why).
    std::optional<CommSettings> settings;
    QString why;
};

struct ScanProgress {
    qint64 tried = 0;  // addresses and port settings done
    qint64 total = 0;
    int found = 0;
};

class Probe;

class Scanner : public QObject {
    Q_OBJECT
public:
    Scanner(QList<Target> targets, ScanOptions options, QObject* parent = nullptr);
    ~Scanner() override;

    // Runs the whole scan in a local event loop and returns when every address and port
    // setting has been tried.
    void run();
    // Starts the scan and returns at once: answered() reports each controller as it
    // answers, done() the end. A scanner scans once.
    void start();
    // Ends every try at once (sockets and lines closed, nothing more reported as found);
    // done() is emitted before it returns. Nothing when the scan is not running.
    void cancel();
    bool running() const { return m_running; }

    // Called whenever a try ends.
    void setProgressHook(std::function<void(const ScanProgress&)> hook) { m_hook = std::move(hook); }

    // What answered, in the order of the targets.
    QList<Found> found() const;
    qint64 tried() const { return m_progress.tried; }
    qint64 total() const { return m_progress.total; }

    // For the probes: a new connection may start now (at most startsPerSecond a second).
    bool takeStart();
    const ScanOptions& options() const { return m_options; }
    void finished(Probe* probe, qint64 tried, std::optional<Found> found);

signals:
    void answered(const scan::Found& found);
    void done();

private:
    struct Work {
        bool serial = false;
        quint32 address = 0;
        int port = 0;
        QList<LineSetting> settings;
        qint64 order = 0;
    };
    std::optional<Work> nextWork();
    void schedule();

    QList<Target> m_targets;
    ScanOptions m_options;
    std::function<void(const ScanProgress&)> m_hook;
    ScanProgress m_progress;
    QList<Found> m_found;
    qsizetype m_target = 0;  // the target being expanded
    qint64 m_offset = 0;     // its next address
    qint64 m_order = 0;
    int m_active = 0;
    qint64 m_started = 0;  // connections started so far
    QElapsedTimer m_clock;
    QTimer m_tick;
    QSet<Probe*> m_probes;  // the tries under way
    bool m_running = false;
};

}  // namespace scan
