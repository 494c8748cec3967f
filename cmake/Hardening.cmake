# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
# Debian's hardening flags for what the package ships: fortified functions, stack
# protector, format checks, RELRO with immediate binding, position-independent
# executables. They come from dpkg-buildflags, as a Debian package build takes them;
# its -O2 and -g are left to the build type, and its -ffile-prefix-map (named after the
# folder it runs in) to the caller. The sanitizer and fuzz builds keep their own
# instrumentation instead: fortified functions hide accesses from AddressSanitizer.
option(TOLVANE_HARDEN "Build with Debian's hardening flags (dpkg-buildflags)" ON)
if(NOT TOLVANE_HARDEN OR TOLVANE_SANITIZE OR TOLVANE_FUZZ OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

find_program(TOLVANE_DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT TOLVANE_DPKG_BUILDFLAGS)
  message(STATUS "Hardening: no dpkg-buildflags here (scripts/setup installs dpkg-dev); not hardened")
  return()
endif()
foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
            ${TOLVANE_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(_flags UNIX_COMMAND "${_flags}")
  list(FILTER _flags EXCLUDE REGEX "^-O|^-g$|^-ffile-prefix-map=")
  set(_hardening_${kind} ${_flags})
endforeach()
# Fortified functions need an optimizing build: glibc warns of them at -O0.
add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${_hardening_CPPFLAGS}>" ${_hardening_CXXFLAGS})
add_link_options(${_hardening_LDFLAGS})
list(JOIN _hardening_CPPFLAGS " " _shown)
list(JOIN _hardening_CXXFLAGS " " _cxx)
list(JOIN _hardening_LDFLAGS " " _ld)
message(STATUS "Hardening: ${_shown} ${_cxx} ${_ld}")
