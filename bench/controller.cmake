# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# The wizard's read of both records through the engine and its provider, over TCP on a
# loopback address and over paced pseudo-terminals. Run: build/bin/bench_controller_link
add_executable(bench_controller_link ${CMAKE_CURRENT_LIST_DIR}/bench_controller_link.cpp)
target_link_libraries(bench_controller_link PRIVATE tolvane_controller tolvane_testsupport)
