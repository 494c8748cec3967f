# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# Throughput of the controller simulator: in-process, over TCP on a loopback address and
# over a paced pseudo-terminal. Run: build/bin/bench_sim_throughput
add_executable(bench_sim_throughput ${CMAKE_CURRENT_LIST_DIR}/bench_sim_throughput.cpp)
target_link_libraries(bench_sim_throughput PRIVATE tolvane_sim tolvane_testsupport)
