// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The engine layer without a controller: option strings, connection texts, the
// provider name and the collections' index rules.

#include "controller/engine.h"
#include "controller/recordcache.h"
#include "protocol/protocol.h"
#include "settings/serialports.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class tst_Engine : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void options_data();
    void options();
    void connectionText_data();
    void connectionText();
    void unknownProviderFails();
    void badOptionsFailBeforeAnyLink_data();
    void badOptionsFailBeforeAnyLink();
    void removeNeedsAnInt32Index();
    void recordCacheKeepsItsBound();

private:
    QTemporaryDir m_config;
};

void tst_Engine::initTestCase()
{
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", m_config.path().toUtf8());
    const QString ports = m_config.filePath(QStringLiteral("Tolvane/ports"));
    QVERIFY(QDir().mkpath(ports));
    // COM7 is a link to a device that exists; the connection text only needs its name.
    QVERIFY(QFile::link(QStringLiteral("/dev/null"), ports + QStringLiteral("/com7")));
}

void tst_Engine::options_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("retries");
    QTest::addColumn<QString>("conn");
    QTest::newRow("wizard's own") << "Timeout=4000, TORetry=3, Conn=eth:127.0.0.1" << true << 4000 << 3
                                  << "eth:127.0.0.1";
    QTest::newRow("defaults") << "Conn=eth:127.0.0.1" << true << 4000 << 3 << "eth:127.0.0.1";
    QTest::newRow("keys in any case") << "timeout=250,TORETRY=0,cOnN=com:1:9600:N:8:1" << true << 250 << 0
                                      << "com:1:9600:N:8:1";
    QTest::newRow("blanks around keys and values") << "  Timeout =  120 ,  TORetry= 5 ,Conn =  eth:127.0.0.2  "
                                                   << true << 120 << 5 << "eth:127.0.0.2";
    QTest::newRow("unknown key ignored") << "Colour=blue, Timeout=900, Conn=eth:127.0.0.3" << true << 900 << 3
                                         << "eth:127.0.0.3";
    QTest::newRow("empty pairs ignored") << ",,Timeout=10,,Conn=eth:127.0.0.4," << true << 10 << 3
                                         << "eth:127.0.0.4";
    QTest::newRow("last one counts") << "Timeout=10, Timeout=20, Conn=eth:127.0.0.5" << true << 20 << 3
                                     << "eth:127.0.0.5";
    QTest::newRow("timeout not a number") << "Timeout=abc, Conn=eth:127.0.0.1" << false << 0 << 0 << QString();
    QTest::newRow("timeout negative") << "Timeout=-5, Conn=eth:127.0.0.1" << false << 0 << 0 << QString();
    QTest::newRow("timeout zero") << "Timeout=0, Conn=eth:127.0.0.1" << false << 0 << 0 << QString();
    QTest::newRow("timeout empty") << "Timeout=, Conn=eth:127.0.0.1" << false << 0 << 0 << QString();
    QTest::newRow("retries with a unit") << "TORetry=3x, Conn=eth:127.0.0.1" << false << 0 << 0 << QString();
    QTest::newRow("retries too large") << "TORetry=99999999999, Conn=eth:127.0.0.1" << false << 0 << 0
                                       << QString();
    QTest::newRow("record cache neither on nor off") << "RecordCache=no, Conn=eth:127.0.0.1" << false << 0 << 0
                                                     << QString();
    QTest::newRow("no connection") << "Timeout=4000, TORetry=3" << false << 0 << 0 << QString();
    QTest::newRow("empty connection") << "Timeout=4000, TORetry=3, Conn=" << false << 0 << 0 << QString();
}

void tst_Engine::options()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, timeout);
    QFETCH(int, retries);
    QFETCH(QString, conn);
    if (!valid) {
        try {
            ParseLinkOptions(text);
            QFAIL("accepted");
        } catch (const EngineError& e) {
            QCOMPARE(e.code(), int(EngineError::kBadOptions));
        }
        return;
    }
    const LinkOptions o = ParseLinkOptions(text);
    QCOMPARE(o.timeoutMs, timeout);
    QCOMPARE(o.retries, retries);
    QCOMPARE(o.conn, conn);
}

void tst_Engine::connectionText_data()
{
    // The one syntax of the engine, tolvanectl's --conn and the scanner: each valid row
    // also formats back to the text the wizard would build.
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("formatted");
    QTest::addColumn<int>("baud");
    QTest::addColumn<QString>("stop");
    QTest::newRow("ethernet") << "eth:127.0.2.1" << true << false << "eth:127.0.2.1" << 0 << QString();
    QTest::newRow("ethernet leading zeros") << "eth:127.000.002.010" << true << false << "eth:127.0.2.10" << 0
                                            << QString();
    QTest::newRow("octet above 255") << "eth:127.0.2.256" << false << false << QString() << 0 << QString();
    // The one address grammar: at most three digits an octet, even for a small number.
    QTest::newRow("four digits") << "eth:0127.0.2.1" << false << false << QString() << 0 << QString();
    QTest::newRow("short form") << "eth:127.1" << false << false << QString() << 0 << QString();
    QTest::newRow("three octets") << "eth:127.0.2" << false << false << QString() << 0 << QString();
    QTest::newRow("host name") << "eth:localhost" << false << false << QString() << 0 << QString();
    QTest::newRow("error: blank before the address") << "eth: 127.0.2.1" << false << false << QString() << 0
                                                     << QString();
    QTest::newRow("error: upper-case kind") << "ETH:127.0.2.1" << false << false << QString() << 0 << QString();
    QTest::newRow("com 8N1") << "com:7:38400:N:8:1" << true << true << "com:7:38400:N:8:1" << 38400 << "1";
    QTest::newRow("com even 1.5") << "com:7:9600:E:8:1.5" << true << true << "com:7:9600:E:8:1.5" << 9600 << "1.5";
    QTest::newRow("com leading zeros") << "com:007:09600:O:08:2" << true << true << "com:7:9600:O:8:2" << 9600
                                       << "2";
    QTest::newRow("com data 7") << "com:7:115200:N:7:2" << false << true << QString() << 0 << QString();
    QTest::newRow("com data 5") << "com:7:9600:N:5:1" << false << true << QString() << 0 << QString();
    QTest::newRow("com parity X") << "com:7:9600:X:8:1" << false << true << QString() << 0 << QString();
    QTest::newRow("error: lower-case parity") << "com:7:9600:e:8:1" << false << true << QString() << 0 << QString();
    QTest::newRow("error: blank in a field") << "com:7: 9600:N:8:1" << false << true << QString() << 0 << QString();
    QTest::newRow("error: signed rate") << "com:7:+9600:N:8:1" << false << true << QString() << 0 << QString();
    QTest::newRow("com stop 3") << "com:7:9600:N:8:3" << false << true << QString() << 0 << QString();
    QTest::newRow("com port 0") << "com:0:9600:N:8:1" << false << true << QString() << 0 << QString();
    QTest::newRow("com port 257") << "com:257:9600:N:8:1" << false << true << QString() << 0 << QString();
    QTest::newRow("com without device") << "com:250:9600:N:8:1" << false << true << QString() << 0 << QString();
    QTest::newRow("com field missing") << "com:7:9600:N:8" << false << true << QString() << 0 << QString();
    QTest::newRow("unknown kind") << "usb:1" << false << false << QString() << 0 << QString();
}

void tst_Engine::connectionText()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(bool, serial);
    QFETCH(QString, formatted);
    QFETCH(int, baud);
    QFETCH(QString, stop);
    if (!valid) {
        try {
            ParseConnectionText(text);
            QFAIL("accepted");
        } catch (const EngineError& e) {
            QCOMPARE(e.code(), int(EngineError::kBadConnection));
        }
        return;
    }
    const ConnectionTarget t = ParseConnectionText(text);
    QCOMPARE(t.serial, serial);
    QCOMPARE(FormatConnText(t), formatted);
    if (serial) {
        QCOMPARE(t.port, 7);
        QVERIFY(!t.device.isEmpty());
        QCOMPARE(t.device, ComPortDevice(7));
        QCOMPARE(t.baud, baud);
        QCOMPARE(t.stopBits, stop);
        QCOMPARE(t.dataBits, 8);
    }
}

void tst_Engine::unknownProviderFails()
{
    Engine engine;
    auto ws = engine.addWorkspace(QString(), QVariant());
    try {
        ws->addController(QString(), QStringLiteral("CaoProv.Other.Vendor"), QString(),
                          QStringLiteral("Conn=eth:127.0.2.250"));
        QFAIL("accepted");
    } catch (const EngineError& e) {
        QCOMPARE(e.code(), int(EngineError::kBadProvider));
    }
    QCOMPARE(ws->controllers().count(), 0);
}

void tst_Engine::badOptionsFailBeforeAnyLink_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("code");
    QTest::newRow("malformed timeout") << "Timeout=4s, Conn=eth:127.0.2.251" << int(EngineError::kBadOptions);
    QTest::newRow("bad connection text") << "Conn=eth:127.0.2" << int(EngineError::kBadConnection);
    QTest::newRow("data bits 7") << "Conn=com:7:9600:N:7:1" << int(EngineError::kBadConnection);
}

void tst_Engine::badOptionsFailBeforeAnyLink()
{
    QFETCH(QString, options);
    QFETCH(int, code);
    Engine engine;
    QStringList trace;
    engine.setTraceHook([&](const QString& l) { trace << l; });
    auto ws = engine.addWorkspace(QString(), QVariant());
    try {
        ws->addController(QString(), QLatin1String(Engine::kProvider), QString(), options);
        QFAIL("accepted");
    } catch (const EngineError& e) {
        QCOMPARE(e.code(), code);
    }
    QCOMPARE(ws->controllers().count(), 0);
    QCOMPARE(trace, (QStringList{"add-workspace", "add-controller"}));
}

void tst_Engine::removeNeedsAnInt32Index()
{
    Engine engine;
    auto ws = engine.addWorkspace(QString(), QVariant());
    const QList<QVariant> wrong{QVariant(), QVariant(QStringLiteral("0")), QVariant(qint64(0)), QVariant(0.0)};
    for (const QVariant& v : wrong) {
        try {
            ws->controllers().remove(v);
            QFAIL("accepted");
        } catch (const EngineError& e) {
            QCOMPARE(e.code(), int(EngineError::kTypeMismatch));
        }
    }
    try {
        ws->controllers().remove(QVariant(qint32(0)));
        QFAIL("removed what is not there");
    } catch (const EngineError& e) {
        QCOMPARE(e.code(), int(EngineError::kNoSuchIndex));
    }
}

QTEST_GUILESS_MAIN(tst_Engine)
#include "tst_engine.moc"

// The least recently used entries go first once the kept records pass the bound, when
// a session ends; each entry counts at least a 4 KiB block.
void tst_Engine::recordCacheKeepsItsBound()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("records"));
    const qint64 limit = 5 * 4096;
    QList<QByteArray> contents;  // six of 3,000 bytes, and one larger than the bound
    for (char c = 'a'; c <= 'f'; ++c)
        contents.append(QByteArray(3000, c));
    contents.append(QByteArray(limit + 1, 'x'));
    const auto found = [&](RecordCache& cache, int i) {
        return cache.find(proto::digest(contents[i]), quint32(contents[i].size()));
    };
    const auto keep = [&](RecordCache& cache, int i) { cache.keep(contents[i], proto::digest(contents[i])); };
    {
        RecordCache session(folder, limit);
        for (int i = 0; i < 5; ++i)
            keep(session, i);
    }
    {
        RecordCache session(folder, limit);
        QCOMPARE(found(session, 0), contents[0]);  // now the most recently used
        keep(session, 5);
        keep(session, 6);
    }
    RecordCache cache(folder, limit);
    QCOMPARE(cache.size(), limit);
    for (int i = 0; i < 7; ++i)
        QCOMPARE(found(cache, i), i == 1 || i == 6 ? std::nullopt : std::optional(contents[i]));
    QCOMPARE(QFileInfo(folder).permissions() & QFile::Permissions(0x0077), QFile::Permissions());
    // Filled from outside: the next session's end takes it back within the bound, even a
    // session that kept nothing.
    QFile extra(QDir(folder).filePath(QString::fromLatin1(proto::digest(contents[1]).toHex())));
    QVERIFY(extra.open(QIODevice::WriteOnly) && extra.write(contents[1]) == contents[1].size());
    extra.close();
    QCOMPARE(cache.size(), limit + 4096);
    { RecordCache nothingKept(folder, limit); }
    QCOMPARE(cache.size(), limit);
}
