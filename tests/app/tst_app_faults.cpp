// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard against a controller that fails at every request of the read and the write
// sequence in turn: the connection drops, the answer never comes, the answer is damaged,
// the answer is a flood, the controller loses its power before or after it executes the
// request. For every cell the wizard answers within one call's attempts, shows a
// failure message of its own (505, 503 or 504) or the success message, and the
// controller holds all of its old records or all of the new ones, also after a restart
// on its state file.

#include "apptestutil.h"
#include "appsim.h"
#include "controller/commlink.h"
#include "tests/support/loggedsim.h"

#include <QElapsedTimer>
#include <QMap>
#include <QTest>

using namespace apptest;

namespace {

// Short attempts keep the matrix quick: 400 ms and one retry.
constexpr int kTimeoutMs = 400;
constexpr int kRetries = 1;
// One call that fails through every attempt, and a margin for the calls that went well
// (wider in the sanitizer build, which runs several times slower).
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kMarginMs = 3000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr qint64 kMarginMs = 3000;
#else
constexpr qint64 kMarginMs = 1000;
#endif
#else
constexpr qint64 kMarginMs = 1000;
#endif
constexpr qint64 kPressBoundMs = (1 + kRetries) * kTimeoutMs + kMarginMs;

// A controller that is not factory-new: another address, RS232C at 9600 and the token
// on COM3, so that a write that rebuilt a record from defaults would show.
SimState UsedController()
{
    SimState st = sim::defaultState();
    QByteArray& raw = st.records[kRawCom];
    PutRecordAddress(raw, 120, QStringLiteral("172.16.5.9"));
    PutU32(raw, 48, 9600);
    QByteArray& back = st.records[kBackPrm];
    PutU16(back, 23972, 3);
    PutRecordAddress(back, 23976, QStringLiteral("172.16.5.200"));
    st.errorCode = 0;
    return st;
}

struct Outcome {
    QList<int> messages;   // string ids of the boxes shown: 505, 503, 504 or 107
    qint64 longestPressMs = 0;
};

}  // namespace

class tst_AppFaults : public QObject {
    Q_OBJECT
private:
    QTemporaryDir m_config;
    int m_requests = 0;   // frames the controller receives in a whole run
    QMap<QString, int> m_seen;  // "stall-at: 504, new records" -> cells
    qint64 m_longestMs = 0;
    SimState m_old, m_new;

    // The engineer's run: connect, open the Ethernet page, type a new address, choose
    // the token on COM2, Complete. Stops at the first failure message.
    Outcome Run(const QString& address)
    {
        Outcome out;
        MsgBoxRecorder boxes;
        auto w = std::make_unique<frmMain>();
        SetIP(*w, "uctIPAddress1", Octets(address));
        w->link()->setLinkOptions(kTimeoutMs, kRetries);
        w->show();
        auto press = [&](auto&& action) {
            QElapsedTimer t;
            t.start();
            action();
            out.longestPressMs = std::max(out.longestPressMs, t.elapsed());
            for (const MsgBoxCall& c : std::as_const(boxes.calls)) {
                for (int id : {505, 503, 504, 107})
                    if (c.text.startsWith(LStr(id)))
                        out.messages << id;
            }
            const bool shown = !boxes.calls.isEmpty();
            boxes.calls.clear();
            return !shown;
        };
        if (!press([&] { Click(*w, "cmdNext"); }) || w->currentStep() != 1)
            return out;
        if (!press([&] { Click(*w, "cmdNext"); }) || w->currentStep() != 2)
            return out;
        SetIP(*w, "uctIPAddress3", {10, 0, 0, 9});
        if (!press([&] { Click(*w, "cmdNext"); }) || w->currentStep() != 4)
            return out;
        ClickOption(Find<QRadioButton>(*w, "optToken_3"));
        press([&] { Click(*w, "cmdNext"); });
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_config.isValid());
        UseConfigHome(m_config);
        WriteLangId(QStringLiteral("1033"));
        // A run without faults: how many requests a whole run makes, and what the
        // controller holds afterwards.
        m_old = UsedController();
        SimBench c(QStringLiteral("127.0.5"));
        QVERIFY(c.seed(m_old));
        QVERIFY(c.start());
        const Outcome o = Run(c.address);
        QCOMPARE(o.messages, QList<int>{107});
        m_new = c.stopAndRead();
        QVERIFY(m_new.records != m_old.records);
        m_requests = int(c.lines().size());
        QVERIFY(m_requests > 20);
    }

    void everyRequestFails_data()
    {
        QTest::addColumn<QString>("fault");
        for (const char* kind : {"drop-at", "stall-at", "corrupt-at", "flood-at", "exit-at", "exit-after-apply"})
            for (int n = 1; n <= m_requests; ++n)
                QTest::addRow("%s=%d", kind, n) << QStringLiteral("%1=%2").arg(QLatin1String(kind)).arg(n);
    }

    void everyRequestFails()
    {
        QFETCH(QString, fault);
        SimBench c(QStringLiteral("127.0.5"));
        QVERIFY(c.seed(m_old));
        QVERIFY(c.start({QStringLiteral("--fault"), fault}));
        const Outcome o = Run(c.address);
        QVERIFY2(o.longestPressMs <= kPressBoundMs, qPrintable(QStringLiteral("%1 ms").arg(o.longestPressMs)));
        QCOMPARE(o.messages.size(), 1);
        const int message = o.messages.first();
        // A damaged answer is retried: the run still succeeds.
        if (fault.startsWith(QLatin1String("corrupt-at")))
            QCOMPARE(message, 107);
        // The controller, restarted on its state file as after a power cut.
        c.process().stop();
        QVERIFY(c.start());
        const SimState after = c.stopAndRead();
        if (message == 107 || message == 504)
            QVERIFY2(after.records == m_new.records || after.records == m_old.records, "half a configuration");
        else
            QVERIFY2(after.records == m_old.records, "a failed read changed the controller");
        if (message == 107)
            QVERIFY(after.records == m_new.records);
        m_longestMs = std::max(m_longestMs, o.longestPressMs);
        ++m_seen[QStringLiteral("%1: %2, %3").arg(fault.section('=', 0, 0)).arg(message)
                     .arg(after.records == m_old.records ? QStringLiteral("old records") : QStringLiteral("new records"))];
    }

    void cleanupTestCase()
    {
        // What the matrix saw, for the reliability notes.
        for (auto it = m_seen.cbegin(); it != m_seen.cend(); ++it)
            qInfo("%s: %d cells", qPrintable(it.key()), it.value());
        qInfo("longest press %lld ms", m_longestMs);
    }
};

QTEST_MAIN(tst_AppFaults)
#include "tst_app_faults.moc"
