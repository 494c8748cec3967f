// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// The floor of the wizard's start: a Qt program that shows one empty window and reports
// when it is on the screen. Links Qt Widgets only.
#include "bench/startupreport.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget w;
    w.resize(480, 360);
    startup::showAndReport(w);
    return 0;
}
