# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
# cmake -DBUILD_DIR=… -DPREFIX=… -P CheckInstall.cmake
# Installs the build into a scratch prefix and checks what a package would hold: the
# wizard, tolvanectl and the simulator, and that the two tools without a window link
# no widgets library.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${rc})")
endif()
foreach(exe tolvane tolvanectl tolvane-sim)
  if(NOT EXISTS "${PREFIX}/bin/${exe}")
    message(FATAL_ERROR "${exe} was not installed into ${PREFIX}/bin")
  endif()
endforeach()
foreach(exe tolvanectl tolvane-sim)
  file(GET_RUNTIME_DEPENDENCIES EXECUTABLES "${PREFIX}/bin/${exe}"
       RESOLVED_DEPENDENCIES_VAR deps UNRESOLVED_DEPENDENCIES_VAR missing)
  foreach(dep ${deps} ${missing})
    if(dep MATCHES "Qt6?Widgets|Qt6?Gui")
      message(FATAL_ERROR "${exe} links ${dep}")
    endif()
  endforeach()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "installed tolvane, tolvanectl and tolvane-sim; the tools link no widgets")
