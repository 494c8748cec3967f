// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard program: loading its one window starts it, closing the window ends it.
#include "app/frmMain.h"

#include "version.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

const char* const kHelpText = "Usage: tolvane [QT-OPTION...]\n"
                              "\n"
                              "The wizard that reads and changes a robot controller's communication settings over\n"
                              "Ethernet or an RS232C line.\n"
                              "\n"
                              "Options:\n"
                              "  -h, --help     print this help and exit\n"
                              "  -v, --version  print the version and exit\n"
                              "Qt's own options (-platform, -style, -reverse, ...) are taken as every Qt program\n"
                              "takes them.\n"
                              "\n"
                              "QT_LOGGING_RULES=\"tolvane.*.debug=true\" traces every frame and engine call on\n"
                              "standard error. The wizard reads its language from\n"
                              "$XDG_CONFIG_HOME/Tolvane/tolvane.ini and keeps the records it read in\n"
                              "$XDG_CACHE_HOME/Tolvane/records.\n";

bool is(const char* arg, const char* shortName, const char* longName)
{
    return std::strcmp(arg, shortName) == 0 || std::strcmp(arg, longName) == 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Help and version need no display, so they are answered before Qt opens one.
    for (int i = 1; i < argc; ++i) {
        if (is(argv[i], "-h", "--help")) {
            std::fputs(kHelpText, stdout);
            return 0;
        }
        if (is(argv[i], "-v", "--version")) {
            std::printf("tolvane %s\n", kTolvaneVersion);
            return 0;
        }
    }
    QApplication app(argc, argv);
    // Qt took its own options out of the arguments; whatever is left is a mistake.
    if (app.arguments().size() > 1) {
        std::fprintf(stderr, "tolvane: unknown argument %s\n(see tolvane --help)\n", qPrintable(app.arguments().at(1)));
        return 2;
    }
    frmMain window;
    window.show();
    return app.exec();
}
