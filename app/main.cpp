// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard program: loading its one window starts it, closing the window ends it.
#include "app/frmMain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    frmMain window;
    window.show();
    return app.exec();
}
