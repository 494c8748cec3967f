// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// The connection page's Find dialog as an engineer uses it, against a simulated cell on
// 127.0.23.0/24 and controllers on pseudo-terminals: what a search lists, what choosing
// a row puts on the first page, Cancel and Escape during a search, and the connections
// used recently (kept, bounded, and a damaged file ignored). Every search is of a
// loopback range, typed before Search is pressed.

#include "apptestutil.h"
#include "appsim.h"
#include "app/frmFind.h"
#include "controller/commlink.h"
#include "sim/simstate.h"
#include "wizard/recent.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace apptest;

class tst_AppFind : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<SimProcess>> m_cell;

    static QString RecentPath() { return wizard::RecentConnections::defaultPath(); }

    // The window, active, with a loopback address on its page (so the range is one too),
    // and its Find dialog opened with Alt+F: the button shows its press before it acts.
    static std::pair<std::unique_ptr<frmMain>, frmFind*> OpenFind(const Bytes& address = {127, 0, 23, 9})
    {
        auto w = std::make_unique<frmMain>();
        SetIP(*w, "uctIPAddress1", address);
        w->show();
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("the window did not become active");
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : w.get(), Qt::Key_F, Qt::AltModifier);
        frmMain* window = w.get();
        if (!QTest::qWaitFor([window] { return window->findChild<frmFind*>() != nullptr; }))
            qWarning("Alt+F opened no dialog");
        frmFind* f = w->findChild<frmFind*>();
        return {std::move(w), f};
    }

    // Types the range over what the field shows, ticks the serial ports as asked and
    // presses Search; waits for the search's end unless told not to.
    static bool Search(frmFind& f, const QString& range, bool serial, bool wait = true)
    {
        auto* edit = Find<QComboBox>(f, "cmbRange")->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, range);
        Find<QCheckBox>(f, "chkSerial")->setChecked(serial);
        QSignalSpy ended(&f, &frmFind::searchEnded);
        Click(f, "cmdSearch");
        return !wait || ended.wait(30000);
    }

private slots:
    // The cell: five controllers on 127.0.23.1-5 (the third set up away from the
    // factory's settings), a peer that streams text, one and a hundred that never
    // answer; COM6 a device that never stops sending, COM7 a controller at 19200 only.
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_STATE_HOME", m_dir.filePath(QStringLiteral("state")).toUtf8());
        WriteLangId(QStringLiteral("1033"));
        const QString ports = SettingsDir() + QStringLiteral("/ports");
        const QString cell = m_dir.filePath(QStringLiteral("cell"));
        QVERIFY(QDir().mkpath(ports) && QDir().mkpath(cell));
        SimState st = SimBench::factory();
        PutU32(st.records[kRawCom], 48, 115200);
        PutU32(st.records[kRawCom], 120, 0x0A010203);  // 10.1.2.3
        PutU32(st.records[kRawCom], 124, 0xFFFF0000);  // 255.255.0.0
        QVERIFY(sim::saveStateFile(cell + QStringLiteral("/127.0.23.3.state"), st, nullptr));
        for (const QStringList& args :
             QList<QStringList>{{"--listen", "127.0.23.1-127.0.23.5", "--state-dir", cell},
                                {"--listen", "127.0.23.30", "--fault", "chatter"},
                                {"--listen", "127.0.23.31", "--fault", "freeze-at=1"},
                                {"--listen", "127.0.23.100-127.0.23.199", "--fault", "freeze-at=1"},
                                {"--pty", ports + QStringLiteral("/com6"), "--fault", "chatter"},
                                {"--pty", ports + QStringLiteral("/com7"), "--baud", "19200"}}) {
            m_cell.push_back(std::make_unique<SimProcess>(args));
            QVERIFY2(m_cell.back()->start(), qPrintable(args.join(' ')));
        }
    }

    void cleanup()
    {
        QFile::remove(RecentPath());
        QDir(RecentPath()).removeRecursively();
    }

    // A search and what ends it. Choosing a row (Enter, Use, a double-click) puts its
    // connection on the first page exactly, the focus on Next, and connects nothing.
    // Cancel and Escape stop a search before they return, well within 100 ms, with no
    // try cut off counted: Cancel closes, the first Escape keeps what was found.
    void search_data()
    {
        QTest::addColumn<QString>("range");
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QString>("how");
        QTest::addColumn<QStringList>("rows");   // connections listed, in any order; none: stop
        QTest::addColumn<QStringList>("shown");  // the first row's connection, address, mask, baud
        const QStringList cell{"eth:127.0.23.1", "eth:127.0.23.2", "eth:127.0.23.3", "eth:127.0.23.4",
                               "eth:127.0.23.5"};
        QTest::newRow("Ethernet, Enter") << "127.0.23.0/24" << false << "Enter" << cell
                                         << QStringList{"eth:127.0.23.3", "10.1.2.3", "255.255.0.0", "115200"};
        QTest::newRow("a range, Use") << "127.0.23.2-127.0.23.40" << false << "Use" << cell.mid(1)
                                      << QStringList{"eth:127.0.23.5", "192.168.0.1", "255.255.255.0", "38400"};
        QTest::newRow("serial, double-click")
            << "127.0.23.250" << true << "double-click" << QStringList{"com:7:19200:N:8:1"}
            << QStringList{"com:7:19200:N:8:1", "192.168.0.1", "255.255.255.0", "38400"};
        for (const char* stop : {"Cancel", "Escape", "Escape twice"})
            QTest::newRow(stop) << "127.0.23.0/24" << true << stop << QStringList{} << QStringList{};
    }
    void search()
    {
        QFETCH(QString, range);
        QFETCH(bool, serial);
        QFETCH(QString, how);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, shown);
        auto [w, f] = OpenFind();
        QVERIFY(f);
        const QPointer<frmFind> dialog = f;
        auto* list = Find<QTreeWidget>(*f, "lstFound");
        QVERIFY(Search(*f, range, serial, !rows.isEmpty()));
        if (rows.isEmpty()) {
            QSignalSpy ended(f, &frmFind::searchEnded);
            QTRY_VERIFY(f->scanner()->tried() >= 5);
            const qint64 tried = f->scanner()->tried();
            QElapsedTimer clock;
            clock.start();
            if (how == QLatin1String("Cancel"))
                Click(*f, "cmdCancel");
            else
                QTest::keyClick(f, Qt::Key_Escape);
            QVERIFY2(clock.elapsed() < 100, qPrintable(QStringLiteral("%1 ms").arg(clock.elapsed())));
            QCOMPARE(ended.size(), 1);
            QCOMPARE(dialog->scanner()->tried(), tried);
            if (how == QLatin1String("Escape")) {
                QVERIFY(dialog->isVisible() && !dialog->searching());
                QCOMPARE(Find<QLabel>(*f, "lblProgress")->text().left(8), QStringLiteral("Stopped:"));
            }
            if (how == QLatin1String("Escape twice"))
                QTest::keyClick(f, Qt::Key_Escape);
            else if (how == QLatin1String("Escape"))
                f->reject();
            QTRY_VERIFY(!dialog);
            QCOMPARE(GetIP(*w, "uctIPAddress1"), (Bytes{127, 0, 23, 9}));
            return;
        }
        QStringList found;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            found << list->topLevelItem(i)->text(0);
        std::sort(found.begin(), found.end());
        QCOMPARE(found, rows);
        QCOMPARE(Find<QLabel>(*f, "lblProgress")->text().left(5), QStringLiteral("Done:"));
        QTreeWidgetItem* item = list->findItems(shown[0], Qt::MatchExactly).value(0);
        QVERIFY(item);
        QCOMPARE((QStringList{item->text(0), item->text(3), item->text(4), item->text(5)}), shown);
        list->setCurrentItem(item);
        if (how == QLatin1String("Enter")) {
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Return);
        } else if (how == QLatin1String("Use")) {
            Click(*f, "cmdUse");
        } else {
            // As the window system delivers a double-click: a click, then the second press.
            const QPoint at = list->visualItemRect(item).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        }
        QTRY_VERIFY(!dialog);
        QCOMPARE(w->link()->connectionText(), shown[0]);  // every field the page connects with
        QCOMPARE(w->focusWidget(), Find<QPushButton>(*w, "cmdNext"));
        QCOMPARE(w->currentStep(), 0);
        QVERIFY(!w->link()->connected());
    }

    // A connection that read a controller is the first recent row, shown at once with
    // the id it named, and marked when it answers the next search; no search starts
    // before Search, whose range starts with the page's /24. Find shows on the
    // connection page only.
    void recentAfterConnect()
    {
        {
            auto [w, f] = OpenFind({127, 0, 23, 4});
            QVERIFY(f);
            f->reject();
            Click(*w, "cmdNext");
            QCOMPARE(w->currentStep(), 1);
            QVERIFY(!Find<QPushButton>(*w, "cmdFind")->isVisible());
        }
        auto [w, f] = OpenFind();
        QVERIFY(f);
        auto* list = Find<QTreeWidget>(*f, "lstFound");
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("eth:127.0.23.4"));
        QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("TLVSIM-127.0.23.4"));
        QVERIFY(list->topLevelItem(0)->text(6).startsWith(QStringLiteral("Used ")));
        QVERIFY(!list->topLevelItem(0)->font(0).bold());
        QVERIFY(!f->scanner());
        QCOMPARE(Find<QComboBox>(*f, "cmbRange")->currentText(), QStringLiteral("127.0.23.0/24"));
        QVERIFY(Search(*f, QStringLiteral("127.0.23.4-127.0.23.6"), false));
        QCOMPARE(list->topLevelItemCount(), 2);
        QVERIFY(list->topLevelItem(0)->text(6).endsWith(QStringLiteral(", answers")));
        QVERIFY(list->topLevelItem(0)->font(0).bold());
        QCOMPARE(list->topLevelItem(1)->text(0), QStringLiteral("eth:127.0.23.5"));
        QCOMPARE(list->topLevelItem(1)->text(6), QStringLiteral("Found"));
        f->reject();
    }

    // The history file as the dialog finds it: damaged, too large or no plain file, it
    // is ignored (at once, a FIFO too); a row the page cannot show cannot be chosen; the
    // next connection comes first and at most ten are kept.
    void history_data()
    {
        QTest::addColumn<QByteArray>("content");  // "FIFO" and "DIR": no plain file
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("choosable");  // the first row may be chosen
        const auto file = [](const QStringList& conns, const QByteArray& end = "]}") {
            QByteArrayList entries;
            for (const QString& c : conns)
                entries << "{\"conn\":\"" + c.toUtf8()
                               + "\",\"id\":\"A\",\"model\":\"RC\",\"when\":\"2026-12-10T10:00:00Z\"}";
            return "{\"recent\":[" + entries.join(',') + end;
        };
        QStringList ten;
        for (int i = 1; i <= 10; ++i)
            ten << QStringLiteral("eth:127.0.24.%1").arg(i);
        QTest::newRow("sound") << file({"eth:127.0.23.2"}) << 1 << true;
        QTest::newRow("ten: the next pushes the oldest out") << file(ten) << 10 << true;
        QTest::newRow("cut off") << file({"eth:127.0.23.2"}, "") << 0 << true;
        QTest::newRow("not JSON") << QByteArray("\x00\xff garbage", 11) << 0 << true;
        QTest::newRow("a connection text that is none") << file({"eth:127.0.23.2 "}) << 0 << true;
        QTest::newRow("a serial line of 7 data bits") << file({"com:7:19200:N:7:1"}) << 0 << true;
        QTest::newRow("no time") << QByteArray(
            "{\"recent\":[{\"conn\":\"eth:127.0.23.2\",\"id\":\"A\",\"model\":\"RC\"}]}")
                                 << 0 << true;
        QTest::newRow("eleven entries") << file(ten + QStringList{"eth:127.0.23.2"}) << 0 << true;
        QTest::newRow("larger than 64 KiB") << file({"eth:127.0.23.2"}, "]}" + QByteArray(70000, ' ')) << 0 << true;
        QTest::newRow("a port the connection page does not list") << file({"com:9:38400:N:8:1"}) << 1 << false;
        QTest::newRow("a FIFO") << QByteArray("FIFO") << 0 << true;
        QTest::newRow("a folder") << QByteArray("DIR") << 0 << true;
    }
    void history()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, rows);
        QFETCH(bool, choosable);
        const QString path = RecentPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (content == "FIFO") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (content == "DIR") {
            QVERIFY(QDir().mkpath(path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        }
        {
            auto [w, f] = OpenFind();
            QVERIFY(f);
            auto* list = Find<QTreeWidget>(*f, "lstFound");
            QCOMPARE(list->topLevelItemCount(), rows);
            if (rows > 0) {
                QCOMPARE(bool(list->topLevelItem(0)->flags() & Qt::ItemIsEnabled), choosable);
                QCOMPARE(Find<QPushButton>(*f, "cmdUse")->isEnabled(), choosable);
            }
        }
        if (content == "FIFO")
            QVERIFY(QFile::remove(path));
        // The next connection's entry replaces a damaged file (a folder stays: it is not ours).
        const QString next = QStringLiteral("eth:127.0.23.1");
        QCOMPARE(wizard::RecentConnections().add(
                     {next, QStringLiteral("B"), QStringLiteral("RC"), QDateTime::currentDateTimeUtc()}),
                 content != "DIR");
        const QList<wizard::RecentConnection> kept = wizard::RecentConnections().load();
        QCOMPARE(kept.size(), content == "DIR" ? 0 : qMin(rows + 1, wizard::RecentConnections::kMax));
        QVERIFY(kept.isEmpty() || kept.first().conn == next);
    }
};

QTEST_MAIN(tst_AppFind)
#include "tst_app_find.moc"
