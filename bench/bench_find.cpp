// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard's Find dialog as an engineer uses it, in the real window (offscreen): a
// loopback /24 holding 20 controllers, a peer that streams text, one that accepts and
// never answers, and empty addresses, searched from the dialog's Search button.
//   - the first row and all 20 rows after Search; goals 0.3 s and 1 s, as tolvanectl scan;
//     and the search's end, which waits out the silent peers' deadline (0.5 s);
//   - the longest gap between two events the window processed while it searched (a 1 ms
//     timer keeps events coming, so a gap is time the window could not answer); goal 50 ms;
//   - Cancel pressed 0.2 s into a search, to the search's end; goal 100 ms.
// Prints a Markdown table; exits 1 when a search does not list exactly the 20.
//   bench_find [--rounds N]     (run it inside scripts/netns where it can)

#include "app/frmFind.h"
#include "app/frmMain.h"
#include "bench/benchsupport.h"
#include "controls/uctIPAddressCtrl.h"
#include "tests/support/simprocess.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

const char* const kNet = "127.0.42";

// The longest time between two events the application delivered, while it is watched.
class GapWatch : public QObject {
public:
    GapWatch()
    {
        qApp->installEventFilter(this);
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.start(1);
        m_clock.start();
    }
    ~GapWatch() override { qApp->removeEventFilter(this); }
    double longestMs() const { return double(m_longestNs) / 1e6; }
    bool eventFilter(QObject*, QEvent*) override
    {
        const qint64 now = m_clock.nsecsElapsed();
        m_longestNs = std::max(m_longestNs, now - m_last);
        m_last = now;
        return false;
    }

private:
    QTimer m_tick;
    QElapsedTimer m_clock;
    qint64 m_last = 0, m_longestNs = 0;
};

struct Round {
    double firstRow = -1, allRows = -1, end = -1, longestGapMs = -1, cancelMs = -1;
    int rows = 0;
};

frmFind* OpenFind(frmMain& w)
{
    w.findChild<QPushButton*>(QStringLiteral("cmdFind"))->click();
    auto* find = w.findChild<frmFind*>();
    if (find)
        find->findChild<QComboBox*>(QStringLiteral("cmbRange"))->setEditText(QStringLiteral("%1.0/24").arg(kNet));
    return find;
}

Round OneRound()
{
    Round r;
    frmMain w;
    w.findChild<uctIPAddressCtrl*>(QStringLiteral("uctIPAddress1"))->SetIPAddress(127, 0, 42, 1);
    w.show();
    {
        frmFind* find = OpenFind(w);
        if (!find)
            return r;
        auto* list = find->findChild<QTreeWidget*>(QStringLiteral("lstFound"));
        QElapsedTimer clock;
        QEventLoop loop;
        QObject::connect(find, &frmFind::rowShown, find, [&] {
            const double now = double(clock.nsecsElapsed()) / 1e9;
            if (r.firstRow < 0)
                r.firstRow = now;
            if (list->topLevelItemCount() == 20 && r.allRows < 0)
                r.allRows = now;
        });
        QObject::connect(find, &frmFind::searchEnded, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        GapWatch gaps;
        clock.start();
        find->findChild<QPushButton*>(QStringLiteral("cmdSearch"))->click();
        loop.exec();
        r.end = double(clock.nsecsElapsed()) / 1e9;
        r.longestGapMs = gaps.longestMs();
        r.rows = list->topLevelItemCount();
        // The dialog goes once the event loop turns; the window opens a new one only then.
        const QPointer<frmFind> closing = find;
        find->reject();
        QElapsedTimer wait;
        wait.start();
        while (closing && !wait.hasExpired(5000))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (closing)
            return r;
    }
    {
        frmFind* find = OpenFind(w);
        if (!find)
            return r;
        find->findChild<QPushButton*>(QStringLiteral("cmdSearch"))->click();
        QEventLoop loop;
        QTimer::singleShot(200, &loop, &QEventLoop::quit);
        loop.exec();
        QElapsedTimer clock;
        bool ended = false;
        QObject::connect(find, &frmFind::searchEnded, find, [&] { ended = true; });
        clock.start();
        find->findChild<QPushButton*>(QStringLiteral("cmdCancel"))->click();
        while (!ended && clock.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        r.cancelMs = double(clock.nsecsElapsed()) / 1e6;
    }
    w.close();
    return r;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    qputenv("XDG_STATE_HOME", home.filePath(QStringLiteral("state")).toUtf8());
    QApplication app(argc, argv);
    int rounds = 5;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--rounds")); i > 0 && i + 1 < args.size())
        rounds = std::max(1, args[i + 1].toInt());

    QTemporaryDir cell;
    const QString net = QString::fromLatin1(kNet);
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const QStringList& a : QList<QStringList>{{"--listen", net + ".1-" + net + ".20", "--state-dir", cell.path()},
                                                   {"--listen", net + ".30", "--fault", "chatter"},
                                                   {"--listen", net + ".31", "--fault", "freeze-at=1"}}) {
        sims.push_back(std::make_unique<SimProcess>(a));
        if (!sims.back()->start()) {
            std::fprintf(stderr, "bench_find: simulator %s did not start\n", qPrintable(a.join(' ')));
            return 1;
        }
    }
    QList<double> first, all, end, gap, cancel;
    double worstFirst = 0, worstAll = 0, worstEnd = 0, worstGap = 0, worstCancel = 0;
    for (int i = 0; i < rounds; ++i) {
        const Round r = OneRound();
        if (r.rows != 20 || r.allRows < 0) {
            std::fprintf(stderr, "bench_find: the search listed %d rows, not the 20 controllers\n", r.rows);
            return 1;
        }
        first << r.firstRow;
        all << r.allRows;
        end << r.end;
        worstEnd = std::max(worstEnd, r.end);
        gap << r.longestGapMs;
        cancel << r.cancelMs;
        worstFirst = std::max(worstFirst, r.firstRow);
        worstAll = std::max(worstAll, r.allRows);
        worstGap = std::max(worstGap, r.longestGapMs);
        worstCancel = std::max(worstCancel, r.cancelMs);
    }
    const auto row = [](const char* what, double median, double worst, const char* goal, double bound) {
        std::printf("| %s | %.3f | %.3f | %s | %s |\n", what, median, worst, goal,
                    bound <= 0       ? ""
                    : worst <= bound ? "met"
                                     : "MISSED");
    };
    std::printf("| eth:%s.0/24 from the Find dialog: 20 controllers, 1 streaming, 1 silent, 232 empty (%d rounds) "
                "| median | worst | goal | result |\n|---|---|---|---|---|\n",
                kNet, rounds);
    row("first row after Search (s)", Median(first), worstFirst, "at most 0.3", 0.3);
    row("all 20 rows after Search (s)", Median(all), worstAll, "at most 1", 1.0);
    row("the search's end, the silent peers' deadline over (s)", Median(end), worstEnd, "none", 0);
    row("longest gap between two events the window processed (ms)", Median(gap), worstGap, "at most 50", 50);
    row("Cancel 0.2 s into a search, to its end (ms)", Median(cancel), worstCancel, "at most 100", 100);
    return 0;
}
