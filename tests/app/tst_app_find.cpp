// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
//
// The connection page's Find dialog as an engineer uses it, against a simulated cell on
// 127.0.23.0/24 and controllers on pseudo-terminals: what a search lists, what choosing
// a row puts on the first page, Cancel and Escape during a search, and the connections
// used recently (kept, bounded, and a damaged file ignored). Every search is of a
// loopback range, typed before Search is pressed.

#include "apptestutil.h"
#include "app/frmFind.h"
#include "controller/commlink.h"
#include "sim/simstate.h"
#include "tests/support/simprocess.h"
#include "wizard/recent.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTreeWidget>

#include <sys/stat.h>

using namespace apptest;

namespace {

QStringList Column(const QTreeWidget& list, int column)
{
    QStringList out;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        out << list.topLevelItem(i)->text(column);
    return out;
}

void PutLong(QByteArray& rec, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        rec[at + i] = char(v >> (8 * i));
}

}  // namespace

class tst_AppFind : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::vector<std::unique_ptr<SimProcess>> m_cell;

    QString recentPath() const { return wizard::RecentConnections::defaultPath(); }

    bool startSim(const QStringList& args)
    {
        auto p = std::make_unique<SimProcess>(args);
        if (!p->start())
            return false;
        m_cell.push_back(std::move(p));
        return true;
    }

    static std::unique_ptr<frmMain> OpenWindow()
    {
        auto w = std::make_unique<frmMain>();
        SetIP(*w, "uctIPAddress1", {127, 0, 23, 9});  // a loopback address, so the range is too
        w->show();
        w->activateWindow();  // the access keys reach the active window only
        if (!QTest::qWaitForWindowActive(w.get()))
            qWarning("the window did not become active");
        return w;
    }

    // Alt+F, as the engineer opens it.
    static frmFind* OpenFind(frmMain& w)
    {
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : &w, Qt::Key_F, Qt::AltModifier);
        // The button shows its press before it acts.
        if (!QTest::qWaitFor([&w] { return w.findChild<frmFind*>() != nullptr; }))
            qWarning("Alt+F opened no dialog");
        return w.findChild<frmFind*>();
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
    // factory's settings), a peer that streams text and one that never answers; COM6 a
    // device that never stops sending, COM7 a controller at 19200 baud only.
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_STATE_HOME", m_dir.filePath(QStringLiteral("state")).toUtf8());
        WriteLangId(QStringLiteral("1033"));
        const QString ports = SettingsDir() + QStringLiteral("/ports");
        const QString cell = m_dir.filePath(QStringLiteral("cell"));
        QVERIFY(QDir().mkpath(ports) && QDir().mkpath(cell));
        sim::ControllerState st = sim::defaultState();
        QByteArray& com = st.records[QStringLiteral("@CNF_RAW_COM")];
        PutLong(com, 48, 115200);
        PutLong(com, 120, 0x0A010203);  // 10.1.2.3
        PutLong(com, 124, 0xFFFF0000);  // 255.255.0.0
        QVERIFY(sim::saveStateFile(cell + QStringLiteral("/127.0.23.3.state"), st, nullptr));
        QVERIFY(startSim({"--listen", "127.0.23.1-127.0.23.5", "--state-dir", cell}));
        QVERIFY(startSim({"--listen", "127.0.23.30", "--fault", "chatter"}));
        QVERIFY(startSim({"--listen", "127.0.23.31", "--fault", "freeze-at=1"}));
        QVERIFY(startSim({"--listen", "127.0.23.100-127.0.23.199", "--fault", "freeze-at=1"}));
        QVERIFY(startSim({"--pty", ports + QStringLiteral("/com6"), "--fault", "chatter"}));
        QVERIFY(startSim({"--pty", ports + QStringLiteral("/com7"), "--baud", "19200"}));
    }

    void cleanup()
    {
        QFile::remove(recentPath());
        QDir(recentPath()).removeRecursively();
    }

    // What a search lists and what choosing a row puts on the first page: the page shows
    // the row's connection exactly, the focus is on Next, and nothing has connected.
    void chooseRow_data()
    {
        QTest::addColumn<QString>("range");
        QTest::addColumn<bool>("serial");
        QTest::addColumn<QStringList>("rows");  // connections listed, in any order
        QTest::addColumn<QString>("choose");
        QTest::addColumn<QString>("how");        // "Enter", "double-click" or "Use"
        QTest::addColumn<QStringList>("shown");  // the chosen row's address, mask, baud
        QTest::newRow("Ethernet, Enter") << "127.0.23.0/24" << false
                                         << QStringList{"eth:127.0.23.1", "eth:127.0.23.2", "eth:127.0.23.3",
                                                        "eth:127.0.23.4", "eth:127.0.23.5"}
                                         << "eth:127.0.23.3"
                                         << "Enter" << QStringList{"10.1.2.3", "255.255.0.0", "115200"};
        QTest::newRow("Ethernet, a range, Use")
            << "127.0.23.2-127.0.23.40" << false
            << QStringList{"eth:127.0.23.2", "eth:127.0.23.3", "eth:127.0.23.4", "eth:127.0.23.5"} << "eth:127.0.23.5"
            << "Use" << QStringList{"192.168.0.1", "255.255.255.0", "38400"};
        QTest::newRow("serial, double-click")
            << "127.0.23.250" << true << QStringList{"com:7:19200:N:8:1"} << "com:7:19200:N:8:1"
            << "double-click" << QStringList{"192.168.0.1", "255.255.255.0", "38400"};
    }
    void chooseRow()
    {
        QFETCH(QString, range);
        QFETCH(bool, serial);
        QFETCH(QStringList, rows);
        QFETCH(QString, choose);
        QFETCH(QString, how);
        QFETCH(QStringList, shown);
        auto w = OpenWindow();
        frmFind* f = OpenFind(*w);
        QVERIFY(f);
        QVERIFY(Search(*f, range, serial));
        auto* list = Find<QTreeWidget>(*f, "lstFound");
        QStringList found = Column(*list, 0);
        found.sort();
        QCOMPARE(found, rows);
        QVERIFY(Column(*list, 6).filter(QStringLiteral("Found")).size() == rows.size());
        QCOMPARE(Find<QLabel>(*f, "lblProgress")->text().left(5), QStringLiteral("Done:"));
        QTreeWidgetItem* item = list->topLevelItem(Column(*list, 0).indexOf(choose));
        QCOMPARE((QStringList{item->text(3), item->text(4), item->text(5)}), shown);
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
        QTRY_VERIFY(!w->findChild<frmFind*>());
        const auto c = ParseConnText(choose);
        QVERIFY(c);
        QCOMPARE(Find<QRadioButton>(*w, "optDevice_0")->isChecked(), !c->serial);
        QCOMPARE(Find<QRadioButton>(*w, "optDevice_1")->isChecked(), c->serial);
        if (!c->serial) {
            QCOMPARE(GetIP(*w, "uctIPAddress1"), c->address);
        } else {
            QCOMPARE(Find<QComboBox>(*w, "cmbPort1")->currentText(), QStringLiteral("COM%1").arg(c->port));
            QCOMPARE(Find<QComboBox>(*w, "cmbBaudRate1")->currentData().toInt(), c->baud);
            QCOMPARE(w->link()->connectionText(), choose);
        }
        QCOMPARE(w->focusWidget(), Find<QPushButton>(*w, "cmdNext"));
        QCOMPARE(w->currentStep(), 0);
        QVERIFY(!w->link()->connected());
    }

    // Cancel and Escape stop a search at once (every try ended before they return), well
    // within 100 ms: Cancel closes the dialog and leaves the page as it was, the first
    // Escape keeps the dialog and what was found, the second closes it.
    void stopSearch_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Cancel") << "Cancel" << true;
        QTest::newRow("Escape") << "Escape" << false;
        QTest::newRow("Escape twice") << "Escape twice" << true;
    }
    void stopSearch()
    {
        QFETCH(QString, how);
        QFETCH(bool, closes);
        auto w = OpenWindow();
        frmFind* f = OpenFind(*w);
        QVERIFY(f);
        // A hundred peers that never answer hold the search for a second at least.
        QVERIFY(Search(*f, QStringLiteral("127.0.23.0/24"), true, false));
        QSignalSpy ended(f, &frmFind::searchEnded);
        QTRY_VERIFY(f->scanner() && f->scanner()->tried() >= 5);
        QVERIFY(f->searching());
        QPointer<frmFind> dialog = f;
        const qint64 tried = f->scanner()->tried();
        QElapsedTimer clock;
        clock.start();
        if (how == QLatin1String("Cancel"))
            Click(*f, "cmdCancel");
        else
            QTest::keyClick(f, Qt::Key_Escape);
        const qint64 ms = clock.elapsed();
        QCOMPARE(ended.size(), 1);
        QCOMPARE(dialog->scanner()->tried(), tried);  // a try cut off counts as not tried
        QVERIFY2(ms < 100, qPrintable(QStringLiteral("%1 ms").arg(ms)));
        if (how == QLatin1String("Escape twice"))
            QTest::keyClick(f, Qt::Key_Escape);
        if (closes) {
            QTRY_VERIFY(!dialog);
        } else {
            QVERIFY(dialog->isVisible() && !dialog->searching());
            QCOMPARE(Find<QLabel>(*f, "lblProgress")->text().left(8), QStringLiteral("Stopped:"));
            dialog->reject();
        }
        QCOMPARE(GetIP(*w, "uctIPAddress1"), (std::array<quint8, 4>{127, 0, 23, 9}));
        QCOMPARE(w->currentStep(), 0);
    }

    // A connection that read a controller is the first recent row: the id it named, when,
    // and marked when it answers the next search. Ten are kept, newest first; the Find
    // button shows on the connection page only.
    void recentAfterConnect()
    {
        auto w = OpenWindow();
        SetIP(*w, "uctIPAddress1", {127, 0, 23, 4});
        Click(*w, "cmdNext");
        QCOMPARE(w->currentStep(), 1);
        QVERIFY(!Find<QPushButton>(*w, "cmdFind")->isVisible());
        const QList<wizard::RecentConnection> kept = wizard::RecentConnections().load();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept[0].conn, QStringLiteral("eth:127.0.23.4"));
        QCOMPARE(kept[0].id, QStringLiteral("TLVSIM-127.0.23.4"));
        w.reset();

        auto again = OpenWindow();
        QVERIFY(Find<QPushButton>(*again, "cmdFind")->isVisible());
        frmFind* f = OpenFind(*again);
        QVERIFY(f);
        auto* list = Find<QTreeWidget>(*f, "lstFound");
        QCOMPARE(Column(*list, 0), QStringList{"eth:127.0.23.4"});  // at once, before any search
        QVERIFY(!f->scanner());                                     // which only Search starts
        QCOMPARE(Find<QComboBox>(*f, "cmbRange")->currentText(), QStringLiteral("127.0.23.0/24"));
        QVERIFY(list->topLevelItem(0)->text(6).startsWith(QStringLiteral("Used ")));
        QVERIFY(!list->topLevelItem(0)->font(0).bold());
        QVERIFY(Search(*f, QStringLiteral("127.0.23.4-127.0.23.6"), false));
        QCOMPARE(Column(*list, 0), (QStringList{"eth:127.0.23.4", "eth:127.0.23.5"}));
        QVERIFY(list->topLevelItem(0)->text(6).endsWith(QStringLiteral(", answers")));
        QVERIFY(list->topLevelItem(0)->font(0).bold());
        QCOMPARE(list->topLevelItem(1)->text(6), QStringLiteral("Found"));
        f->reject();

        // Bounded: twelve connections keep the last ten, newest first.
        const wizard::RecentConnections recent;
        for (int i = 1; i <= 12; ++i)
            QVERIFY(recent.add({QStringLiteral("eth:127.0.24.%1").arg(i), QStringLiteral("ID-%1").arg(i),
                                QStringLiteral("RC"), QDateTime::currentDateTimeUtc()}));
        const QList<wizard::RecentConnection> ten = recent.load();
        QCOMPARE(ten.size(), wizard::RecentConnections::kMax);
        QCOMPARE(ten.first().conn, QStringLiteral("eth:127.0.24.12"));
        QCOMPARE(ten.last().conn, QStringLiteral("eth:127.0.24.3"));
    }

    // A history file that is damaged, too large or no file at all is ignored: the dialog
    // opens at once without recent rows, and the next connection writes a sound file.
    void damagedHistory_data()
    {
        QTest::addColumn<QByteArray>("content");  // "FIFO" and "DIR": no plain file
        QTest::addColumn<int>("rows");
        QTest::addColumn<bool>("choosable");  // the recent row may be chosen
        const QByteArray entry = R"({"conn":"eth:127.0.23.2","id":"A","model":"RC","when":"2026-12-10T10:00:00Z"})";
        QTest::newRow("sound") << QByteArray(R"({"recent":[)" + entry + "]}") << 1 << true;
        QTest::newRow("cut off") << QByteArray(R"({"recent":[)" + entry) << 0 << true;
        QTest::newRow("not JSON") << QByteArray("\x00\xff garbage", 11) << 0 << true;
        QTest::newRow("a connection text that is none") << QByteArray(
            R"({"recent":[{"conn":"eth:127.0.23.2 ","id":"A","model":"RC","when":"2026-12-10T10:00:00Z"}]})")
                                                        << 0 << true;
        QTest::newRow("a serial line of 7 data bits") << QByteArray(
            R"({"recent":[{"conn":"com:7:19200:N:7:1","id":"A","model":"RC","when":"2026-12-10T10:00:00Z"}]})")
                                                      << 0 << true;
        QTest::newRow("no time") << QByteArray(R"({"recent":[{"conn":"eth:127.0.23.2","id":"A","model":"RC"}]})") << 0
                                 << true;
        QTest::newRow("eleven entries") << QByteArray(R"({"recent":[)" + QByteArrayList(11, entry).join(',') + "]}")
                                        << 0 << true;
        QTest::newRow("larger than 64 KiB")
            << QByteArray(R"({"recent":[)" + entry + "]}" + QByteArray(70000, ' ')) << 0 << true;
        QTest::newRow("a port the connection page does not list") << QByteArray(
            R"({"recent":[{"conn":"com:9:38400:N:8:1","id":"A","model":"RC","when":"2026-12-10T10:00:00Z"}]})")
                                                                  << 1 << false;
        QTest::newRow("a FIFO") << QByteArray("FIFO") << 0 << true;
        QTest::newRow("a folder") << QByteArray("DIR") << 0 << true;
    }
    void damagedHistory()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, rows);
        QFETCH(bool, choosable);
        const QString path = recentPath();
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
        auto w = OpenWindow();
        frmFind* f = OpenFind(*w);
        QVERIFY(f);
        auto* list = Find<QTreeWidget>(*f, "lstFound");
        QCOMPARE(list->topLevelItemCount(), rows);
        if (rows > 0) {
            QCOMPARE(bool(list->topLevelItem(0)->flags() & Qt::ItemIsEnabled), choosable);
            QCOMPARE(Find<QPushButton>(*f, "cmdUse")->isEnabled(), choosable);
        }
        f->reject();
        if (content == "FIFO")
            QVERIFY(QFile::remove(path));
        // The next connection's entry replaces a damaged file (a folder stays: it is not ours to remove).
        const bool written = wizard::RecentConnections().add({QStringLiteral("eth:127.0.23.1"), QStringLiteral("B"),
                                                              QStringLiteral("RC"), QDateTime::currentDateTimeUtc()});
        QCOMPARE(written, content != "DIR");
        QCOMPARE(wizard::RecentConnections().load().size(), content == "DIR" ? 0 : rows + 1);
    }
};

QTEST_MAIN(tst_AppFind)
#include "tst_app_find.moc"
