# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# The wizard's Find dialog searching a loopback /24: its first and last rows, how long
# the window goes without handling an event, and Cancel.
# Run: bash scripts/netns build/bin/bench_find
add_executable(bench_find ${CMAKE_CURRENT_LIST_DIR}/bench_find.cpp)
target_link_libraries(bench_find PRIVATE tolvane_app tolvane_benchsupport tolvane_testsupport)
add_dependencies(bench_find tolvane-sim)
