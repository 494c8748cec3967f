# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
# What `cmake --install` puts beside the programs (desktop entry, icons, manual pages,
# licence and changelog) and the Debian package CPack builds from it: `cpack -G DEB` in
# the build folder.

set(_gen ${CMAKE_BINARY_DIR}/dist)
file(MAKE_DIRECTORY ${_gen})

# The icon theme's fixed sizes, rendered from the one SVG.
set(_icon_svg ${PROJECT_SOURCE_DIR}/app/images/icon.svg)
set(_pngs)
foreach(size 48 256)
  set(_png ${_gen}/tolvane-${size}.png)
  add_custom_command(OUTPUT ${_png}
    # A build helper, not under test: leaks of a sanitizer build are not its business.
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:tolvane-iconrender> ${_icon_svg} ${size} ${_png}
    DEPENDS tolvane-iconrender ${_icon_svg} VERBATIM)
  list(APPEND _pngs ${_png})
  install(FILES ${_png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
          RENAME tolvane.png)
endforeach()
install(FILES ${_icon_svg} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps
        RENAME tolvane.svg)

# Manual pages and the changelog go in compressed, reproducibly (no name, no time stamp).
set(_gz)
foreach(page tolvane tolvanectl tolvane-sim)
  set(_out ${_gen}/${page}.1.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/docs/man/${page}.1 > ${_out}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page}.1)
  list(APPEND _gz ${_out})
  install(FILES ${_out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(_changelog ${_gen}/changelog.gz)
add_custom_command(OUTPUT ${_changelog}
  COMMAND gzip -9n -c ${PROJECT_SOURCE_DIR}/cmake/deb/changelog > ${_changelog}
  DEPENDS ${PROJECT_SOURCE_DIR}/cmake/deb/changelog)
add_custom_target(tolvane_dist ALL DEPENDS ${_pngs} ${_gz} ${_changelog})

install(FILES ${PROJECT_SOURCE_DIR}/app/tolvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/cmake/deb/copyright ${_changelog}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tolvane)

# --- Debian package -------------------------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolvane)
set(CPACK_PACKAGE_VENDOR "Tolvane developers")
set(CPACK_PACKAGE_CONTACT "Tolvane developers <developers@tolvane.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "wizard for the communication settings of robot controllers")
# The synopsis is the summary above; CPack indents these lines and turns the empty one
# into the paragraph mark.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Tolvane connects to an industrial robot controller over Ethernet or an RS232C
line, reads its communication settings, lets a service engineer choose the
permission device, edit the Ethernet address and mask or the RS232C baud rate
and the executable token, and writes back exactly what changed.

The package also holds tolvanectl, which reads, writes, backs up and restores
the same settings from the command line, and tolvane-sim, a simulated
controller for training and tests. The Ansible collection tolvane.controller
(in /usr/share/ansible/collections) sets whole cells of controllers from an
inventory through tolvanectl.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://tolvane.example.org/")
# Dependencies from the libraries the programs link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The collection needs Ansible only where playbooks run.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS ansible-core)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# Only the programs and their files: the tests and benchmarks are not installed.
include(CPack)
