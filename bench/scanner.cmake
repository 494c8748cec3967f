# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# The frame scanner's speed on clean frames and on floods whose headers claim the
# largest payload. Run: build/bin/bench_scanner
add_executable(bench_scanner ${CMAKE_CURRENT_LIST_DIR}/bench_scanner.cpp)
target_link_libraries(bench_scanner PRIVATE tolvane_protocol)
