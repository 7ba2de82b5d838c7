# SPDX-License-Identifier: MIT
# What `cmake --install` puts where, split into the three Debian packages:
# component lib (the shared objects), dev (headers, namelinks, CMake package,
# pkg-config files) and tools (the ecrlink program and its man page).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
set(ECRLINK_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ecrlink)
set(_ecrlink_cmake_dir ${CMAKE_CURRENT_LIST_DIR})

# ecrlink_install_library(<target> <description> [REQUIRES <pkg-config module>...])
# Installs a shared library of the project with its namelink, adds it to the
# CMake package as ecrlink::<target>, writes <target>.pc and puts it under the
# ABI check (abi/check.sh).
function(ecrlink_install_library target description)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "" "REQUIRES")
  install(TARGETS ${target} EXPORT ecrlinkTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT lib NAMELINK_COMPONENT dev
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set(_pc_name ${target})
  set(_pc_description "${description}")
  list(JOIN arg_REQUIRES " " _pc_requires)
  configure_file(${_ecrlink_cmake_dir}/library.pc.in ${ecrlink_BINARY_DIR}/pkgconfig/${target}.pc @ONLY)
  install(FILES ${ecrlink_BINARY_DIR}/pkgconfig/${target}.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
  set_property(GLOBAL APPEND PROPERTY ECRLINK_LIBRARIES ${target})
endfunction()

# Called once every library and the program are defined.
function(ecrlink_install_rest)
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ecrlink
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
  install(EXPORT ecrlinkTargets NAMESPACE ecrlink::
    DESTINATION ${ECRLINK_PACKAGE_DIR} COMPONENT dev)
  configure_package_config_file(${_ecrlink_cmake_dir}/ecrlinkConfig.cmake.in
    ${PROJECT_BINARY_DIR}/ecrlinkConfig.cmake
    INSTALL_DESTINATION ${ECRLINK_PACKAGE_DIR})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/ecrlinkConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/ecrlinkConfig.cmake ${PROJECT_BINARY_DIR}/ecrlinkConfigVersion.cmake
    DESTINATION ${ECRLINK_PACKAGE_DIR} COMPONENT dev)

  # The list abi/check.sh works through: one "name path" line per library.
  get_property(libraries GLOBAL PROPERTY ECRLINK_LIBRARIES)
  set(lines "")
  foreach(library IN LISTS libraries)
    string(APPEND lines "${library} $<TARGET_FILE:${library}>\n")
  endforeach()
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/abi-libraries.txt CONTENT "${lines}")

  if(NOT TARGET ecrlink_tool)
    return()
  endif()
  install(TARGETS ecrlink_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
  # Where the built program is, for build.sh.
  file(GENERATE OUTPUT ${PROJECT_BINARY_DIR}/ecrlink-program CONTENT "$<TARGET_FILE:ecrlink_tool>")
  # The man page is the program's own --help, so it cannot drift from it. Not
  # made in sanitizer builds, which never get installed.
  find_program(ECRLINK_HELP2MAN help2man)
  if(NOT ECRLINK_SANITIZE STREQUAL "")
    return()
  elseif(NOT ECRLINK_HELP2MAN)
    message(STATUS "ecrlink: no man page: help2man not found (Debian: help2man)")
    return()
  endif()
  set(man ${PROJECT_BINARY_DIR}/man/ecrlink.1)
  set(program $<TARGET_FILE:ecrlink_tool>)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # Built for another processor, help2man runs the program through the emulator, under the program's name.
    list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " emulator)
    set(program ${PROJECT_BINARY_DIR}/emulated/ecrlink)
    file(GENERATE OUTPUT ${program} CONTENT "#!/bin/sh\nexec ${emulator} $<TARGET_FILE:ecrlink_tool> \"$@\"\n"
      FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
  add_custom_command(OUTPUT ${man}
    COMMAND ${ECRLINK_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
      "--name=talk to a card payment terminal, or play one"
      --include=${_ecrlink_cmake_dir}/ecrlink.h2m --output=${man} ${program}
    DEPENDS ecrlink_tool ${_ecrlink_cmake_dir}/ecrlink.h2m
    COMMENT "Writing the man page ecrlink.1"
    VERBATIM)
  set(pages ${man})
  if(TARGET ecrlink_serve)
    # The service's own page, from `ecrlink serve --help`.
    set(serve_man ${PROJECT_BINARY_DIR}/man/ecrlink-serve.1)
    add_custom_command(OUTPUT ${serve_man}
      COMMAND ${ECRLINK_HELP2MAN} --no-info --no-discard-stderr --version-string=${PROJECT_VERSION}
        "--help-option=serve --help" "--name=offer a card payment terminal to the registers of this machine"
        --include=${_ecrlink_cmake_dir}/ecrlink-serve.h2m --output=${serve_man} ${program}
      COMMAND sed -i -e "s/^\\.TH ECRLINK /.TH ECRLINK-SERVE /" -e "s/^ecrlink \\\\- /ecrlink-serve \\\\- /" ${serve_man}
      DEPENDS ecrlink_tool ${_ecrlink_cmake_dir}/ecrlink-serve.h2m
      COMMENT "Writing the man page ecrlink-serve.1"
      VERBATIM)
    list(APPEND pages ${serve_man})
  endif()
  add_custom_target(ecrlink_man ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT tools)
endfunction()
