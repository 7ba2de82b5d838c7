# SPDX-License-Identifier: MIT
# Debian packages from the install components: `./build.sh package`, or
# `cpack --config build/tool/CPackConfig.cmake` after building the tool preset.
set(CPACK_PACKAGE_NAME ecrlink)
set(CPACK_PACKAGE_VENDOR "ecrlink")
set(CPACK_PACKAGE_CONTACT "ecrlink maintainers <maintainers@ecrlink.invalid>")
# Each package takes its summary from the first line of its description.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_COMPONENTS_ALL lib dev tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's own libraries are found in the build tree; libecrlink1's
# dependency is added from the component dependencies below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# A shlibs file, so that packages built against libecrlink1 depend on it.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_LIB_PACKAGE_NAME libecrlink${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIB_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_LIB_DESCRIPTION "cash register to payment terminal link - libraries
libecrlink (message model, link protocol, the register's dialogue) and
libecrcomm (serial and TCP channels).")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libecrlink-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS lib)
set(CPACK_DEBIAN_DEV_DESCRIPTION "cash register to payment terminal link - development files
Headers, the CMake package (find_package(ecrlink)) and the pkg-config
modules ecrlink and ecrcomm.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME ecrlink-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DEPENDS lib)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "cash register to payment terminal link - the ecrlink program
A simulated terminal, the register side, a frame decoder and a demo; and
ecrlink serve, which offers one terminal to the registers of the machine
over HTTP and WebSocket on loopback, with its systemd unit.")

# Built for another processor, the packages are that processor's Debian architecture.
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpmachine OUTPUT_VARIABLE _ecrlink_triplet OUTPUT_STRIP_TRAILING_WHITESPACE)
  execute_process(COMMAND dpkg-architecture -qDEB_HOST_ARCH -t ${_ecrlink_triplet}
    OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()

# /usr/share/doc/<package>/copyright in each package: machine-readable (DEP-5), the licence's text from LICENSE,
# each line indented by one space and an empty line written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE _ecrlink_license)
if(NOT _ecrlink_license MATCHES "Copyright \\(c\\) ([^\n]+)\n\n(.+)")
  message(FATAL_ERROR "ecrlink: LICENSE has no line 'Copyright (c) ...' followed by the licence's text")
endif()
set(_ecrlink_holder "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" _ecrlink_text)
string(REPLACE "\n\n" "\n.\n" _ecrlink_text "${_ecrlink_text}")
string(REPLACE "\n" "\n " _ecrlink_text "${_ecrlink_text}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: ecrlink

Files: *
Copyright: ${_ecrlink_holder}
License: Expat
Comment: The MIT License, under the name the format gives its text.

License: Expat
 ${_ecrlink_text}
")
foreach(_ecrlink_component lib dev tools)
  string(TOUPPER ${_ecrlink_component} _ecrlink_upper)
  if(_ecrlink_component STREQUAL "tools" AND NOT TARGET ecrlink_tool)
    continue()
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${CPACK_DEBIAN_${_ecrlink_upper}_PACKAGE_NAME} COMPONENT ${_ecrlink_component})
endforeach()

include(CPack)
