# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# The wizard's start (time to its window on the screen, peak memory) against a bare Qt
# program that shows an empty window. Run: build/bin/bench_startup [RUNS] (on a display)
add_executable(bench_startup_bare ${CMAKE_CURRENT_LIST_DIR}/startup_bare.cpp ${CMAKE_CURRENT_LIST_DIR}/startupreport.h)
target_include_directories(bench_startup_bare PRIVATE ${PROJECT_SOURCE_DIR})
target_link_libraries(bench_startup_bare PRIVATE Qt6::Widgets)
add_executable(bench_startup_wizard ${CMAKE_CURRENT_LIST_DIR}/startup_wizard.cpp ${CMAKE_CURRENT_LIST_DIR}/startupreport.h)
target_link_libraries(bench_startup_wizard PRIVATE tolvane_app)
add_executable(bench_startup ${CMAKE_CURRENT_LIST_DIR}/bench_startup.cpp)
target_link_libraries(bench_startup PRIVATE tolvane_benchsupport)
add_dependencies(bench_startup bench_startup_bare bench_startup_wizard)
