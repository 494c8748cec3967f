// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// Serial port names and the port probe: ports/comN links in the settings folder, the
// /dev mapping, and which ports the probe lists (pseudo-terminals stand in for ports).

#include "settings/serialports.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// A pseudo-terminal pair; the slave side plays the serial port.
class Pty {
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        const char* name = ::ptsname(m_master);
        if (name)
            m_slave = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        closeSlave();
        if (m_master >= 0)
            ::close(m_master);
    }
    bool valid() const { return !m_slave.isEmpty(); }
    const QString& slavePath() const { return m_slave; }
    // Holds the slave open as another program would, exclusively or not.
    bool holdSlave(bool exclusive)
    {
        m_held = ::open(QFile::encodeName(m_slave).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_held < 0)
            return false;
        return !exclusive || ::ioctl(m_held, TIOCEXCL) == 0;
    }
    bool heldIsExclusive() const
    {
        int exclusive = 0;
        return ::ioctl(m_held, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
    }
    void closeSlave()
    {
        if (m_held >= 0) {
            ::ioctl(m_held, TIOCNXCL);
            ::close(m_held);
            m_held = -1;
        }
    }

private:
    int m_master = -1;
    int m_held = -1;
    QString m_slave;
};

} // namespace

class tst_SettingsSerial : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void devMapping_data();
    void devMapping();
    void linkToPtyResolvesAndProbes_data();
    void linkToPtyResolvesAndProbes();
    void danglingLinkResolvesToNothing();
    void linkToPlainFileIsNoPort();
    void exclusivelyHeldPortIsNotListed();
    void probeLeavesSharedPortAsFound();
    void probeListInPortOrder();

private:
    QString portsDir() const { return m_dir->path() + QStringLiteral("/Tolvane/ports"); }
    bool makeLink(int n, const QString& target) const
    {
        return QFile::link(target, portsDir() + QStringLiteral("/com") + QString::number(n));
    }
    std::unique_ptr<QTemporaryDir> m_dir;
    QByteArray m_savedXdg;
};

void tst_SettingsSerial::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_savedXdg = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path()));
    QVERIFY(QDir().mkpath(portsDir()));
}

void tst_SettingsSerial::cleanup()
{
    if (m_savedXdg.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", m_savedXdg);
}

void tst_SettingsSerial::devMapping_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("device");
    QTest::newRow("COM1") << 1 << "/dev/ttyS0";
    QTest::newRow("COM32") << 32 << "/dev/ttyS31";
    QTest::newRow("COM33") << 33 << "/dev/ttyUSB0";
    QTest::newRow("COM64") << 64 << "/dev/ttyUSB31";
    QTest::newRow("COM65") << 65 << "/dev/ttyACM0";
    QTest::newRow("COM96") << 96 << "/dev/ttyACM31";
    QTest::newRow("COM97 without link") << 97 << "";
    QTest::newRow("COM256 without link") << 256 << "";
    QTest::newRow("COM0 out of range") << 0 << "";
    QTest::newRow("COM257 out of range") << 257 << "";
    QTest::newRow("negative out of range") << -1 << "";
}

void tst_SettingsSerial::devMapping()
{
    QFETCH(int, n);
    QFETCH(QString, device);
    QCOMPARE(ComPortDevice(n), device);
    if (device.isEmpty())
        QVERIFY(!ProbeComPort(n));
}

void tst_SettingsSerial::linkToPtyResolvesAndProbes_data()
{
    QTest::addColumn<int>("n");
    QTest::newRow("COM1 link wins over /dev/ttyS0") << 1;
    QTest::newRow("COM40 link wins over /dev/ttyUSB7") << 40;
    QTest::newRow("COM97 exists only as a link") << 97;
    QTest::newRow("COM256 exists only as a link") << 256;
}

void tst_SettingsSerial::linkToPtyResolvesAndProbes()
{
    QFETCH(int, n);
    Pty pty;
    QVERIFY(pty.valid());
    QVERIFY(makeLink(n, pty.slavePath()));
    QCOMPARE(ComPortDevice(n), pty.slavePath());
    QVERIFY(ProbeComPort(n));
    QVERIFY(ProbeComPorts().contains(n));
}

void tst_SettingsSerial::danglingLinkResolvesToNothing()
{
    QVERIFY(makeLink(3, m_dir->path() + QStringLiteral("/no-such-device")));
    QCOMPARE(ComPortDevice(3), QString());  // no fall-back to /dev/ttyS2
    QVERIFY(!ProbeComPort(3));
    QVERIFY(!ProbeComPorts().contains(3));
}

void tst_SettingsSerial::linkToPlainFileIsNoPort()
{
    const QString file = m_dir->path() + QStringLiteral("/plain");
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QVERIFY(makeLink(120, file));
    QCOMPARE(ComPortDevice(120), file);
    QVERIFY(!ProbeComPort(120));
}

void tst_SettingsSerial::exclusivelyHeldPortIsNotListed()
{
    Pty held;
    Pty free;
    QVERIFY(held.valid());
    QVERIFY(free.valid());
    QVERIFY(makeLink(150, held.slavePath()));
    QVERIFY(makeLink(151, free.slavePath()));
    QVERIFY(held.holdSlave(true));

    QVERIFY(!ProbeComPort(150));
    QVERIFY(ProbeComPort(151));
    const QList<int> ports = ProbeComPorts();
    QVERIFY(!ports.contains(150));
    QVERIFY(ports.contains(151));
    QVERIFY(held.heldIsExclusive());  // the probe took nothing from the holder

    held.closeSlave();
    QVERIFY(ProbeComPort(150));  // free again once the other program lets go
}

void tst_SettingsSerial::probeLeavesSharedPortAsFound()
{
    // Another program has the port open without exclusive access. The probe's own
    // exclusive flag must not stay behind on the tty and lock the next opener out.
    Pty pty;
    QVERIFY(pty.valid());
    QVERIFY(makeLink(160, pty.slavePath()));
    QVERIFY(pty.holdSlave(false));
    QVERIFY(ProbeComPort(160));
    QVERIFY(!pty.heldIsExclusive());
    QVERIFY(ProbeComPort(160));  // and a second probe still finds it
}

void tst_SettingsSerial::probeListInPortOrder()
{
    Pty a;
    Pty b;
    Pty c;
    QVERIFY(a.valid() && b.valid() && c.valid());
    QVERIFY(makeLink(200, a.slavePath()));
    QVERIFY(makeLink(98, b.slavePath()));
    QVERIFY(makeLink(255, c.slavePath()));
    const QList<int> ports = ProbeComPorts();
    // Only the linked names above 96 can exist; they come in port order.
    QList<int> high;
    for (int n : ports)
        if (n > 96)
            high.append(n);
    QCOMPARE(high, (QList<int>{98, 200, 255}));
}

QTEST_GUILESS_MAIN(tst_SettingsSerial)
#include "tst_settings_serial.moc"
