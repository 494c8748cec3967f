// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard's controller calls against their floors, through CommLink and the real
// simulator, as markdown tables:
// - RS232C at each baud rate, over a line this program paces itself (PacedRelay): the
//   first read (connect, and the settings' spans of both records) and Complete (re-read,
//   then write) with and without the optional requests against the frames they cannot do
//   without, sent plainly through a second line of the same rate; a backup (connect and
//   the six records whole) against their line time.
// - Ethernet on loopback: connect with the first read, Complete and the error code, each
//   against a plain socket exchange of the frames it needs in as many round trips.
// Each figure is the median of its runs; each run of the program is followed by a run of
// its floor, so that both see the machine as it is.
//
// - Records kept between sessions: the first read of a controller backed up before and
//   of one never seen, on the line at the slowest rate and on Ethernet (cacheCase).
//
//   bench_wizard_link [--rounds N] [--slow-rounds N] [--bauds B,B,...] [--no-ethernet]
//                     [--no-cache-case | --cache-only]
//   (TOLVANE_BIN_DIR: folder of tolvane-sim)

#include "wizard/wizardmodel.h"
#include "bench/benchsupport.h"
#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "controller/engine.h"
#include "tests/support/simprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <tuple>

namespace {

const QString kRaw = QStringLiteral("@CNF_RAW_COM");
const QString kBack = QStringLiteral("@CNF_BACKPRM");
constexpr int kChunk = 4096;
// The six records a backup moves: 256, 24576, 320, 384, 448 and 512 bytes.
constexpr int kAllRecordsSize = 26496;
const QString kSimAddress = QStringLiteral("127.0.6.20");
const QString kFloorAddress = QStringLiteral("127.0.6.21");

struct Options {
    int rounds = 25;     // quick sequences
    int slowRounds = 3;  // sequences that move whole records over a line
    QList<int> bauds{115200, 38400, 9600};
    bool ethernet = true;
    bool cache = true;
    bool cacheOnly = false;  // only the table of records kept between sessions
};

// The frames of the first read of a controller never seen: OPEN, the bracket, each
// record's digest and the spans the settings decode from.
QList<Trip> firstReadFrames(const QString& id, const QString& model)
{
    QList<Trip> t{floorframes::open(QStringLiteral("Tolvane"), id, model), floorframes::signal()};
    for (const QString& name : {kRaw, kBack}) {
        t += floorframes::digest(name);
        t += floorframes::readSpans(name, rec::SettingsSpans(name), kChunk);
    }
    t += floorframes::signal();
    return t;
}

// The settings' bytes among them.
qint64 settingsBytes()
{
    qint64 n = 0;
    for (const QString& name : {kRaw, kBack})
        for (const rec::Span& s : rec::SettingsSpans(name))
            n += s.end - s.begin;
    return n;
}

// The frames Complete cannot do without (the re-read's bracket and digests, the write's
// transaction, bracket and patches), and the bytes among them that carry the digests
// and the changed ranges.
struct CompleteFloor {
    QList<Trip> frames;
    qint64 payload = 0;
};

// The engineer's edit of round k: the controller's address and the token, on the
// Ethernet page (every value a loopback one), and the floor of the Complete that follows.
CompleteFloor editAndFloor(CommLink& link, ControllerSelections& view, int k)
{
    view.device = 0;
    CommSettings& s = link.settings();
    s.ipAddress = {127, 0, 7, quint8(10 + k % 2)};
    s.subnetMask = {255, 255, 0, 0};
    s.tokenCode = k % 2 ? 1 : 2;
    s.tokenIp = {127, 0, 7, quint8(20 + k % 2)};
    const QByteArray raw = link.keptValue(kRaw), back = link.keptValue(kBack);
    const Trip sig = floorframes::signal();
    const Trip patchRaw = floorframes::patch(kRaw, raw, EncodeRawCom(raw, s, 0));
    const Trip patchBack = floorframes::patch(kBack, back, EncodeToken(back, s));
    // A patch request's ranges follow its 16 bytes of frame, the name, size, digest and count.
    const auto ranges = [](const Trip& patch) { return patch.first - (16 + 2 + int(kRaw.size()) + 4 + 4 + 32 + 2); };
    return {{sig, floorframes::digest(kRaw), floorframes::digest(kBack), sig, sig, sig, patchRaw, patchBack, sig, sig},
            2 * 32 + ranges(patchRaw) + ranges(patchBack)};
}

// What moved on the link between two readings of its traffic: round trips and bytes.
std::pair<quint64, qint64> moved(const LinkTraffic& before, const LinkTraffic& after)
{
    return {after.attempts - before.attempts,
            qint64(after.bytesSent + after.bytesReceived - before.bytesSent - before.bytesReceived)};
}

double secondsOf(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

struct Figure {
    QList<double> program, floor;
    qint64 wire = 0, floorBytes = 0, payload = 0;
    quint64 trips = 0, neededTrips = 0;
};

// goal: the largest ratio to the floor; wireGoal: the largest ratio of bytes; seconds:
// the longest time (each 0 for none).
void printLineRow(int baud, const char* what, const Figure& f, const PacedRelay& line, double goal, double wireGoal,
                  double seconds)
{
    const double p = Median(f.program), fl = Median(f.floor);
    const double wire = double(f.wire) / double(f.floorBytes);
    const bool met = goal <= 0
                     || (p / fl <= goal && (wireGoal <= 0 || wire <= wireGoal) && (seconds <= 0 || p <= seconds));
    QString goalText = goal > 0 ? QStringLiteral("%1 ≤ %2").arg(met ? "met" : "MISSED").arg(goal) : QStringLiteral("none");
    if (goal > 0 && wireGoal > 0)
        goalText += QStringLiteral(", wire ≤ %1").arg(wireGoal);
    if (goal > 0 && seconds > 0)
        goalText += QStringLiteral(", ≤ %1 s").arg(seconds);
    std::printf("| %d | %s | %.3f | %.3f | %.3f | %.3f | %lld | %lld | %.3f | %lld | %d | %s |\n", baud, what, p, fl,
                p / fl, line.lineSeconds(quint64(f.floorBytes)), qlonglong(f.wire), qlonglong(f.floorBytes), wire,
                qlonglong(f.payload), int(f.program.size()), qPrintable(goalText));
    std::fflush(stdout);
}

// The program's line and its floor's, both at baud, and the selections of the first page
// for COM9, which is linked to the program's line; false (with a row saying so) when a
// relay cannot start.
bool startLines(int baud, const QString& portsDir, PacedRelay& line, PacedRelay& floorLine, ControllerSelections& view)
{
    QString error;
    if (!line.start(baud, 10, &error) || !floorLine.start(baud, 10, &error)) {
        std::printf("| %d | relay failed: %s |\n", baud, qPrintable(error));
        return false;
    }
    const QString com = portsDir + QStringLiteral("/com9");
    QFile::remove(com);
    QFile::link(line.clientEnd(), com);
    view.ethernet = false;
    view.port = 9;
    view.baud = baud;
    view.parity = 1;
    view.dataLength = 8;
    view.stopBit = QStringLiteral("1");
    return true;
}

// One baud rate: a session on a controller without the optional requests (a backup,
// then Complete with whole records), then sessions on one with them (the first read,
// then Complete).
bool serialCase(int baud, const Options& o, const QString& portsDir)
{
    PacedRelay line, floorLine;
    ControllerSelections view;
    if (!startLines(baud, portsDir, line, floorLine, view))
        return false;

    Figure read, backup, whole, patched;
    read.payload = settingsBytes();
    backup.payload = backup.floorBytes = kAllRecordsSize;
    for (const bool optional : {false, true}) {
        QStringList args{QStringLiteral("--serial"), line.controllerEnd(), QStringLiteral("--baud"), QString::number(baud)};
        if (!optional)
            args << QStringLiteral("--no-optional-requests");
        SimProcess sim(args);
        if (!sim.start()) {
            std::printf("| %d | simulator did not start |\n", baud);
            return false;
        }
        // Each session is the wizard's: connect and read (on the controller without the
        // optional requests, a backup of the six records whole instead), then one
        // Complete, after which the wizard closes.
        const int sessions = optional ? o.rounds : o.slowRounds;
        Figure& complete = optional ? patched : whole;
        for (int k = 0; k < sessions; ++k) {
            CommLink link(view);
            link.setRecordCache(false);  // records kept between sessions are cacheCase's
            const quint64 before = line.toController() + line.toClient();
            QElapsedTimer t;
            t.start();
            if (!optional) {
                if (!link.ConnectController() || !link.ReadAllRecords()) {
                    std::printf("| %d | backup failed |\n", baud);
                    return false;
                }
                backup.program << secondsOf(t);
                backup.wire = qint64(line.toController() + line.toClient() - before);
                backup.floor << PlainLineExchange(floorLine, {{1, kAllRecordsSize}});
            } else {
                if (wizard::ConnectAndRead(link) != wizard::Opened::kDone) {
                    std::printf("| %d | first read failed |\n", baud);
                    return false;
                }
                read.program << secondsOf(t);
                read.wire = qint64(line.toController() + line.toClient() - before);
                const QList<Trip> frames = firstReadFrames(link.controller()->controllerId(), link.controller()->model());
                read.floorBytes = floorframes::bytes(frames);
                read.floor << PlainLineExchange(floorLine, frames);
            }
            const CompleteFloor floor = editAndFloor(link, view, k);
            const QList<Trip>& frames = floor.frames;
            const quint64 wireBefore = line.toController() + line.toClient();
            t.start();
            if (!wizard::WriteBack(link)) {
                std::printf("| %d | Complete failed |\n", baud);
                return false;
            }
            complete.program << secondsOf(t);
            complete.wire = qint64(line.toController() + line.toClient() - wireBefore);
            complete.floorBytes = floorframes::bytes(frames);
            complete.floor << PlainLineExchange(floorLine, frames);
            complete.payload = floor.payload;
        }
    }
    printLineRow(baud, "first read: connect, the settings of both records", read, line, 1.05, 1.03,
                 baud <= 9600 ? 1.0 : 0);
    printLineRow(baud, "backup: connect, the six records whole", backup, line, 1.05, 0, 0);
    printLineRow(baud, "Complete with the optional requests", patched, line, 1.1, 0, baud <= 9600 ? 2.0 : 0);
    printLineRow(baud, "Complete without them (whole records)", whole, line, 0, 0, 0);
    return true;
}

void printSocketRow(const char* what, const Figure& f, bool goal)
{
    const double p = Median(f.program) * 1000, fl = Median(f.floor) * 1000;
    const bool met = p / fl <= 3 && f.trips <= f.neededTrips;
    std::printf("| %s | %.3f | %.3f | %.2f | %llu | %llu | %lld | %lld | %d | %s |\n", what, p, fl, p / fl,
                qulonglong(f.trips), qulonglong(f.neededTrips), qlonglong(f.wire), qlonglong(f.floorBytes),
                int(f.program.size()), !goal ? "none" : met ? "met ≤ 3, no extra trips" : "MISSED ≤ 3, no extra trips");
    std::fflush(stdout);
}

// Ethernet: all three sequences on one simulator; a second one without the optional
// requests for Complete with whole records.
bool ethernetCase(const Options& o)
{
    ControllerSelections view;
    view.address = {127, 0, 6, 20};
    Figure connect, complete, whole, code;
    for (const bool optional : {true, false}) {
        QStringList args{QStringLiteral("--listen"), kSimAddress};
        if (!optional)
            args << QStringLiteral("--no-optional-requests");
        SimProcess sim(args);
        if (!sim.start()) {
            std::printf("| simulator did not start | |\n");
            return false;
        }
        const int rounds = o.rounds * 4;
        for (int k = 0; k < rounds; ++k) {
            CommLink link(view);
            link.setRecordCache(false);
            QElapsedTimer t;
            t.start();
            if (wizard::ConnectAndRead(link) != wizard::Opened::kDone) {
                std::printf("| first read failed | |\n");
                return false;
            }
            const double readSeconds = secondsOf(t);
            const LinkTraffic afterRead = link.controller()->traffic();
            const QList<Trip> readFrames = firstReadFrames(link.controller()->controllerId(), link.controller()->model());
            if (optional) {
                connect.program << readSeconds;
                std::tie(connect.trips, connect.wire) = moved(LinkTraffic{}, afterRead);
                connect.neededTrips = quint64(readFrames.size());
                connect.floorBytes = floorframes::bytes(readFrames);
                connect.floor << PlainSocketExchange(kFloorAddress, readFrames, true);
            }

            Figure& c = optional ? complete : whole;
            const QList<Trip> frames = editAndFloor(link, view, k).frames;
            t.start();
            if (!wizard::WriteBack(link)) {
                std::printf("| Complete failed | |\n");
                return false;
            }
            c.program << secondsOf(t);
            const LinkTraffic afterComplete = link.controller()->traffic();
            std::tie(c.trips, c.wire) = moved(afterRead, afterComplete);
            c.neededTrips = quint64(frames.size());
            c.floorBytes = floorframes::bytes(frames);
            c.floor << PlainSocketExchange(kFloorAddress, frames, false);

            if (optional) {
                t.start();
                if (link.GetControllerErrorCode() != 0) {
                    std::printf("| error code failed | |\n");
                    return false;
                }
                code.program << secondsOf(t);
                std::tie(code.trips, code.wire) = moved(afterComplete, link.controller()->traffic());
                code.neededTrips = 1;
                code.floorBytes = floorframes::bytes({floorframes::errorCode()});
                code.floor << PlainSocketExchange(kFloorAddress, {floorframes::errorCode()}, false);
            }
            link.DisconnectController();
        }
    }
    printSocketRow("connect with the first read", connect, true);
    printSocketRow("Complete with the optional requests", complete, true);
    printSocketRow("Complete without them (whole records)", whole, false);
    printSocketRow("GetControllerErrorCode", code, true);
    return true;
}

// One first read (connect, both records, as the wizard's Next does) and what it moved.
struct ReadRun {
    bool ok = false;
    double seconds = 0;
    double endSeconds = 0;  // the disconnect: CLOSE, and the kept records written
    qint64 wire = 0;
    QString id, model;  // from OPEN, for the floor's frames
};

ReadRun firstRead(ControllerSelections& view, bool cache, const PacedRelay* line)
{
    CommLink link(view);
    link.setRecordCache(cache);
    const quint64 before = line ? line->toController() + line->toClient() : 0;
    QElapsedTimer t;
    t.start();
    ReadRun run;
    run.ok = wizard::ConnectAndRead(link) == wizard::Opened::kDone;
    run.seconds = secondsOf(t);
    run.wire = line ? qint64(line->toController() + line->toClient() - before)
                    : qint64(link.controller() ? moved(LinkTraffic{}, link.controller()->traffic()).second : 0);
    if (link.controller()) {
        run.id = link.controller()->controllerId();
        run.model = link.controller()->model();
    }
    t.start();
    link.DisconnectController();
    run.endSeconds = secondsOf(t);
    return run;
}

void printCacheRow(const QString& where, const char* what, const QList<double>& program, const QList<double>& against,
                   qint64 wire, const char* goal, bool met)
{
    const double p = Median(program), a = Median(against);
    const QString verdict = !goal ? QStringLiteral("none") : QStringLiteral("%1 %2").arg(met ? "met" : "MISSED", goal);
    std::printf("| %s | %s | %.4f | %.4f | %.3f | %lld | %d | %s |\n", qPrintable(where), what, p, a, p / a,
                qlonglong(wire), int(program.size()), qPrintable(verdict));
    std::fflush(stdout);
}

// Records kept between sessions, on a line at the slowest rate asked for and on Ethernet:
// the first read of a controller backed up before (its records kept whole; on the line
// against its floor: OPEN, the bracket and the two digest exchanges, sent plainly), and
// of one never seen (the cache's folder emptied before each run), each against the same
// read with the cache off; and the disconnect, which writes what the session kept. The
// runs of the three take turns, so that all see the machine as it is.
bool cacheCase(const Options& o, const QString& portsDir)
{
    const int baud = *std::min_element(o.bauds.begin(), o.bauds.end());
    PacedRelay line, floorLine;
    ControllerSelections serial;
    if (!startLines(baud, portsDir, line, floorLine, serial))
        return false;
    ControllerSelections ethernet;
    ethernet.address = {127, 0, 6, 20};
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    bool ok = true;
    for (const bool onLine : {true, false}) {
        SimProcess sim(onLine ? QStringList{QStringLiteral("--serial"), line.controllerEnd(), QStringLiteral("--baud"),
                                            QString::number(baud)}
                              : QStringList{QStringLiteral("--listen"), kSimAddress});
        if (!sim.start()) {
            std::printf("| simulator did not start | |\n");
            return false;
        }
        ControllerSelections& view = onLine ? serial : ethernet;
        QList<double> seen, unseen, off, floor, endOn, endOff;
        qint64 seenWire = 0, unseenWire = 0;
        const int rounds = onLine ? o.slowRounds : o.rounds * 4;
        QTemporaryDir cacheHome;
        qputenv("XDG_CACHE_HOME", cacheHome.path().toUtf8());
        const QDir kept(cacheHome.filePath(QStringLiteral("Tolvane/records")));
        // A backup keeps the records whole; a copy of what it kept stands for a
        // controller backed up before.
        {
            CommLink link(view);
            ok = link.ConnectController() && link.ReadAllRecords();
        }
        QMap<QString, QByteArray> backedUp;
        for (const QString& entry : kept.entryList(QDir::Files)) {
            QFile f(kept.filePath(entry));
            if (f.open(QIODevice::ReadOnly))
                backedUp.insert(entry, f.readAll());
        }
        ok = ok && !backedUp.isEmpty();
        const auto setKept = [&](const QMap<QString, QByteArray>& entries) {
            for (const QString& entry : kept.entryList(QDir::Files))
                QFile::remove(kept.filePath(entry));
            for (auto it = entries.begin(); it != entries.end(); ++it) {
                QFile f(kept.filePath(it.key()));
                if (f.open(QIODevice::WriteOnly))
                    f.write(it.value());
                f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            }
        };
        for (int k = 0; k < rounds && ok; ++k) {
            // Never seen: the folder is there, as on a machine that has read others, but
            // it holds nothing of this controller.
            setKept({});
            // The read without the cache takes each place in turn, the one of a controller
            // read before always follows the first with it.
            const PacedRelay* paced = onLine ? &line : nullptr;
            std::optional<ReadRun> without;
            if (k % 3 == 0)
                without = firstRead(view, false, paced);
            const ReadRun fresh = firstRead(view, true, paced);
            if (k % 3 == 1)
                without = firstRead(view, false, paced);
            setKept(backedUp);
            const ReadRun again = firstRead(view, true, paced);
            if (k % 3 == 2)
                without = firstRead(view, false, paced);
            ok = without->ok && fresh.ok && again.ok;
            off << without->seconds;
            unseen << fresh.seconds;
            seen << again.seconds;
            endOff << without->endSeconds;
            endOn << fresh.endSeconds;
            unseenWire = fresh.wire;
            seenWire = again.wire;
            if (onLine) {
                const Trip sig = floorframes::signal();
                floor << PlainLineExchange(floorLine, {floorframes::open(QStringLiteral("Tolvane"), again.id, again.model),
                                                       sig, floorframes::digest(kRaw), floorframes::digest(kBack), sig});
            }
        }
        if (!ok) {
            std::printf("| first read failed | |\n");
            break;
        }
        const QString where = onLine ? QStringLiteral("line, %1 baud").arg(baud) : QStringLiteral("Ethernet");
        if (onLine) {
            printCacheRow(where, "backed up before: against its floor", seen, floor, seenWire, "≤ 1 s",
                          Median(seen) <= 1.0);
            printCacheRow(where, "never seen: against the cache off", unseen, off, unseenWire, "≤ 1.01",
                          Median(unseen) <= 1.01 * Median(off));
        } else {
            printCacheRow(where, "backed up before: against the cache off", seen, off, seenWire, "≤ 1.1",
                          Median(seen) <= 1.1 * Median(off));
            printCacheRow(where, "never seen: against the cache off", unseen, off, unseenWire, "≤ 1.1",
                          Median(unseen) <= 1.1 * Median(off));
            printCacheRow(where, "never seen, its disconnect (records written): against the cache off", endOn,
                          endOff, 0, nullptr, true);
        }
    }
    qputenv("XDG_CACHE_HOME", savedCache);
    return ok;
}

Options parse(const QStringList& args)
{
    Options o;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString v = args.value(i + 1);
        if (a == QLatin1String("--rounds"))
            o.rounds = std::max(1, v.toInt()), ++i;
        else if (a == QLatin1String("--slow-rounds"))
            o.slowRounds = std::max(1, v.toInt()), ++i;
        else if (a == QLatin1String("--no-ethernet"))
            o.ethernet = false;
        else if (a == QLatin1String("--no-cache-case"))
            o.cache = false;
        else if (a == QLatin1String("--cache-only"))
            o.cacheOnly = true;
        else if (a == QLatin1String("--bauds")) {
            o.bauds.clear();
            for (const QString& b : v.split(QLatin1Char(','), Qt::SkipEmptyParts))
                o.bauds << b.toInt();
            ++i;
        }
    }
    return o;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parse(app.arguments());
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    qputenv("XDG_CACHE_HOME", config.filePath(QStringLiteral("cache")).toUtf8());
    const QString ports = config.filePath(QStringLiteral("Tolvane/ports"));
    QDir().mkpath(ports);

    bool ok = true;
    if (!o.cacheOnly) {
        std::printf("| baud | sequence | median (s) | floor, measured (s) | ratio | floor's line time (s) "
                    "| bytes on the wire | floor's bytes | wire / floor | payload | runs | goal |\n"
                    "|---|---|---|---|---|---|---|---|---|---|---|---|\n");
        // A sequence that fails leaves its rows out and fails the run; a missed goal does not.
        for (int baud : o.bauds)
            ok = serialCase(baud, o, ports) && ok;
        if (o.ethernet) {
            std::printf("\n| sequence | median (ms) | socket floor (ms) | ratio | round trips | needed | bytes "
                        "| floor's bytes | runs | goal |\n|---|---|---|---|---|---|---|---|---|---|\n");
            ok = ethernetCase(o) && ok;
        }
    }
    if (o.cache) {
        std::printf("\n| link | first read of a controller | median (s) | against (s) | ratio | bytes on the wire "
                    "| runs | goal |\n|---|---|---|---|---|---|---|---|\n");
        ok = cacheCase(o, ports) && ok;
    }
    return ok ? 0 : 1;
}
