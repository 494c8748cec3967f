// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// Pictures of the wizard's five pages for the documentation. Connects to a controller
// simulator on a loopback address, walks the pages with the buttons, and grabs the
// window into DIR/wizard-<page>-<suffix>.png.
//   tolvane-wizardshots --address 127.0.3.250 --suffix en --out docs/screenshots

#include "app/frmMain.h"
#include "controls/uctIPAddressCtrl.h"
#include "locale/modLocale.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPushButton>
#include <QWindow>
#include <cstdio>

namespace {

bool Save(frmMain& w, const QString& dir, const QString& page, const QString& suffix)
{
    QApplication::processEvents();
    const QString path = QDir(dir).filePath(QStringLiteral("wizard-%1-%2.png").arg(page, suffix));
    if (!w.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

void Press(frmMain& w, const char* name)
{
    w.findChild<QPushButton*>(QLatin1String(name))->click();
}

// The window manager shows the window in its own time; a picture before that is blank.
bool WaitExposed(frmMain& w)
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

}  // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("address"), QStringLiteral("Loopback address of the simulator."),
                      QStringLiteral("a.b.c.d")});
    parser.addOption({QStringLiteral("suffix"), QStringLiteral("File name suffix (language)."),
                      QStringLiteral("text"), QStringLiteral("en")});
    parser.addOption({QStringLiteral("out"), QStringLiteral("Folder for the pictures."),
                      QStringLiteral("dir"), QStringLiteral(".")});
    parser.process(app);

    const QHostAddress address(parser.value(QStringLiteral("address")));
    if (!address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol) {
        std::fprintf(stderr, "--address must be an IPv4 loopback address (127.x.x.x)\n");
        return 2;
    }
    const quint32 v = address.toIPv4Address();
    const QString out = parser.value(QStringLiteral("out"));
    const QString suffix = parser.value(QStringLiteral("suffix"));
    QDir().mkpath(out);

    int failures = 0;
    SetMsgBoxHandler([&failures](const MsgBoxCall& call) {
        std::fprintf(stderr, "unexpected message: %s\n", qPrintable(call.text));
        ++failures;
        return int(MsgBox::IdOK);
    });

    frmMain w;
    w.show();
    if (!WaitExposed(w))
        return 1;
    // The connection page as the user first sees it; then the simulator's loopback
    // address goes into the field before Next is pressed.
    bool ok = Save(w, out, QStringLiteral("connection"), suffix);
    w.findChild<uctIPAddressCtrl*>(QStringLiteral("uctIPAddress1"))
        ->SetIPAddress(quint8(v >> 24), quint8(v >> 16), quint8(v >> 8), quint8(v));
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 1 && Save(w, out, QStringLiteral("permission"), suffix);
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 2 && Save(w, out, QStringLiteral("ethernet"), suffix);
    Press(w, "cmdBack");
    w.findChild<QComboBox*>(QStringLiteral("cmbDevice"))->setCurrentIndex(1);
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 3 && Save(w, out, QStringLiteral("rs232c"), suffix);
    Press(w, "cmdNext");
    ok = ok && w.currentStep() == 4 && Save(w, out, QStringLiteral("token"), suffix);
    Press(w, "cmdCancel");
    return ok && failures == 0 ? 0 : 1;
}
