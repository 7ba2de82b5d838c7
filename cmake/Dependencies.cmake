# SPDX-License-Identifier: MIT
# Optional parts and what each one needs. A dependency is looked for only when
# its part is built; a missing one stops the configuration with one line that
# names the Debian package and the option that leaves the part out.
function(ecrlink_need part option package hint)
  find_package(${package} ${ARGN} QUIET)
  if(NOT ${package}_FOUND)
    message(FATAL_ERROR "ecrlink: ${part} need ${package} (Debian: ${hint}); install it or configure with -D${option}=OFF")
  endif()
endfunction()

if(ECRLINK_BUILD_TOOLS)
  ecrlink_need("the tools" ECRLINK_BUILD_TOOLS CLI11 libcli11-dev CONFIG)
endif()
if(ECRLINK_BUILD_TOOLS AND ECRLINK_BUILD_SERVE)
  # Boost.Beast, Asio and System are header-only: their headers are all the service needs, and
  # a cross compiler reads them from /usr/include as they are, where no CMake package of
  # Boost for the target is installed.
  find_path(ECRLINK_BOOST_INCLUDE boost/beast/version.hpp)
  set(_ecrlink_boost 0)
  if(ECRLINK_BOOST_INCLUDE)
    file(STRINGS ${ECRLINK_BOOST_INCLUDE}/boost/version.hpp _ecrlink_boost REGEX "^#define BOOST_VERSION [0-9]+")
    string(REGEX MATCH "[0-9]+$" _ecrlink_boost "${_ecrlink_boost}")
  endif()
  if(_ecrlink_boost LESS 107400)
    message(FATAL_ERROR "ecrlink: ecrlink serve and its tests need Boost.Beast 1.74 or later (Debian: libboost-dev); install it or configure with -DECRLINK_BUILD_SERVE=OFF")
  endif()
  ecrlink_need("ecrlink serve and its tests" ECRLINK_BUILD_SERVE nlohmann_json nlohmann-json3-dev 3.9 CONFIG)
endif()
# GoogleTest built from its source with the project's own compiler and standard library, where the
# installed one does not fit: another processor, or libc++ instead of libstdc++.
set(ECRLINK_GTEST_SOURCE "" CACHE PATH "GoogleTest's source folder to build the tests' GoogleTest from (Debian: /usr/src/googletest)")
if(ECRLINK_BUILD_TESTS AND ECRLINK_GTEST_SOURCE)
  if(NOT EXISTS ${ECRLINK_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "ecrlink: the tests need GoogleTest's source in ${ECRLINK_GTEST_SOURCE} (Debian: googletest); install it or configure with -DECRLINK_BUILD_TESTS=OFF")
  endif()
elseif(ECRLINK_BUILD_TESTS)
  ecrlink_need("the tests" ECRLINK_BUILD_TESTS GTest "libgtest-dev libgmock-dev")
endif()
if(ECRLINK_BUILD_BENCH)
  ecrlink_need("the benchmarks" ECRLINK_BUILD_BENCH benchmark libbenchmark-dev)
endif()
if(ECRLINK_BUILD_FUZZ)
  ecrlink_need("the fuzzers" ECRLINK_BUILD_FUZZ nlohmann_json nlohmann-json3-dev 3.9 CONFIG)
endif()
if(ECRLINK_BUILD_FUZZ AND NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "ecrlink: the fuzzers need clang++ with libFuzzer (Debian: clang libclang-rt-N-dev); use the fuzz preset or configure with -DECRLINK_BUILD_FUZZ=OFF")
endif()
