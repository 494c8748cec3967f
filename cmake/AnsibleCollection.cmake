# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# The Ansible collection tolvane.controller (ansible/): built with ansible-galaxy into
# ansible/tolvane-controller-VERSION.tar.gz, installed from that archive into
# ansible/collections/ of the build (the tests' ANSIBLE_COLLECTIONS_PATH), and packaged
# where Debian's Ansible looks for collections.
find_program(TOLVANE_ANSIBLE_GALAXY ansible-galaxy)
if(NOT TOLVANE_ANSIBLE_GALAXY)
  message(WARNING "ansible-galaxy not found (scripts/setup installs ansible-core): no Ansible collection")
  return()
endif()
# The Python that Ansible runs on (its programs' "#!" line), for the tests that import it.
file(STRINGS ${TOLVANE_ANSIBLE_GALAXY} _shebang LIMIT_COUNT 1)
string(REGEX REPLACE "^#! *([^ ]+).*" "\\1" TOLVANE_ANSIBLE_PYTHON "${_shebang}")
file(STRINGS ${PROJECT_SOURCE_DIR}/ansible/galaxy.yml _version REGEX "^version: ")
string(REGEX REPLACE "^version: *" "" TOLVANE_COLLECTION_VERSION "${_version}")
file(GLOB_RECURSE _sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/ansible/*)
set(_out ${CMAKE_BINARY_DIR}/ansible)
set(_tarball ${_out}/tolvane-controller-${TOLVANE_COLLECTION_VERSION}.tar.gz)
set(TOLVANE_COLLECTIONS_PATH ${_out}/collections)
set(_installed ${TOLVANE_COLLECTIONS_PATH}/ansible_collections/tolvane/controller)
add_custom_command(
  OUTPUT ${_tarball} ${_installed}/MANIFEST.json
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_installed}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_out}
  COMMAND ${TOLVANE_ANSIBLE_GALAXY} collection build --force --output-path ${_out} ${PROJECT_SOURCE_DIR}/ansible
          >${_out}/build.log
  COMMAND ${TOLVANE_ANSIBLE_GALAXY} collection install --force -p ${TOLVANE_COLLECTIONS_PATH} ${_tarball}
          >${_out}/install.log 2>&1
  DEPENDS ${_sources}
  COMMENT "Building the Ansible collection tolvane.controller")
add_custom_target(tolvane_ansible ALL DEPENDS ${_tarball} ${_installed}/MANIFEST.json)
install(DIRECTORY ${_installed}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/ansible/collections/ansible_collections/tolvane/controller
        PATTERN __pycache__ EXCLUDE)
