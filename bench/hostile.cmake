# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# The wizard's start with hostile files where its settings file and language module
# belong: time to the shown window and peak memory per case.
# Run: build/bin/bench_hostile_start
add_executable(bench_hostile_start ${CMAKE_CURRENT_LIST_DIR}/bench_hostile_start.cpp)
target_link_libraries(bench_hostile_start PRIVATE tolvane_app)
target_compile_definitions(bench_hostile_start PRIVATE
  TOLVANE_GOOD_MODULE="${CMAKE_BINARY_DIR}/tests/locale-module/LangRes.dll")
