// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// Finding controllers as an engineer at a cell does: tolvanectl scan against cells of
// real simulators with hostile peers among them, judged by what it lists, how long it
// takes at most and how many sockets it holds at once.

#include "ipv4/ipv4.h"
#include "scan/scantarget.h"
#include "sim/simstate.h"
#include "tests/support/simprocess.h"
#include "tests/support/toolrun.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <unistd.h>
#include <memory>

namespace {

using Run = ToolRun;  // peak: the sockets the tool held at once, at the most

// The connections a --json scan found, in its order.
QStringList connsOf(const Run& r)
{
    QStringList all;
    for (const QJsonValue& row : r.json().value(QStringLiteral("found")).toArray())
        all << row.toObject().value(QStringLiteral("conn")).toString();
    return all;
}

int socketsOf(qint64 pid)
{
    int n = 0;
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString& fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char target[64] = {};
        const ssize_t len = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), target, sizeof target - 1);
        n += int(len > 0 && QByteArray(target, int(len)).startsWith("socket:"));
    }
    return n;
}

Run runCtl(const QStringList& args)
{
    // Sampled every 2 ms: a scan holds its sockets for a few milliseconds at least.
    return RunTool(QStringLiteral("tolvanectl"), args, socketsOf);
}

void putLong(QByteArray& rec, int offset, qint32 v)
{
    for (int k = 0; k < 4; ++k)
        rec[offset + k] = char(quint32(v) >> (8 * k));
}

// The controller's own address and mask are stored reversed, the last octet first.
void putAddress(QByteArray& rec, int offset, const QString& text)
{
    const IPv4 ip = *ParseIPv4(text);
    for (int k = 0; k < 4; ++k)
        rec[offset + k] = char(ip[3 - k]);
}

// An id that would add a fake row, retitle the terminal and widen every row.
const QString kHostileId = QStringLiteral("A\nB\x1b]0;title\x07") + QString(300, QLatin1Char('x'));

QStringList conns(const QString& net, int first, int last)
{
    QStringList all;
    for (int i = first; i <= last; ++i)
        all << QStringLiteral("eth:%1.%2").arg(net).arg(i);
    return all;
}

}  // namespace

class tst_Scan : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void targets_data();
    void targets();
    void cell_data();
    void cell();
    void storedSettings();
    void lineAtOneRate_data();
    void lineAtOneRate();
    void rebootMovesAController();

private:
    std::unique_ptr<SimProcess> sim(const QStringList& args);
    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<SimProcess>> m_cell;
};

std::unique_ptr<SimProcess> tst_Scan::sim(const QStringList& args)
{
    auto p = std::make_unique<SimProcess>(args);
    return p->start() ? std::move(p) : nullptr;
}

// One cell on 127.0.20.0/24: twelve controllers (the fifth set up away from the
// factory's settings), one in error, four hostile peers (text, random bytes, headers
// that claim the largest payload, answers with the wrong sequence number), forty that
// accept and never answer, and empty addresses. Beside it on 127.0.22.x, two that hand
// out their 1 MiB settings record one byte a request, one of them slowly, and one with
// a hostile id.
void tst_Scan::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("config/Tolvane/ports"))));
    QVERIFY(QDir().mkpath(m_dir.filePath(QStringLiteral("cell"))));
    sim::ControllerState st = sim::defaultState();
    QByteArray& com = st.records[QStringLiteral("@CNF_RAW_COM")];
    putLong(com, 44, 2);  // RS232C is the permission device
    putLong(com, 116, 0);
    putLong(com, 48, 115200);
    putAddress(com, 120, QStringLiteral("10.1.2.5"));
    putAddress(com, 124, QStringLiteral("255.255.0.0"));
    QVERIFY(sim::saveStateFile(m_dir.filePath(QStringLiteral("cell/127.0.20.5.state")), st, nullptr));
    const QList<QStringList> peers{
        {"--listen", "127.0.20.1-127.0.20.12", "--state-dir", m_dir.filePath(QStringLiteral("cell"))},
        {"--listen", "127.0.20.13", "--error-code", "7", "--id", "CELL-IN-ERROR"},
        {"--listen", "127.0.20.30", "--fault", "chatter"},
        {"--listen", "127.0.20.31", "--fault", "flood-at=1"},
        {"--listen", "127.0.20.32", "--fault", "header-flood-at=1"},
        {"--listen", "127.0.20.33", "--fault", "wrong-seq-at=1"},
        {"--listen", "127.0.20.50-127.0.20.89", "--fault", "freeze-at=1"},
        {"--listen", "127.0.22.1", "--id", "TLVSIM-127.0.22.1", "--max-chunk", "1", "--fault",
         "short=@CNF_RAW_COM:1048576", "--pace", "5000"},
        {"--listen", "127.0.22.2", "--id", "TLVSIM-127.0.22.2", "--max-chunk", "1", "--fault",
         "short=@CNF_RAW_COM:1048576"},
        {"--listen", "127.0.22.3", "--id", kHostileId, "--model", "RC\x1b[2J"},
    };
    for (const QStringList& args : peers) {
        m_cell.push_back(sim(args));
        QVERIFY2(m_cell.back(), qPrintable(args.join(' ')));
    }
}

void tst_Scan::targets_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("first");  // first address, or the port's settings
    QTest::addColumn<QString>("last");
    QTest::addColumn<qint64>("count");  // 0: not a target
    QTest::newRow("one address") << "eth:127.0.20.7"
                                 << "127.0.20.7"
                                 << "127.0.20.7" << qint64(1);
    QTest::newRow("/24 without network and broadcast") << "eth:127.0.20.77/24"
                                                       << "127.0.20.1"
                                                       << "127.0.20.254" << qint64(254);
    QTest::newRow("/30") << "eth:127.0.20.9/30"
                         << "127.0.20.9"
                         << "127.0.20.10" << qint64(2);
    QTest::newRow("/31 keeps both") << "eth:127.0.20.9/31"
                                    << "127.0.20.8"
                                    << "127.0.20.9" << qint64(2);
    QTest::newRow("/32") << "eth:127.0.20.9/32"
                         << "127.0.20.9"
                         << "127.0.20.9" << qint64(1);
    QTest::newRow("/16") << "eth:127.0.20.9/16"
                         << "127.0.0.1"
                         << "127.0.255.254" << qint64(65534);
    QTest::newRow("range") << "eth:127.0.20.250-127.0.21.3"
                           << "127.0.20.250"
                           << "127.0.21.3" << qint64(10);
    QTest::newRow("range of 65536") << "eth:127.0.0.0-127.0.255.255"
                                    << "127.0.0.0"
                                    << "127.0.255.255" << qint64(65536);
    QTest::newRow("port: 38400 first") << "com:7"
                                       << "38400 9600 19200 57600 115200"
                                       << "" << qint64(5);
    QTest::newRow("port setting") << "com:7:57600:E:8:1.5"
                                  << "57600E1.5"
                                  << "" << qint64(1);
    QTest::newRow("error: range of 65537") << "eth:127.0.0.0-127.1.0.0"
                                           << ""
                                           << "" << qint64(0);
    QTest::newRow("error: range downwards") << "eth:127.0.20.9-127.0.20.8"
                                            << ""
                                            << "" << qint64(0);
    QTest::newRow("error: /15") << "eth:127.0.20.9/15"
                                << ""
                                << "" << qint64(0);
    QTest::newRow("error: /33") << "eth:127.0.20.9/33"
                                << ""
                                << "" << qint64(0);
    QTest::newRow("error: short address") << "eth:127.1"
                                          << ""
                                          << "" << qint64(0);
    QTest::newRow("error: port 0") << "com:0"
                                   << ""
                                   << "" << qint64(0);
    QTest::newRow("error: 7 data bits") << "com:7:9600:N:7:1"
                                        << ""
                                        << "" << qint64(0);
    QTest::newRow("error: no kind") << "127.0.20.9"
                                    << ""
                                    << "" << qint64(0);
}

void tst_Scan::targets()
{
    QFETCH(QString, text);
    QFETCH(QString, first);
    QFETCH(QString, last);
    QFETCH(qint64, count);
    QString why;
    const std::optional<scan::Target> t = scan::ParseTarget(text, &why);
    QCOMPARE(t.has_value(), count > 0);
    if (!t) {
        QVERIFY(why.startsWith(text));
        return;
    }
    QCOMPARE(t->count(), count);
    if (t->serial) {
        QStringList settings;
        for (const scan::LineSetting& s : t->settings)
            settings << (t->settings.size() > 1
                             ? QString::number(s.baud)
                             : QStringLiteral("%1%2%3").arg(s.baud).arg(QLatin1Char(s.parity)).arg(s.stopBits));
        QCOMPARE(settings.join(' '), first);
        return;
    }
    QCOMPARE(FormatIPv4(IPv4FromNumber(t->first)), first);
    QCOMPARE(FormatIPv4(IPv4FromNumber(t->last)), last);
}

void tst_Scan::cell_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<int>("tried");
    QTest::addColumn<int>("boundMs");  // the deadlines allow no longer, with room for a slow machine
    const QStringList all = conns(QStringLiteral("127.0.20"), 1, 13);
    QTest::newRow("the /24") << QStringList{"eth:127.0.20.0/24", "--timeout", "300"} << all << 254 << 5000;
    QTest::newRow("hostile peers, three attempts each")
        << QStringList{"eth:127.0.20.30-127.0.20.33", "--timeout", "300", "--retries", "2"} << QStringList{} << 4
        << 3 * 300 + 1500;
    QTest::newRow("silent peers, eight at a time")
        << QStringList{"eth:127.0.20.50-127.0.20.89", "--timeout", "200", "--parallel", "8"} << QStringList{} << 40
        << 5 * 200 * 2 + 1500;
    QTest::newRow("overlapping targets, in their order")
        << QStringList{"eth:127.0.20.12", "eth:127.0.20.10-127.0.20.14", "--timeout", "300"}
        << QStringList{"eth:127.0.20.12", "eth:127.0.20.10", "eth:127.0.20.11", "eth:127.0.20.13"} << 6 << 3000;
    QTest::newRow("a port with no device beside an address")
        << QStringList{"com:200", "eth:127.0.20.1", "--timeout", "300"} << QStringList{"eth:127.0.20.1"} << 6 << 3000;
    QTest::newRow("an empty address") << QStringList{"eth:127.0.20.200", "--timeout", "300"} << QStringList{} << 1
                                      << 2000;
    // Refused at once, yet started no faster than about 1,000 a second.
    QTest::newRow("empty addresses, spread out")
        << QStringList{"eth:127.0.20.100-127.0.20.249", "--timeout", "300"} << QStringList{} << 150 << 3000;
}

// What is found, and nothing else; every try ends by its deadlines, whatever the peer
// sends; no more sockets at once than --parallel allows.
void tst_Scan::cell()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, found);
    QFETCH(int, tried);
    QFETCH(int, boundMs);
    const Run r = runCtl(QStringList{"scan", "--json"} + args);
    QCOMPARE(r.exitCode, found.isEmpty() ? 3 : 0);
    QCOMPARE(connsOf(r), found);
    QCOMPARE(r.json().value("tried").toInt(), tried);
    QVERIFY2(r.ms < boundMs, qPrintable(QStringLiteral("%1 ms").arg(r.ms)));
    QVERIFY2(r.json().value("elapsed_ms").toInt() >= (tried - 1) * 9 / 10,
             qPrintable(QStringLiteral("%1 started in %2 ms").arg(tried).arg(r.json().value("elapsed_ms").toInt())));
    const int parallel = args.contains("--parallel") ? args[args.indexOf("--parallel") + 1].toInt() : 64;
    QVERIFY2(r.peak <= parallel + 2, qPrintable(QStringLiteral("%1 sockets").arg(r.peak)));
    for (const QJsonValue& row : r.json().value("found").toArray()) {
        const QString conn = row.toObject().value("conn").toString();
        QCOMPARE(row.toObject().value("id").toString(),
                 conn == "eth:127.0.20.13" ? QStringLiteral("CELL-IN-ERROR") : "TLVSIM-" + conn.mid(4));
        QVERIFY(row.toObject().value("settings").isNull());
    }
}

// --details reads what each controller will use after its next reboot; the table
// shows the same as the JSON.
void tst_Scan::storedSettings()
{
    const Run r = runCtl({"scan", "eth:127.0.20.4-127.0.20.5", "--details", "--json"});
    QCOMPARE(r.exitCode, 0);
    const QJsonArray rows = r.json().value("found").toArray();
    QCOMPARE(rows.size(), 2);
    const QJsonObject factory = rows[0].toObject().value("settings").toObject();
    const QJsonObject moved = rows[1].toObject().value("settings").toObject();
    QCOMPARE(
        factory,
        (QJsonObject{{"ip", "192.168.0.1"}, {"mask", "255.255.255.0"}, {"permission", "ethernet"}, {"baud", 38400}}));
    QCOMPARE(moved,
             (QJsonObject{{"ip", "10.1.2.5"}, {"mask", "255.255.0.0"}, {"permission", "rs232c"}, {"baud", 115200}}));
    const Run table = runCtl({"scan", "eth:127.0.20.5", "--details"});
    QCOMPARE(table.exitCode, 0);
    QVERIFY2(table.out.simplified().contains(
                 "eth:127.0.20.5 Tolvane RC-8 simulator TLVSIM-127.0.20.5 10.1.2.5 255.255.0.0 rs232c 115200"),
             table.out.constData());
    // Of the peers on 127.0.22.x, .2 gives its settings a byte a request (only the 20
    // bytes shown are read), .1 as slowly (6.4 s of answers, each within T)
    // until its address's bound ((1 + R) x T for OPEN and again for the details, T for
    // CLOSE), and what .3 calls itself reaches the table escaped and cut, the JSON exact.
    const Run peers = runCtl({"scan", "eth:127.0.22.1-127.0.22.3", "--details", "--timeout", "300"});
    const QList<QByteArray> lines = peers.out.split('\n');
    QVERIFY2(lines.size() == 6 && peers.ms < 3 * 300 + 1500 && lines[1].simplified().endsWith("- - - -")
                 && lines[2].contains("192.168.0.1") && !peers.out.contains('\x1b') && !peers.out.contains('\x07')
                 && lines[3].simplified().contains("RC\\x1b[2J A\\nB\\x1b]0;title\\x07xxx") && lines[3].size() < 160,
             peers.out.constData());
    QCOMPARE(runCtl({"scan", "eth:127.0.22.3", "--json"}).json().value("found")[0].toObject().value("id").toString(),
             kHostileId);
}

void tst_Scan::lineAtOneRate_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("found");
    QTest::addColumn<int>("boundMs");  // the deadlines allow no longer, with room for a slow machine
    // A rate at which nothing at all comes back costs T and the OPEN request's line
    // time (at most 35 ms), not the line time of the largest answer (7 s for the three
    // rates before 57600).
    QTest::newRow("every rate") << "com:9" << QStringList{"com:9:57600:N:8:1"} << 3 * 135 + 1200;
    QTest::newRow("57600 alone") << "com:9:57600:N:8:1" << QStringList{"com:9:57600:N:8:1"} << 1200;
    QTest::newRow("38400 alone") << "com:9:38400:N:8:1" << QStringList{} << 135 + 1200;
}

// A controller on a line at 57600 answers at 57600 only: the other rates garble.
void tst_Scan::lineAtOneRate()
{
    QFETCH(QString, target);
    QFETCH(QStringList, found);
    QFETCH(int, boundMs);
    const std::unique_ptr<SimProcess> line =
        sim({"--pty", m_dir.filePath(QStringLiteral("config/Tolvane/ports/com9")), "--baud", "57600"});
    QVERIFY(line);
    const Run r = runCtl({"scan", target, "--timeout", "100", "--json"});
    QCOMPARE(r.exitCode, found.isEmpty() ? 3 : 0);
    QCOMPARE(connsOf(r), found);
    QVERIFY2(r.ms < boundMs, qPrintable(QStringLiteral("%1 ms").arg(r.ms)));
}

// The whole loop on one machine: change an address, reboot, find the controller there.
void tst_Scan::rebootMovesAController()
{
    const QString dir = m_dir.filePath(QStringLiteral("moving"));
    QVERIFY(QDir().mkpath(dir));
    const std::unique_ptr<SimProcess> cell =
        sim({"--listen", "127.0.21.1-127.0.21.3", "--state-dir", dir, "--follow-address"});
    QVERIFY(cell);
    const Run write = runCtl({"write", "--conn", "eth:127.0.21.2", "--ip", "127.0.21.102", "--timeout", "2000"});
    QCOMPARE(write.exitCode, 0);
    // Until the reboot the controller keeps its address; its record holds the new one.
    const Run before = runCtl({"scan", "eth:127.0.21.0/24", "--details", "--json"});
    QCOMPARE(connsOf(before), conns(QStringLiteral("127.0.21"), 1, 3));
    QCOMPARE(before.json().value("found").toArray()[1].toObject().value("settings").toObject().value("ip").toString(),
             QStringLiteral("127.0.21.102"));
    ::kill(pid_t(cell->process().processId()), SIGHUP);
    QVERIFY(cell->waitForReady());
    const Run after = runCtl({"scan", "eth:127.0.21.0/24", "--json"});
    QCOMPARE(connsOf(after), (QStringList{"eth:127.0.21.1", "eth:127.0.21.3", "eth:127.0.21.102"}));
    // It is the same controller: its id and its state file keep their names.
    QCOMPARE(after.json().value("found").toArray()[2].toObject().value("id").toString(),
             QStringLiteral("TLVSIM-127.0.21.2"));
    QVERIFY(QFileInfo::exists(QDir(dir).filePath(QStringLiteral("127.0.21.2.state"))));
    // The others hold the factory's 192.168.0.1, which no loopback listener can take.
    QVERIFY(cell->stderrText().contains("127.0.21.1 keeps its address"));
}

QTEST_GUILESS_MAIN(tst_Scan)
#include "tst_scan.moc"
