# GoogleTest and GoogleMock for a cross build: the target system has no
# installed copy, so Debian's source package (/usr/src/googletest, package
# googletest) is built with the cross compiler as part of this build. Gives the
# same targets find_package(GTest) does: GTest::gtest, GTest::gtest_main,
# GTest::gmock, GTest::gmock_main.
include_guard(GLOBAL)

set(CORVANE_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH
  "GoogleTest sources to build when cross-compiling")
if(NOT EXISTS ${CORVANE_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "No GoogleTest sources at ${CORVANE_GOOGLETEST_SOURCE_DIR} "
                      "(install Debian's googletest package)")
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
# GoogleTest is not our code: no -Werror, no sanitizer flags of ours reach it
# beyond the directory-wide ones, and its warnings stay its own.
add_subdirectory(${CORVANE_GOOGLETEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_googletest EXCLUDE_FROM_ALL SYSTEM)
