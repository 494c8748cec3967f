// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// Pictures of the wizard for the documentation and the user guide. Connects to a
// controller simulator on a loopback address (one with a controller error code, so that
// the error question shows), walks the pages with the buttons, and grabs the window into
// DIR/wizard-<page>-<suffix>.png and each message the wizard shows, as the real box,
// into DIR/message-<name>-<suffix>.png. With --refused, a loopback address where nothing
// listens, the failed connection comes first; with --port, the COM number of a slow
// simulated line, the progress bar of a read over it; with --find, a loopback range, the
// Find dialog after a search of that range (DIR/find-<suffix>.png).
//   tolvane-wizardshots --address 127.0.3.250 --refused 127.0.3.251 --port 4
//     --find 127.0.3.240/28 --suffix en --out docs/screenshots

#include "app/frmFind.h"
#include "app/frmMain.h"
#include "controls/uctIPAddressCtrl.h"
#include "locale/modLocale.h"
#include "localeui/lmsgbox.h"
#include "localeui/systemmsgbox.h"
#include "settings/modFile.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTimer>
#include <QTreeWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QWindow>
#include <cstdio>

namespace {

bool SaveWidget(QWidget& w, const QString& dir, const QString& name)
{
    QApplication::processEvents();
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    if (!w.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool Save(frmMain& w, const QString& dir, const QString& page, const QString& suffix)
{
    return SaveWidget(w, dir, QStringLiteral("wizard-%1-%2").arg(page, suffix));
}

void Press(frmMain& w, const char* name)
{
    w.findChild<QPushButton*>(QLatin1String(name))->click();
}

// The window manager shows a window in its own time; a picture before that is blank.
bool WaitExposed(QWidget& w)
{
    QElapsedTimer clock;
    clock.start();
    while (!(w.windowHandle() && w.windowHandle()->isExposed())) {
        if (clock.hasExpired(10000))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

IPv4 Octets(const QHostAddress& a)
{
    const quint32 v = a.toIPv4Address();
    return {quint8(v >> 24), quint8(v >> 16), quint8(v >> 8), quint8(v)};
}

void TypeAddress(frmMain& w, const IPv4& ip)
{
    w.findChild<uctIPAddressCtrl*>(QStringLiteral("uctIPAddress1"))->SetIPAddress(ip[0], ip[1], ip[2], ip[3]);
}

// A whole read over a slow line (a controller without the optional requests), pictured
// once the bar has come a third of its way.
bool ProgressShot(int port, const QString& out, const QString& suffix)
{
    frmMain w;
    w.show();
    if (!WaitExposed(w))
        return false;
    w.findChild<QRadioButton*>(QStringLiteral("optDevice_1"))->click();
    auto* ports = w.findChild<QComboBox*>(QStringLiteral("cmbPort1"));
    ports->setCurrentIndex(ports->findText(QStringLiteral("COM%1").arg(port)));
    auto* baud = w.findChild<QComboBox*>(QStringLiteral("cmbBaudRate1"));
    baud->setCurrentIndex(baud->findData(9600));
    auto* bar = w.findChild<QProgressBar*>(QStringLiteral("prgTransfer"));
    bool saved = false;
    QObject::connect(bar, &QProgressBar::valueChanged, &w, [&](int value) {
        if (!saved && bar->maximum() > 4096 && value * 3 >= bar->maximum())
            saved = Save(w, out, QStringLiteral("progress"), suffix);
    });
    Press(w, "cmdNext");
    const bool read = w.currentStep() == 1;
    Press(w, "cmdCancel");
    return saved && read;
}

// The Find dialog after a search of range (which the caller made sure is loopback), with
// the first row chosen in the list.
bool FindShot(const QString& range, const QString& out, const QString& suffix)
{
    frmMain w;
    w.show();
    if (!WaitExposed(w))
        return false;
    Press(w, "cmdFind");
    auto* find = w.findChild<frmFind*>();
    if (!find || !WaitExposed(*find))
        return false;
    find->findChild<QComboBox*>(QStringLiteral("cmbRange"))->setEditText(range);
    QEventLoop loop;
    QObject::connect(find, &frmFind::searchEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    find->cmdSearch_Click();
    if (find->searching())
        loop.exec();
    auto* list = find->findChild<QTreeWidget*>(QStringLiteral("lstFound"));
    list->setCurrentItem(list->topLevelItem(0));
    list->setFocus();
    for (int c = 0; c < list->columnCount() - 1; ++c)
        list->resizeColumnToContents(c);
    const bool saved = !find->searching() && SaveWidget(*find, out, QStringLiteral("find-%1").arg(suffix));
    find->reject();
    Press(w, "cmdCancel");
    return saved;
}

// Whether every address of a range the Find dialog takes is a loopback one.
bool LoopbackRange(const QString& range)
{
    const auto targets = wizard::SearchTargets(range, false);
    const auto inLoopback = [](quint32 a) { return (a >> 24) == 127; };
    return targets && inLoopback(targets->first().first) && inLoopback(targets->first().last);
}

void AddOptions(QCommandLineParser& parser)
{
    parser.addHelpOption();
    parser.addOption({QStringLiteral("address"), QStringLiteral("Loopback address of the simulator."),
                      QStringLiteral("a.b.c.d")});
    parser.addOption({QStringLiteral("suffix"), QStringLiteral("File name suffix (language)."),
                      QStringLiteral("text"), QStringLiteral("en")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("Folder for the pictures."),
                      QStringLiteral("dir"), QStringLiteral(".")});
    parser.addOption({QStringLiteral("refused"), QStringLiteral("Loopback address where nothing listens."),
                      QStringLiteral("a.b.c.d")});
    parser.addOption({QStringLiteral("port"), QStringLiteral("COM number of a slow simulated line."),
                      QStringLiteral("n")});
    parser.addOption({QStringLiteral("find"), QStringLiteral("Loopback range the Find dialog searches."),
                      QStringLiteral("range")});
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    AddOptions(parser);
    parser.process(app);

    const QHostAddress address(parser.value(QStringLiteral("address")));
    const QHostAddress refused(parser.value(QStringLiteral("refused")));
    const auto loopback = [](const QHostAddress& a) {
        return a.isLoopback() && a.protocol() == QAbstractSocket::IPv4Protocol;
    };
    if (!loopback(address) || (parser.isSet(QStringLiteral("refused")) && !loopback(refused))) {
        std::fprintf(stderr, "--address and --refused must be IPv4 loopback addresses (127.x.x.x)\n");
        return 2;
    }
    const QString range = parser.value(QStringLiteral("find"));
    if (!range.isEmpty() && !LoopbackRange(range)) {
        std::fprintf(stderr, "--find must be a range of IPv4 loopback addresses (127.x.x.x)\n");
        return 2;
    }
    const QString out = parser.value(QStringLiteral("out"));
    const QString suffix = parser.value(QStringLiteral("suffix"));
    QDir().mkpath(out);

    // Each message is shown as the real box, pictured, and answered with its first
    // button (OK: the error is cleared, the failure acknowledged).
    QString nextMessage;
    int messages = 0;
    SetMsgBoxHandler([&](MsgBoxCall call) {
        // The title the wizard's boxes carry is its executable's name, not this tool's.
        if (call.title == AppExeName())
            call.title = QStringLiteral("tolvane");
        SystemMsgBox box(call);
        box.show();
        const bool ok = WaitExposed(box) && !nextMessage.isEmpty()
                        && SaveWidget(box, out, QStringLiteral("message-%1-%2").arg(nextMessage, suffix));
        if (!ok)
            std::fprintf(stderr, "unexpected message: %s\n", qPrintable(call.text));
        messages += ok ? 1 : 1000;
        nextMessage.clear();
        return box.orderedButtons().value(0).second;
    });

    frmMain w;
    w.show();
    if (!WaitExposed(w))
        return 1;
    // The connection page as the user first sees it; then the simulator's loopback
    // address goes into the field before Next is pressed.
    bool ok = Save(w, out, QStringLiteral("connection"), suffix);
    if (parser.isSet(QStringLiteral("refused"))) {
        TypeAddress(w, Octets(refused));
        nextMessage = QStringLiteral("connect-failed");
        Press(w, "cmdNext");
        ok = ok && w.currentStep() == 0 && messages == 1;
    }
    TypeAddress(w, Octets(address));
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 1 && Save(w, out, QStringLiteral("permission"), suffix);
    // The simulator holds an error code: Next asks whether to clear it.
    nextMessage = QStringLiteral("controller-error");
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 2 && Save(w, out, QStringLiteral("ethernet"), suffix);
    Press(w, "cmdBack");
    w.findChild<QComboBox*>(QStringLiteral("cmbDevice"))->setCurrentIndex(1);
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 3 && Save(w, out, QStringLiteral("rs232c"), suffix);
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 4 && Save(w, out, QStringLiteral("token"), suffix);
    // Complete writes the change of device and reports it.
    nextMessage = QStringLiteral("complete");
    Press(w, "cmdNext");
    ok = ok && !w.isVisible();
    if (!range.isEmpty())
        ok = FindShot(range, out, suffix) && ok;
    if (parser.isSet(QStringLiteral("port")))
        ok = ProgressShot(parser.value(QStringLiteral("port")).toInt(), out, suffix) && ok;
    return ok && messages < 1000 ? 0 : 1;
}
