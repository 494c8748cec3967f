// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The wizard's start as its program makes it (app/main.cpp), reporting when its window is
// on the screen.
#include "app/frmMain.h"
#include "bench/startupreport.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    frmMain window;
    startup::showAndReport(window);
    return 0;
}
