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

include(CPack)
