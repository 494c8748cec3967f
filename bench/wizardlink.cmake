# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# The wizard's controller calls against their floors: RS232C over a line the benchmark
# paces itself, Ethernet on a loopback address. Run: build/bin/bench_wizard_link
add_library(tolvane_benchsupport STATIC ${CMAKE_CURRENT_LIST_DIR}/benchsupport.h ${CMAKE_CURRENT_LIST_DIR}/benchsupport.cpp)
target_include_directories(tolvane_benchsupport PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(tolvane_benchsupport PUBLIC Qt6::Core)
add_executable(bench_wizard_link ${CMAKE_CURRENT_LIST_DIR}/bench_wizard_link.cpp)
target_link_libraries(bench_wizard_link PRIVATE tolvane_benchsupport tolvane_wizard tolvane_controller tolvane_testsupport)
