# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# Finding controllers: tolvanectl scan over a loopback /24 against plain connects and
# OPEN exchanges, and over a line whose controller answers at the last rate tried.
# Run: build/bin/bench_scan
add_executable(bench_scan ${CMAKE_CURRENT_LIST_DIR}/bench_scan.cpp)
target_link_libraries(bench_scan PRIVATE tolvane_benchsupport tolvane_scan tolvane_testsupport)
add_dependencies(bench_scan tolvanectl tolvane-sim)
