// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
#include "tools/ctlscan.h"

#include "controller/commlink.h"
#include "controller/vocabulary.h"
#include "ipv4/ipv4.h"
#include "scan/scanner.h"
#include "tools/ctl.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace ctl {

const char* const kScanUsage =
    "tolvanectl scan TARGET... [--timeout MS] [--retries N] [--parallel N] [--details] [--json]\n";
const char* const kScanHelp = "Finds the controllers on the targets: tries each address and serial port setting\n"
                              "with OPEN under a short deadline and lists what answered, with the connection text\n"
                              "that read, write and the wizard take. Nothing is written to any controller.\n"
                              "TARGET is eth:A.B.C.D, eth:A.B.C.D/NN (NN 16 to 32), eth:A.B.C.D-E.F.G.H (at most\n"
                              "65536 addresses), com:N (every rate of the connection page, 38400 first, 8N1),\n"
                              "com:N:BAUD:P:8:STOP (one setting) or com:all (every port the connection page lists).\n"
                              "Each address, and each rate of a port, is done within (1 + R) x T from OPEN\n"
                              "on, (1 + R) x T more with --details, and T for CLOSE, plus line time.\n"
                              "Exit 0 when a controller answered, 3 when none did, 2 for bad usage,\n"
                              "10 when standard output could not be written.\n";
const char* const kScanOptions = "  --timeout MS     the deadline of one attempt (default 500)\n"
                                 "  --retries N      further attempts after the first (default 0)\n"
                                 "  --parallel N     addresses and ports tried at once, 1 to 512 (default 64)\n"
                                 "  --details        also read the stored address, mask, permission device and baud\n"
                                 "                   rate (what the controller uses after its next reboot)\n"
                                 "  --json           one JSON object in place of the table\n";

namespace {

struct ScanArgs {
    QList<scan::Target> targets;
    scan::ScanOptions options;
    bool json = false;
};

ScanArgs parseScanArgs(const QStringList& args)
{
    ScanArgs s;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString a = args[i];
        if (!a.startsWith(QLatin1String("--"))) {
            QString why;
            const std::optional<scan::Target> t = scan::ParseTarget(a, &why);
            if (!t)
                throw UsageError{why};
            s.targets.append(*t);
            continue;
        }
        a = a.mid(2);
        if (a == QLatin1String("details") || a == QLatin1String("json")) {
            (a == QLatin1String("json") ? s.json : s.options.details) = true;
            continue;
        }
        QString value;
        if (const qsizetype eq = a.indexOf(QLatin1Char('=')); eq >= 0) {
            value = a.mid(eq + 1);
            a = a.left(eq);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError{QStringLiteral("--%1 needs a value").arg(a)};
        }
        if (a == QLatin1String("timeout"))
            s.options.timeoutMs = ParseNumber("--" + a, value, vocab::kTimeoutMin, vocab::kTimeoutMax);
        else if (a == QLatin1String("retries"))
            s.options.retries = ParseNumber("--" + a, value, vocab::kRetriesMin, vocab::kRetriesMax);
        else if (a == QLatin1String("parallel"))
            s.options.parallel = ParseNumber("--" + a, value, 1, 512);
        else
            throw UsageError{QStringLiteral("unknown option --%1 for scan").arg(a)};
    }
    // Nothing is scanned by default: a scan of "everything" is never what was meant.
    if (s.targets.isEmpty())
        throw UsageError{QStringLiteral("scan needs a TARGET")};
    return s;
}

QJsonValue settingsJson(const scan::Found& f)
{
    if (!f.settings)
        return QJsonValue(QJsonValue::Null);
    const CommSettings& s = *f.settings;
    return QJsonObject{{QStringLiteral("ip"), FormatIPv4(s.ipAddress)},
                       {QStringLiteral("mask"), FormatIPv4(s.subnetMask)},
                       {QStringLiteral("permission"), PermissionText(s)},
                       {QStringLiteral("baud"), s.baudRate}};
}

void printJson(const QList<scan::Found>& found, qint64 tried, qint64 ms, QTextStream& out)
{
    QJsonArray rows;
    for (const scan::Found& f : found)
        rows.append(QJsonObject{{QStringLiteral("conn"), f.conn},
                                {QStringLiteral("model"), f.model},
                                {QStringLiteral("id"), f.id},
                                {QStringLiteral("settings"), settingsJson(f)}});
    const QJsonObject all{
        {QStringLiteral("found"), rows}, {QStringLiteral("tried"), tried}, {QStringLiteral("elapsed_ms"), ms}};
    out << QJsonDocument(all).toJson(QJsonDocument::Compact) << "\n";
}

void printTable(const QList<scan::Found>& found, bool details, qint64 tried, qint64 ms, QTextStream& out)
{
    QList<QStringList> rows{{QStringLiteral("CONN"), QStringLiteral("MODEL"), QStringLiteral("ID")}};
    if (details)
        rows[0] << QStringLiteral("IP") << QStringLiteral("MASK") << QStringLiteral("PERMISSION")
                << QStringLiteral("BAUD");
    for (const scan::Found& f : found) {
        QStringList row{f.conn, Printable(f.model), Printable(f.id)};
        if (details && f.settings)
            row << FormatIPv4(f.settings->ipAddress) << FormatIPv4(f.settings->subnetMask)
                << PermissionText(*f.settings) << QString::number(f.settings->baudRate);
        else if (details)
            row << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-") << QStringLiteral("-");
        rows.append(row);
    }
    QList<qsizetype> widths(rows[0].size(), 0);
    for (const QStringList& row : std::as_const(rows))
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());
    if (!found.isEmpty()) {
        for (const QStringList& row : std::as_const(rows)) {
            QString line;
            for (qsizetype c = 0; c < row.size(); ++c)
                line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
            out << line << "\n";
        }
    }
    const QString seconds = QString::number(double(ms) / 1000.0, 'f', 1);
    if (found.isEmpty())
        out << "no controller found; " << tried << " tried in " << seconds << " s\n";
    else
        out << found.size() << (found.size() == 1 ? " controller" : " controllers") << " found; " << tried
            << " tried in " << seconds << " s\n";
}

}  // namespace

int RunScan(const QStringList& args, QTextStream& out, QTextStream& err, bool showProgress)
{
    ScanArgs s;
    try {
        s = parseScanArgs(args);
    } catch (const UsageError& e) {
        err << "tolvanectl: " << e.message << "\n" << UsageText();
        err.flush();
        return kUsage;
    }
    scan::Scanner scanner(s.targets, s.options);
    QElapsedTimer clock, lastDraw;
    clock.start();
    bool drawn = false;
    if (showProgress) {
        // One line on the terminal, redrawn at most five times a second.
        scanner.setProgressHook([&](const scan::ScanProgress& p) {
            if (drawn && lastDraw.elapsed() < 200 && p.tried < p.total)
                return;
            err << "\rscanning: " << p.tried << " of " << p.total << " tried, " << p.found << " found\x1b[K";
            err.flush();
            drawn = true;
            lastDraw.start();
        });
    }
    scanner.run();
    const qint64 ms = clock.elapsed();
    if (drawn) {
        err << "\r\x1b[K";
        err.flush();
    }
    const QList<scan::Found> found = scanner.found();
    for (const scan::Found& f : found)
        if (s.options.details && !f.settings)
            err << "tolvanectl: " << f.conn << ": the settings could not be read: " << f.why << "\n";
    if (s.json)
        printJson(found, scanner.tried(), ms, out);
    else
        printTable(found, s.options.details, scanner.tried(), ms, out);
    return found.isEmpty() ? kConnectFailed : kDone;
}

}  // namespace ctl
