// SPDX-License-Identifier: MIT
// SPDX-FileCopyrightText: 2026 Tolvane developers
// tolvane-sim: a robot controller that speaks the controller link protocol, for tests and
// demonstrations. The logic lives in the tolvane_sim library; this is the thin shell.

#include "sim/simapp.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    return sim::runSimulator(app);
}
