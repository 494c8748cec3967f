# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

# tolvane_add_test(<name> SOURCES <files...> LIBS <targets...> [TIMEOUT <s>] [ENV <VAR=value>...] [NETNS])
# One QTest executable per unit, run offscreen through CTest. TOLVANE_BIN_DIR tells
# a test where tolvane-sim and the other executables are. NETNS: a test that scans
# runs in a network namespace of its own where it can (scripts/netns), so that no
# mistake in it can send a packet off the machine.
function(tolvane_add_test name)
  cmake_parse_arguments(T "NETNS" "TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 180)
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_NETNS)
    add_test(NAME ${name} COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/netns $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES
    TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;TOLVANE_BIN_DIR=${CMAKE_BINARY_DIR}/bin;TOLVANE_SOURCE_DIR=${CMAKE_SOURCE_DIR};${T_ENV}")
  tolvane_test_cache(${name})
endfunction()

# The records a test's engines keep between sessions, and the connections its wizard
# used, go to folders of the test's own, emptied before each CTest run (the fixture
# tolvane_test_cache), never the user's.
function(tolvane_test_cache name)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache/${name}")
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "XDG_STATE_HOME=${CMAKE_BINARY_DIR}/test-cache/${name}-state")
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED tolvane_test_cache)
endfunction()
