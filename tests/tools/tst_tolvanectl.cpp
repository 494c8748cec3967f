// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// tolvanectl as a script would run it: a separate process against the real simulator,
// over TCP and over a pseudo-terminal, judged by exit code, JSON and the request log.

#include "controller/commlink.h"
#include "controller/controllerview.h"
#include "controller/engine.h"
#include "protocol/protocol.h"
#include "locale/modLocale.h"
#include "tests/support/loggedsim.h"
#include "tests/support/noisyline.h"
#include "tests/support/procmem.h"
#include "tests/support/simclient.h"
#include "tests/support/simprocess.h"
#include "tests/support/toolrun.h"
#include "tools/backupfile.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QCryptographicHash>
#include <QTemporaryDir>
#include <QHostAddress>
#include <QSerialPort>
#include <QTcpServer>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <pty.h>
#include <unistd.h>

namespace {

QString nextAddress()
{
    return FreeLoopbackAddress(QStringLiteral("127.0.4"));
}

using Run = ToolRun;  // peak: the largest resident size seen while it ran, in KiB

// The settings a command printed: read's object, or what write's says the controller
// holds after it.
QJsonObject settingsOf(const Run& r)
{
    const QJsonObject j = r.json();
    return j.contains("after") ? j.value("after").toObject() : j;
}

}  // namespace

class tst_TolvaneCtl : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void badUsage_data();
    void badUsage();
    void help_data();
    void help();
    void readOverTcp();
    void readOverSerialLine();
    void connectFails_data();
    void connectFails();
    void readFails_data();
    void readFails();
    void outputLost_data();
    void outputLost();
    void tokenRecordTooShort_data();
    void tokenRecordTooShort();
    void chunksHalveAfterAFailedAttempt();
    void noisyLine_data();
    void noisyLine();
    void hostilePeerAnsweredInTime_data();
    void hostilePeerAnsweredInTime();
    void writeEthernet();
    void writeRs232cOverSerialLine();
    void writeWithoutChangeWritesNothing();
    void writeFails();
    void deviceRequiredWithoutPermission();
    void deviceChangeAloneIsWritten();
    void backupAndRestore();
    void progressOnlyOnATerminal();
    void restoreRefuses_data();
    void restoreRefuses();

private:
    // childSetup runs in the child before tolvanectl starts (async-signal-safe calls only).
    // sample(pid) is called every 2 ms while it runs; by default, the resident size.
    Run run(const QStringList& args, const std::function<void()>& childSetup = {},
            const std::function<qint64(qint64)>& sample = {});
    QTemporaryDir m_config;
};

void tst_TolvaneCtl::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    QVERIFY(QDir().mkpath(m_config.filePath(QStringLiteral("Tolvane/ports"))));
    // The same language choice as the tool makes, so that its messages can be compared.
    InitLocale(0);
    QVERIFY(!LStr(505).isEmpty());
}

Run tst_TolvaneCtl::run(const QStringList& args, const std::function<void()>& childSetup,
                        const std::function<qint64(qint64)>& sample)
{
    if (sample)
        return RunTool(QStringLiteral("tolvanectl"), args, sample, childSetup);
    return RunTool(QStringLiteral("tolvanectl"), args, [](qint64 pid) { return ProcStatusKb(pid, "VmHWM"); }, childSetup);
}

void tst_TolvaneCtl::badUsage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("nothing") << QStringList{};
    QTest::newRow("unknown command") << QStringList{"erase", "--conn", "eth:127.0.4.1"};
    QTest::newRow("help on no command") << QStringList{"help", "erase"};
    QTest::newRow("no connection") << QStringList{"read"};
    QTest::newRow("connection text") << QStringList{"read", "--conn", "tcp:127.0.4.1"};
    QTest::newRow("address") << QStringList{"read", "--conn", "eth:127.0.4.300"};
    QTest::newRow("parity") << QStringList{"read", "--conn", "com:6:38400:X:8:1"};
    QTest::newRow("a blank after the rate") << QStringList{"read", "--conn", "com:6:38400 :N:8:1"};
    QTest::newRow("a blank before the address") << QStringList{"read", "--conn", "eth: 127.0.4.1"};
    QTest::newRow("a lower-case parity") << QStringList{"read", "--conn", "com:6:38400:n:8:1"};
    QTest::newRow("scan with a lower-case parity") << QStringList{"scan", "com:6:38400:n:8:1"};
    QTest::newRow("an option before an unknown command") << QStringList{"--no-cache", "erase"};
    QTest::newRow("timeout") << QStringList{"read", "--conn", "eth:127.0.4.1", "--timeout", "soon"};
    QTest::newRow("write option on read") << QStringList{"read", "--conn", "eth:127.0.4.1", "--ip", "10.0.0.1"};
    QTest::newRow("ip") << QStringList{"write", "--conn", "eth:127.0.4.1", "--ip", "10.0.0"};
    QTest::newRow("baud not in the list") << QStringList{"write", "--conn", "eth:127.0.4.1", "--baud", "4800"};
    QTest::newRow("token") << QStringList{"write", "--conn", "eth:127.0.4.1", "--token", "usb"};
    QTest::newRow("device") << QStringList{"write", "--conn", "eth:127.0.4.1", "--device", "wifi"};
    QTest::newRow("value missing") << QStringList{"write", "--conn", "eth:127.0.4.1", "--mask"};
    // No write without the backup that was asked for.
    QTest::newRow("an empty backup file") << QStringList{"write", "--conn", "eth:127.0.4.1", "--ip", "10.0.0.1",
                                                         "--backup", ""};
    QTest::newRow("backup without a file") << QStringList{"backup", "--conn", "eth:127.0.4.1"};
    QTest::newRow("backup into two files") << QStringList{"backup", "--conn", "eth:127.0.4.1", "a.tvbak", "b.tvbak"};
    QTest::newRow("a file for read") << QStringList{"read", "--conn", "eth:127.0.4.1", "a.tvbak"};
    QTest::newRow("restore's flag on backup") << QStringList{"backup", "--conn", "eth:127.0.4.1", "--force", "a.tvbak"};
    QTest::newRow("scan without a target") << QStringList{"scan", "--details"};
    QTest::newRow("scan a /15") << QStringList{"scan", "eth:127.0.4.1/15"};
    QTest::newRow("scan with a blank in the prefix") << QStringList{"scan", "eth:127.0.4.1/ 24"};
    QTest::newRow("scan with a blank before the port") << QStringList{"scan", "com: 5"};
    QTest::newRow("scan with --conn") << QStringList{"scan", "--conn", "eth:127.0.4.1"};
    QTest::newRow("scan 0 at a time") << QStringList{"scan", "eth:127.0.4.1", "--parallel", "0"};
}

// Bad usage is found before any connection: no simulator is needed, none is reached.
void tst_TolvaneCtl::badUsage()
{
    QFETCH(QStringList, args);
    const Run r = run(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY(r.out.isEmpty());
    QVERIFY(r.err.contains("Usage:"));
}

// Help is asked for, not a mistake: standard output, nothing on standard error, exit 0,
// the usage of what was asked about (of every command for the program's help).
void tst_TolvaneCtl::help_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("commands");
    const QStringList all{"read", "write", "backup", "restore", "scan"};
    QTest::newRow("--help") << QStringList{"--help"} << all;
    QTest::newRow("-h") << QStringList{"-h"} << all;
    QTest::newRow("help") << QStringList{"help"} << all;
    QTest::newRow("help write") << QStringList{"help", "write"} << QStringList{"write"};
    QTest::newRow("read --help") << QStringList{"read", "--help"} << QStringList{"read"};
    QTest::newRow("scan --help") << QStringList{"scan", "eth:127.0.4.1", "--help"} << QStringList{"scan"};
    QTest::newRow("-h among options") << QStringList{"restore", "--conn", "eth:127.0.4.1", "-h"}
                                      << QStringList{"restore"};
}

void tst_TolvaneCtl::help()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, commands);
    const Run r = run(args);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    for (const char* command : {"read", "write", "backup", "restore", "scan"})
        QCOMPARE(r.out.contains(QByteArray("tolvanectl ") + command
                                + (qstrcmp(command, "scan") == 0 ? " TARGET..." : " --conn CONN")),
                 commands.contains(command));
}

void tst_TolvaneCtl::readOverTcp()
{
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address});
    QVERIFY(sim.start());
    const Run r = run({"read", "--conn", "eth:" + address});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.err.isEmpty());
    const QJsonObject j = r.json();
    QCOMPARE(j.value("permission").toString(), QStringLiteral("ethernet"));
    QCOMPARE(j.value("ethernet").toObject().value("usage").toInt(), 2);
    QCOMPARE(j.value("ethernet").toObject().value("ip").toString(), QStringLiteral("192.168.0.1"));
    QCOMPARE(j.value("ethernet").toObject().value("mask").toString(), QStringLiteral("255.255.255.0"));
    const QJsonObject rs = j.value("rs232c").toObject();
    QCOMPARE(rs.value("usage").toInt(), 0);
    QCOMPARE(rs.value("baud").toInt(), 38400);
    QCOMPARE(rs.value("parity").toInt(), 1);
    QCOMPARE(rs.value("data_length").toInt(), 8);
    QCOMPARE(rs.value("stop_bits").toInt(), 0);
    QCOMPARE(rs.value("delimiter").toInt(), 0);
    QCOMPARE(j.value("token").toObject().value("code").toInt(), 65535);
    QCOMPARE(j.value("token").toObject().value("ip").toString(), QStringLiteral("192.168.0.10"));
    QCOMPARE(sim.count(QStringLiteral("WRITE_RECORD")), 0);
    QCOMPARE(sim.count(QStringLiteral("CLOSE")), 1);
}

void tst_TolvaneCtl::readOverSerialLine()
{
    LoggedSim sim({QStringLiteral("--pty"), m_config.filePath(QStringLiteral("Tolvane/ports/com6"))});
    QVERIFY(sim.start());
    const Run r = run({"read", "--conn", "com:6:9600:N:8:1", "--timeout", "2000", "--verbose"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("ethernet").toObject().value("ip").toString(), QStringLiteral("192.168.0.1"));
    QCOMPARE(sim.count(QStringLiteral("OPEN")), 1);
    // --verbose traces every frame each way, in the order the controller took them.
    const QStringList lines = QString::fromUtf8(r.err).split('\n');
    QStringList sent;
    for (const QString& line : lines.filter(QStringLiteral("tolvane.link: -> ")))
        sent << line.section(' ', 2, 2);
    QStringList taken;
    for (const QString& request : sim.requests())
        taken << request.section(' ', 0, 0);
    QCOMPARE(sent, taken);
    QCOMPARE(lines.filter(QStringLiteral("tolvane.link: <- OK seq ")).size(), taken.size());
    QVERIFY(r.err.contains("tolvane.engine: get-record @CNF_BACKPRM"));
}

void tst_TolvaneCtl::connectFails_data()
{
    QTest::addColumn<QString>("conn");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("held");  // the test holds the port, as another program would
    QTest::addColumn<QString>("cause");  // how the second line starts
    // Nothing listens on this address.
    QTest::newRow("no controller") << QStringLiteral("eth:127.0.4.2") << 3 << LStr(505) << false
                                   << "tolvanectl: the connection was refused by 127.0.4.2 port 47311";
    // The line exists, but the link needs 8 data bits: bad usage.
    QTest::newRow("seven data bits") << QStringLiteral("com:7:38400:N:7:1") << 2
                                     << QStringLiteral("tolvanectl: --conn: the link is binary and needs 8 data bits, not 7")
                                     << false << "Usage:";
    // COM250 has no device at all; COM31 would be /dev/ttyS30, which this machine lacks.
    QTest::newRow("no such port") << QStringLiteral("com:250:38400:N:8:1") << 3 << LStr(505) << false
                                  << "tolvanectl: no such serial port COM250 (tried /";
    // Two calls on one line never interleave: the port is waited for as long as an
    // unreachable controller would be (300 ms, one retry), then refused.
    QTest::newRow("a port another program holds") << QStringLiteral("com:7:38400:N:8:1") << 3 << LStr(505) << true
                                                  << "tolvanectl: the serial port is in use by another program";
}

// Whatever the reason, nothing reaches the line.
void tst_TolvaneCtl::connectFails()
{
    QFETCH(QString, conn);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(bool, held);
    QFETCH(QString, cause);
    LoggedSim sim({QStringLiteral("--pty"), m_config.filePath(QStringLiteral("Tolvane/ports/com7"))});
    QVERIFY(sim.start());
    // The device the link names, as tolvanectl and any other program open it.
    QSerialPort holder(QFileInfo(m_config.filePath(QStringLiteral("Tolvane/ports/com7"))).canonicalFilePath());
    QVERIFY(!held || holder.open(QIODevice::ReadWrite));
    const Run r = run({"read", "--conn", conn, "--timeout", "300", "--retries", "1"});
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY(r.out.isEmpty());
    QCOMPARE(QString::fromUtf8(r.err).section('\n', 0, 0), says);
    QVERIFY2(QString::fromUtf8(r.err).section('\n', 1, 1).startsWith(cause) && (!held || r.ms >= 600),
             qPrintable(QStringLiteral("%1 ms: %2").arg(r.ms).arg(QString::fromUtf8(r.err))));
    QVERIFY(sim.requests().isEmpty());
}

void tst_TolvaneCtl::readFails_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QString>("reason");  // after the wizard's text
    QTest::newRow("a record cannot be read")
        << QStringList{"--fault", "fail-read=@CNF_BACKPRM"} << "the controller answered FAILED: read of @CNF_BACKPRM";
    QTest::newRow("another client holds the access bracket") << QStringList{} << "in use by another client";
}

void tst_TolvaneCtl::readFails()
{
    QFETCH(QStringList, fault);
    QFETCH(QString, reason);
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address}, fault);
    QVERIFY(sim.start());
    SimClient other;
    QVERIFY(other.connectTcp(address));
    QCOMPARE(other.open(), 0);
    if (fault.isEmpty())
        QCOMPARE(other.doSignal(0, 0), 0);
    const Run r = run({"read", "--conn", "eth:" + address});
    QCOMPARE(r.exitCode, 4);
    QVERIFY(r.out.isEmpty());
    const QString err = QString::fromUtf8(r.err).trimmed();
    QVERIFY2(err.startsWith(LStr(503) + "\ntolvanectl: ") && err.contains(reason), r.err.constData());
}

// Output that cannot be written is never success, and a write that happened still says
// so where it can be read.
void tst_TolvaneCtl::outputLost_data()
{
    // full: /dev/full; closed; gone: a pipe without reader; full disk: a 64 KB tmpfs
    // nearly full, in a mount namespace of the child's own
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString lost = QStringLiteral("standard output could not be written: ");
    const QStringList read{"read"};
    QTest::newRow("into a full device") << "full" << read << 10 << lost + "No space left on device";
    QTest::newRow("standard output closed") << "closed" << read << 10 << lost + "it is closed";
    QTest::newRow("a reader that has gone") << "gone" << read << 10 << lost + "Broken pipe";
    QTest::newRow("a write, into a full device") << "full" << QStringList{"write", "--ip", "10.0.0.6"} << 10
                                                 << "the settings were written to the controller";
    // Lost output outranks "no controller answered": the table of none is an answer too.
    QTest::newRow("an empty scan, into a full device")
        << "full" << QStringList{"scan", "eth:127.0.4.252", "--timeout", "100"} << 10 << lost + "No space left on device";
    // Nothing meant for standard output, nothing lost: the connect's own code.
    QTest::newRow("a failed connect, standard output closed")
        << "closed" << QStringList{"read", "--conn", "eth:127.0.4.253", "--timeout", "100", "--retries", "0"} << 3
        << LStr(505);
    QTest::newRow("a backup onto a full disk") << "full disk" << QStringList{"backup", "cell.tvbak"} << 7
                                               << "cell.tvbak: No space left on device";
    // No backup, no write.
    QTest::newRow("a write whose backup finds the disk full")
        << "full disk" << QStringList{"write", "--ip", "10.0.0.6", "--backup", "cell.tvbak"} << 7
        << "cell.tvbak: No space left on device";
}

void tst_TolvaneCtl::outputLost()
{
    QFETCH(QString, target);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address});
    QVERIFY(sim.start());
    int noReader[2] = {-1, -1};
    QCOMPARE(::pipe(noReader), 0);
    ::close(noReader[0]);
    QTemporaryDir dir;
    const QByteArray disk = QFile::encodeName(dir.path());
    // A row that names its own target or connection reaches no controller.
    const bool ownTarget = args[0] == QLatin1String("scan") || args.contains(QStringLiteral("--conn"));
    const Run r = run(args + (ownTarget ? QStringList() : QStringList{"--conn", "eth:" + address}), [target, out = noReader[1], disk] {
        if (target == QLatin1String("full disk")) {
            // The backup's FILE is relative: the child works inside the small disk.
            if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount("tolvane-test", disk.constData(), "tmpfs", 0, "size=64k") != 0 || ::chdir(disk.constData()))
                ::_exit(90);
            static const char zeros[4096] = {};
            const int fill = ::open("fill", O_WRONLY | O_CREAT, 0600);
            for (int i = 0; i < 12; ++i)
                (void)!::write(fill, zeros, sizeof zeros);
            ::close(fill);
        } else if (target == QLatin1String("closed")) {
            ::close(STDOUT_FILENO);
        } else {
            ::dup2(target == QLatin1String("gone") ? out : ::open("/dev/full", O_WRONLY), STDOUT_FILENO);
        }
    });
    ::close(noReader[1]);
    if (r.exitCode == 90)
        QSKIP("no mount namespace for a full disk here (needs root)");
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    const Run after = run({"read", "--conn", "eth:" + address});
    QCOMPARE(settingsOf(after).value("ethernet").toObject().value("ip").toString(),
             args[0] == "write" && exitCode != 7 ? "10.0.0.6" : "192.168.0.1");
}

void tst_TolvaneCtl::tokenRecordTooShort_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("ip");  // the Ethernet address read back
    QTest::newRow("read") << QStringList{"read"} << 0 << "192.168.0.1";
    QTest::newRow("write a token") << QStringList{"write", "--token", "ethernet", "--token-ip", "10.1.2.3"} << 6
                                   << "192.168.0.1";
    QTest::newRow("write the address alone") << QStringList{"write", "--ip", "10.0.0.5"} << 0 << "10.0.0.5";
}

// A controller whose token record is one byte long keeps no token: it is shown as
// absent, and a token asked for is a failure, not a success.
void tst_TolvaneCtl::tokenRecordTooShort()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, ip);
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address}, {"--fault", "short=@CNF_BACKPRM:1"});
    QVERIFY(sim.start());
    args << "--conn" << "eth:" + address;
    const Run r = run(args);
    QCOMPARE(r.exitCode, exitCode);
    const QJsonObject j = settingsOf(r);
    QVERIFY(j.contains("token"));
    QVERIFY(j.value("token").isNull());
    QCOMPARE(j.value("ethernet").toObject().value("ip").toString(), ip);
    if (exitCode == 6)
        QVERIFY2(r.err.contains("too short to hold the executable token"), r.err.constData());
    else
        QVERIFY2(r.err.isEmpty(), r.err.constData());
}

// After an attempt that failed, the record's next chunks are half as long; after four
// clean calls they grow back.
void tst_TolvaneCtl::chunksHalveAfterAFailedAttempt()
{
    // A controller without the optional requests: the token record moves whole.
    const QString address = nextAddress();
    LoggedSim probe({QStringLiteral("--listen"), address}, {"--no-optional-requests"});
    QVERIFY(probe.start());
    QCOMPARE(run({"read", "--conn", "eth:" + address}).exitCode, 0);
    const int first = int(probe.requests().indexOf(QStringLiteral("READ_RECORD @CNF_BACKPRM 0+4096 -> OK"))) + 1;
    QVERIFY(first > 0);
    probe.process().stop();

    LoggedSim sim({QStringLiteral("--listen"), address},
                  {"--no-optional-requests", "--fault", QStringLiteral("corrupt-at=%1").arg(first)});
    QVERIFY(sim.start());
    QCOMPARE(run({"read", "--conn", "eth:" + address, "--timeout", "300"}).exitCode, 0);
    QStringList chunks;
    for (const QString& req : sim.requests())
        if (req.startsWith(QLatin1String("READ_RECORD @CNF_BACKPRM")))
            chunks << req.section(' ', 2);
    QCOMPARE(chunks, (QStringList{"0+4096 -> OK (corrupted)", "0+4096 -> OK (resent)", "4096+2048 -> OK",
                                  "6144+2048 -> OK", "8192+2048 -> OK", "10240+2048 -> OK", "12288+4096 -> OK",
                                  "16384+4096 -> OK", "20480+4096 -> OK"}));
}

void tst_TolvaneCtl::noisyLine_data()
{
    QTest::addColumn<double>("rate");  // bytes damaged, dropped or inserted
    QTest::addColumn<bool>("succeeds");
    // One byte in ten thousand damages a third of all 4 KB chunks: the client halves its
    // chunks after failed attempts and the write still goes through whole.
    QTest::newRow("one byte in ten thousand") << 1e-4 << true;
    // One in a hundred: the write fails within its attempts and leaves nothing half
    // written.
    QTest::newRow("one byte in a hundred") << 1e-2 << false;
}

// The wizard's read and write sequence (tolvanectl runs the same) over a serial line
// that damages, drops and inserts bytes at a fixed, seeded rate.
void tst_TolvaneCtl::noisyLine()
{
    QFETCH(double, rate);
    QFETCH(bool, succeeds);
    // Whole records (a controller without the optional requests), so that the noise
    // meets 4 KB chunks.
    const QStringList simArgs{"--no-optional-requests"};
    const QStringList change{"write", "--ip", "10.0.0.5", "--mask", "255.255.0.0", "--token", "com3",
                             "--token-ip", "10.1.2.3", "--timeout", "300", "--retries", "3"};
    QTemporaryDir dir;
    // What the same write leaves on a clean line.
    LoggedSim clean({QStringLiteral("--pty"), m_config.filePath(QStringLiteral("Tolvane/ports/com8"))}, simArgs);
    QVERIFY(clean.start());
    QCOMPARE(run(change + QStringList{"--conn", "com:8:38400:N:8:1"}).exitCode, 0);
    const sim::ControllerState intended = clean.stopAndRead();
    LoggedSim sim({QStringLiteral("--pty"), dir.filePath(QStringLiteral("line"))}, simArgs);
    QVERIFY(sim.start());
    const auto before = sim.state();
    QVERIFY(before);
    NoisyLine line(dir.filePath(QStringLiteral("line")), m_config.filePath(QStringLiteral("Tolvane/ports/com9")),
                   rate, 20261209);
    QVERIFY(line.start());
    const Run r = run(change + QStringList{"--conn", "com:9:38400:N:8:1"});
    QVERIFY(line.changed() > 0);
    const auto after = sim.state();
    QVERIFY(after);
    qInfo("%llu of %llu bytes changed; exit %d after %lld ms", qulonglong(line.changed()),
          qulonglong(line.bytes()), r.exitCode, r.ms);
    if (succeeds) {
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(after->records, intended.records);
    } else {
        QVERIFY2(r.exitCode == 4 || r.exitCode == 5, r.err.constData());
        const QString first = QString::fromUtf8(r.err).section('\n', 0, 0);
        QVERIFY(first == LStr(503) || first == LStr(504));
        QVERIFY2(after->records == before->records || after->records == intended.records, "half a configuration");
    }
}

void tst_TolvaneCtl::hostilePeerAnsweredInTime_data()
{
    QTest::addColumn<QStringList>("peer");  // tolvane-sim's fault switches
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<int>("message");
    QTest::addColumn<QString>("cause");  // the second line, after "tolvanectl: "
    // Timeout 1000 ms and one retry: every call ends within two attempt deadlines.
    QTest::newRow("random bytes from the OPEN on")
        << QStringList{"--fault", "flood-at=1"} << false << 3 << 505 << "no answer to OPEN from 127.0.4.";
    QTest::newRow("random bytes from a record read on")
        << QStringList{"--fault", "flood-at=4"} << false << 4 << 503 << "no answer to READ_RECORD from 127.0.4.";
    QTest::newRow("headers that claim 1 MiB")
        << QStringList{"--fault", "header-flood-at=3"} << false << 4 << 503 << "no answer to RECORD_DIGEST from";
    QTest::newRow("the answer with a wrong sequence number every 100 ms")
        << QStringList{"--fault", "wrong-seq-at=3"} << false << 4 << 503 << "no answer to RECORD_DIGEST from";
    QTest::newRow("a GPS receiver on the port, 9600 baud")
        << QStringList{"--fault", "chatter", "--pace", "9600"} << true << 3 << 505
        << "no answer to OPEN from COM7 (";
    QTest::newRow("random bytes on the line, 38400 baud")
        << QStringList{"--fault", "flood-at=2", "--pace", "38400"} << true << 4 << 503 << "no answer to EXECUTE from";
}

// A peer that never stops sending holds no call beyond its attempt deadlines, and what
// it sends costs tolvanectl no memory beyond its bounded buffers.
void tst_TolvaneCtl::hostilePeerAnsweredInTime()
{
    QFETCH(QStringList, peer);
    QFETCH(bool, serial);
    QFETCH(int, exitCode);
    QFETCH(int, message);
    QFETCH(QString, cause);
    const QString address = nextAddress();
    const QStringList transport = serial ? QStringList{"--pty", m_config.filePath(QStringLiteral("Tolvane/ports/com7"))}
                                         : QStringList{"--listen", address};
    LoggedSim sim(transport, peer);
    QVERIFY(sim.start());
    const QString conn = serial ? QStringLiteral("com:7:9600:N:8:1") : "eth:" + address;
    const Run r = run({"read", "--conn", conn, "--timeout", "1000", "--retries", "1"});
    QCOMPARE(r.exitCode, exitCode);
    const QStringList said = QString::fromUtf8(r.err).trimmed().split('\n');
    QCOMPARE(said.value(0), LStr(message));
    QVERIFY2(said.size() == 2 && said[1].startsWith("tolvanectl: " + cause) && said[1].endsWith(" × 2 attempts"),
             r.err.constData());
    // Two attempts of 1 s plus the line time of the largest answer (4 KB at 9600 baud
    // is 4.3 s); the margin covers start-up and the calls that went well.
    qInfo("exit %d after %lld ms, peak %lld KiB", r.exitCode, r.ms, r.peak);
    const qint64 bound = serial ? 2 * (1000 + 4400) : 2 * 1000;
    QVERIFY2(r.ms < bound + 4000, qPrintable(QStringLiteral("%1 ms").arg(r.ms)));
    QVERIFY2(r.peak > 0 && r.peak < 100 * 1024 * kMemoryScale, qPrintable(QStringLiteral("%1 KiB").arg(r.peak)));
}

void tst_TolvaneCtl::writeEthernet()
{
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address});
    QVERIFY(sim.start());
    const Run r = run({"write", "--conn", "eth:" + address, "--ip", "10.0.0.5", "--mask", "255.255.0.0", "--token",
                       "ethernet", "--token-ip", "10.1.2.3"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.err.isEmpty());
    const QJsonObject report = r.json();
    QCOMPARE(report.value("changed").toBool(), true);
    QCOMPARE(report.value("changes").toArray(),
             (QJsonArray{"ethernet.ip", "ethernet.mask", "token.code", "token.ip"}));
    QJsonObject j = settingsOf(r);
    QCOMPARE(j.value("ethernet").toObject().value("ip").toString(), QStringLiteral("10.0.0.5"));
    QCOMPARE(j.value("ethernet").toObject().value("mask").toString(), QStringLiteral("255.255.0.0"));
    QCOMPARE(j.value("token").toObject().value("code").toInt(), 1);
    QCOMPARE(j.value("token").toObject().value("ip").toString(), QStringLiteral("10.1.2.3"));
    // The wizard's calls: a read without decoding, then the write in its brackets.
    QStringList signalOrder;
    for (const QString& req : sim.requests())
        if (req.startsWith(QLatin1String("EXECUTE doSignal")))
            signalOrder << req.section(' ', 2, 2);
    QCOMPARE(signalOrder, (QStringList{"0,0", "0,1", "0,0", "0,1", "1,0", "0,0", "1,1", "0,1", "0,0", "0,1"}));
    // A later read sees the same, with the controller's id and model, reading only the
    // settings' three spans; with --no-cache the same.
    const qsizetype before = sim.lines().size();
    const Run again = run({"read", "--conn", "eth:" + address});
    QCOMPARE(again.exitCode, 0);
    j.insert("id", report.value("id"));
    j.insert("model", QStringLiteral("Tolvane RC-8 simulator"));
    QCOMPARE(again.json(), j);
    // A link option before the command, as with many tools.
    QCOMPARE(run({"--no-cache", "read", "--conn", "eth:" + address}).json(), j);
    QCOMPARE(sim.lines().mid(before).filter(QStringLiteral("READ_RECORD")).size(), 3 + 3);
}

void tst_TolvaneCtl::writeRs232cOverSerialLine()
{
    LoggedSim sim({QStringLiteral("--pty"), m_config.filePath(QStringLiteral("Tolvane/ports/com8"))});
    QVERIFY(sim.start());
    const Run r = run({"write", "--conn", "com:8:38400:N:8:1", "--device", "rs232c", "--baud", "115200",
                       "--token", "com3"});
    QCOMPARE(r.exitCode, 0);
    const QJsonObject j = settingsOf(r);
    QCOMPARE(j.value("permission").toString(), QStringLiteral("rs232c"));
    QCOMPARE(j.value("rs232c").toObject().value("baud").toInt(), 115200);
    QCOMPARE(j.value("ethernet").toObject().value("usage").toInt(), 0);
    QCOMPARE(j.value("token").toObject().value("code").toInt(), 3);
}

void tst_TolvaneCtl::writeWithoutChangeWritesNothing()
{
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address});
    QVERIFY(sim.start());
    const Run r = run({"write", "--conn", "eth:" + address, "--ip", "192.168.0.1", "--token", "open"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(settingsOf(r).value("ethernet").toObject().value("ip").toString(), QStringLiteral("192.168.0.1"));
    QCOMPARE(sim.count(QStringLiteral("WRITE_RECORD")), 0);
    QCOMPARE(sim.count(QStringLiteral("EXECUTE doSignal 1,")), 0);
}

void tst_TolvaneCtl::writeFails()
{
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address}, {"--fault", "fail-write=@CNF_RAW_COM"});
    QVERIFY(sim.start());
    const Run r = run({"write", "--conn", "eth:" + address, "--ip", "10.0.0.6"});
    QCOMPARE(r.exitCode, 5);
    QCOMPARE(QString::fromUtf8(r.err).trimmed(),
             LStr(504) + "\ntolvanectl: the controller answered FAILED: write of @CNF_RAW_COM failed (fault)");
    const Run after = run({"read", "--conn", "eth:" + address});
    QCOMPARE(after.exitCode, 0);
    QCOMPARE(after.json().value("ethernet").toObject().value("ip").toString(), QStringLiteral("192.168.0.1"));
}

void tst_TolvaneCtl::deviceRequiredWithoutPermission()
{
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address});
    QVERIFY(sim.start());
    {
        // Neither usage word set: the permission is "none".
        ControllerSelections view;
        const QStringList o = address.split('.');
        view.address = {quint8(o[0].toInt()), quint8(o[1].toInt()), quint8(o[2].toInt()), quint8(o[3].toInt())};
        CommLink link(view);
        QVERIFY(link.ConnectController());
        QVERIFY(link.ReadControllerRecord(QString::fromLatin1(rec::kRawCom), false));
        QByteArray raw = link.keptValue(QString::fromLatin1(rec::kRawCom));
        raw.replace(116, 4, QByteArray(4, '\0'));
        auto record = link.controller()->addRecord(QString::fromLatin1(rec::kRawCom), QStringLiteral("@Create=1"));
        record->setValue(QVariant(raw));
        link.controller()->records().remove(QVariant(qint32(record->index())));
    }
    const Run none = run({"read", "--conn", "eth:" + address});
    QCOMPARE(settingsOf(none).value("permission").toString(), QStringLiteral("none"));
    const Run refused = run({"write", "--conn", "eth:" + address, "--ip", "10.0.0.7"});
    QCOMPARE(refused.exitCode, 2);
    QCOMPARE(sim.writes(), 1);  // only the preparation above
    const Run done = run({"write", "--conn", "eth:" + address, "--device", "ethernet", "--ip", "10.0.0.7"});
    QCOMPARE(done.exitCode, 0);
    QCOMPARE(settingsOf(done).value("permission").toString(), QStringLiteral("ethernet"));
    QCOMPARE(settingsOf(done).value("ethernet").toObject().value("ip").toString(), QStringLiteral("10.0.0.7"));
}

void tst_TolvaneCtl::deviceChangeAloneIsWritten()
{
    const QString address = nextAddress();
    LoggedSim sim({QStringLiteral("--listen"), address});
    QVERIFY(sim.start());
    const Run r = run({"write", "--conn", "eth:" + address, "--device", "rs232c"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.json().value("changes").toArray(), (QJsonArray{"rs232c.usage", "ethernet.usage"}));
    const QJsonObject j = settingsOf(r);
    QCOMPARE(j.value("permission").toString(), QStringLiteral("rs232c"));
    QCOMPARE(j.value("rs232c").toObject().value("usage").toInt(), 2);
    QCOMPARE(j.value("ethernet").toObject().value("usage").toInt(), 0);
    QVERIFY(sim.writes() > 0);
}

QTEST_GUILESS_MAIN(tst_TolvaneCtl)
namespace {

// A controller that is not factory-new: every record has bytes of its own, so that a
// restore that skips or mixes up a record, or a byte of one, shows.
sim::ControllerState usedController(quint8 mark, const IPv4& ip)
{
    sim::ControllerState st = sim::defaultState();
    int i = 0;
    for (auto it = st.records.begin(); it != st.records.end(); ++it, ++i) {
        QByteArray& r = it.value();
        r[r.size() - 1] = char(mark + i);   // the last byte of each record
        r[10] = char(mark ^ i);
    }
    QByteArray& raw = st.records[QString::fromLatin1(rec::kRawCom)];
    for (int k = 0; k < 4; ++k) {
        raw[rec::kIpAddress + 3 - k] = char(ip[size_t(k)]);
        raw[rec::kSubnetMask + 3 - k] = char(k < 2 ? 255 : 0);
    }
    raw[rec::kBaud] = char(0x00);
    raw[rec::kBaud + 1] = char(0x4B);  // 19200
    QByteArray& token = st.records[QString::fromLatin1(rec::kBackPrm)];
    token[rec::kTokenCode] = char(mark % 5);  // COM2 .. COM4, I/O or Ethernet
    token[rec::kTokenCode + 1] = 0;
    return st;
}

QByteArray ipBytes(const sim::ControllerState& st)
{
    return st.records.value(QString::fromLatin1(rec::kRawCom)).mid(rec::kIpAddress, 8);
}

}  // namespace

// A backup of one used controller restored onto another: the dry run changes nothing,
// the restore writes every other byte in one transaction but keeps the target's own
// address and mask, and --with-identity makes the target the source's exact copy.
void tst_TolvaneCtl::backupAndRestore()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("cell4.tvbak"));
    const QString a = nextAddress();
    LoggedSim source({QStringLiteral("--listen"), a});
    const sim::ControllerState sourceState = usedController(0x31, {10, 9, 8, 7});
    QVERIFY(source.seed(sourceState));
    QVERIFY(source.start());
    Run r = run({"backup", "--conn", "eth:" + a, dir.filePath(QStringLiteral("no folder/cell4.tvbak"))});
    QCOMPARE(r.exitCode, 7);
    QVERIFY2(r.err.contains("cannot write"), r.err.constData());
    r = run({"backup", "--conn", "eth:" + a, file});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.contains("saved 6 records (26496 bytes)"), r.out.constData());
    QCOMPARE(source.count(QStringLiteral("WRITE_RECORD")), 0);
    // A write's backup, taken after the settings were read in part (not from the copies
    // the backup kept), holds the same.
    const QString before = dir.filePath(QStringLiteral("before-write.tvbak"));
    r = run({"write", "--conn", "eth:" + a, "--ip", "10.9.8.6", "--no-cache", "--backup", before});
    QCOMPARE(r.exitCode, 0);
    const std::optional<backup::Backup> taken = backup::Load(before, nullptr), whole = backup::Load(file, nullptr);
    QVERIFY(taken && whole);
    QCOMPARE(taken->records, whole->records);
    source.process().stop();

    const QString b = nextAddress();
    LoggedSim target({QStringLiteral("--listen"), b});
    const sim::ControllerState targetState = usedController(0x52, {172, 16, 254, 1});
    QVERIFY(target.seed(targetState));
    QVERIFY(target.start());
    r = run({"restore", "--conn", "eth:" + b, "--dry-run", file});
    QCOMPARE(r.exitCode, 0);
    for (const char* line : {"@CNF_RAW_COM: bytes 10, 255 (2 bytes)", "@CNF_RAW_COM: keeps its own ethernet.ip and ethernet.mask"
                             " (--with-identity restores 10.9.8.7 / 255.255.0.0)", "@CNF_BACKPRM: token.code 2 -> 4",
                             "@DAT_OPTION: bytes 10, 383 (2 bytes)", "dry run: nothing written"})
        QVERIFY2(r.out.contains(line), qPrintable(QString::fromUtf8(r.out) + QStringLiteral("\nlacks: ") + line));
    QVERIFY2(!r.out.contains("rs232c.baud"), r.out.constData());  // both hold 19200
    QCOMPARE(target.count(QStringLiteral("WRITE_RECORD")), 0);
    QCOMPARE(target.state(), std::optional(targetState));

    r = run({"restore", "--conn", "eth:" + b, file});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.err.isEmpty(), r.err.constData());
    sim::ControllerState restored = *target.state();
    QCOMPARE(ipBytes(restored), ipBytes(targetState));
    restored.records[QString::fromLatin1(rec::kRawCom)].replace(rec::kIpAddress, 8, ipBytes(sourceState));
    QCOMPARE(restored, sourceState);
    // The records went in one transaction inside the access bracket, committed once.
    QStringList pairs = target.signalPairs();
    QCOMPARE(pairs.mid(pairs.indexOf(QStringLiteral("1,0"))).mid(0, 4),
             (QStringList{"1,0", "0,0", "1,1", "0,1"}));

    r = run({"restore", "--conn", "eth:" + b, "--with-identity", file});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(target.stopAndRead(), sourceState);
}

// On a slow line a record's move is shown on standard error when that is a terminal,
// as one line redrawn in place and cleared at the end; never in a pipe or a file.
void tst_TolvaneCtl::progressOnlyOnATerminal()
{
    LoggedSim sim({QStringLiteral("--pty"), m_config.filePath(QStringLiteral("Tolvane/ports/com9")),
                   QStringLiteral("--pace"), QStringLiteral("38400")});
    QVERIFY(sim.start());
    QTemporaryDir dir;
    const QStringList args{"backup", "--conn", "com:9:38400:N:8:1", dir.filePath("cell.tvbak")};

    int master = -1, slave = -1;
    QVERIFY(openpty(&master, &slave, nullptr, nullptr, nullptr) == 0);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    QByteArray terminal;
    const auto drain = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            terminal.append(buf, n);
    };
    // A terminal's buffer is small: it is read as it comes.
    const Run r = run(args, [slave] { ::dup2(slave, STDERR_FILENO); }, [&](qint64) { return drain(), 0; });
    drain();
    ::close(slave);
    ::close(master);
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(terminal.contains("\r@CNF_BACKPRM: Reading "), terminal.constData());
    QVERIFY2(terminal.contains(" s left\x1b[K"), terminal.constData());
    QVERIFY2(terminal.endsWith("\r\x1b[K"), terminal.constData());  // nothing of it stays

    const Run piped = run(args);
    QCOMPARE(piped.exitCode, 0);
    QVERIFY2(piped.err.isEmpty(), piped.err.constData());
    QVERIFY(piped.out.startsWith("saved 6 records"));
}

void tst_TolvaneCtl::restoreRefuses_data()
{
    QTest::addColumn<QString>("damage");      // what is done to a good backup file
    QTest::addColumn<QStringList>("options");  // further restore options
    QTest::addColumn<QStringList>("fault");    // of the target controller
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QStringList none;
    QTest::newRow("a byte flipped") << "flip" << none << none << 8 << "checksum does not match";
    QTest::newRow("cut short") << "cut" << none << none << 8 << "not a tolvanectl backup file";
    QTest::newRow("a later version") << "version" << none << none << 8 << "format version 2";
    QTest::newRow("a record missing") << "drop" << none << none << 8 << "record @LST_PACOPTION is missing";
    QTest::newRow("no such file") << "remove" << none << none << 8 << "cell.tvbak";
    QTest::newRow("a named pipe: refused at once, not waited on") << "fifo" << none << none << 8 << "not a regular file";
    // Opened without following it: nothing can be swapped in between a check and the open.
    QTest::newRow("a link, even to a good backup") << "link" << none << none << 8 << "is a symbolic link";
    QTest::newRow("another model") << "model" << none << none << 9 << "--force restores it anyway";
    QTest::newRow("another model, forced") << "model" << QStringList{"--force"} << none << 0 << "";
    QTest::newRow("an id that would retitle the terminal: shown escaped")
        << "hostile id" << none << none << 0 << "";
    QTest::newRow("a record of another size") << "" << none << QStringList{"--fault", "short=@DAT_OPTION:100"} << 9
                                              << "@DAT_OPTION has 100 bytes on the controller and 384 in the backup";
    QTest::newRow("the commit fails") << "" << none << QStringList{"--fault", "fail-write=@DAT_OPTION"} << 5
                                      << LStr(504);
    QTest::newRow("another client takes the controller after the commit")
        << "" << none << QStringList{"--fault", "steal-after-commit"} << 11
        << "6 records were restored to the controller, but could not be read back";
}

// A file that is damaged or does not fit is refused with its own exit code, and a write
// that fails leaves nothing half written: the target holds what it held.
void tst_TolvaneCtl::restoreRefuses()
{
    QFETCH(QString, damage);
    QFETCH(QStringList, options);
    QFETCH(QStringList, fault);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("cell.tvbak"));
    backup::Backup good;
    good.controllerId = damage == QLatin1String("hostile id") ? QStringLiteral("TLVSIM\x1b]0;pwned\x07\nFAKE")
                                                               : QStringLiteral("TLVSIM-0001");
    good.model = damage == QLatin1String("model") ? QStringLiteral("Tolvane RC-4") : QStringLiteral("Tolvane RC-8 simulator");
    good.taken = QDateTime::fromSecsSinceEpoch(1'796'000'000, Qt::UTC);
    const sim::ControllerState wanted = usedController(0x31, {10, 9, 8, 7});
    for (const QString& name : sim::recordNames())
        if (!(damage == QLatin1String("drop") && name == QLatin1String("@LST_PACOPTION")))
            good.records.append({name, wanted.records.value(name)});
    QByteArray bytes = backup::Encode(good);
    if (damage == QLatin1String("flip"))
        bytes[200] = char(bytes[200] ^ 0x01);
    else if (damage == QLatin1String("cut"))
        bytes.truncate(20);
    else if (damage == QLatin1String("version")) {
        bytes[8] = 2;
        bytes = bytes.left(bytes.size() - 32);
        bytes += QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
    }
    if (damage == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(file).constData(), 0600), 0);
    } else if (damage != QLatin1String("remove")) {
        QFile f(damage == QLatin1String("link") ? file + ".real" : file);
        QVERIFY(damage != QLatin1String("link") || QFile::link(f.fileName(), file));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    const QString address = nextAddress();
    LoggedSim target({QStringLiteral("--listen"), address}, fault);
    const sim::ControllerState before = usedController(0x52, {172, 16, 254, 1});
    QVERIFY(target.seed(before));
    QVERIFY(target.start());
    const Run r = run(QStringList{"restore", "--conn", "eth:" + address, "--with-identity"} + options + QStringList{file});
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(QString::fromUtf8(r.err).contains(message), r.err.constData());
    // What the file names reaches the terminal within its line, never as a command.
    QVERIFY2(!r.out.contains('\x1b') && !r.out.contains("\nFAKE"), r.out.constData());
    const sim::ControllerState after = target.stopAndRead();
    if (exitCode == 0 || exitCode == 11) {
        QCOMPARE(after, wanted);
        return;
    }
    // A bad file is refused before the controller is asked anything.
    if (exitCode == 8)
        QVERIFY2(target.lines().isEmpty(), qPrintable(target.lines().join('\n')));
    QCOMPARE(after, before);
}

#include "tst_tolvanectl.moc"
