# Installs the exported targets, a CMake package and pkg-config files, so
# that a consumer can write find_package(Corvane REQUIRED) and link
# Corvane::Corvane, or ask `pkg-config --cflags --libs corvane`.
#
# What goes where is split into install components, which the Debian
# packages follow (cmake/CorvanePackaging.cmake):
#   runtime  the shared libraries (lib<layer>.so.<major>, the DLLs)
#   dev      headers, static libraries, the shared libraries' link names,
#            the CMake package and the pkg-config files
#   tool     the corvane program
#   design   the design-time package (CorvaneP) and its CMake targets
include(CMakePackageConfigHelpers)

set(CORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)

get_property(_corvane_targets GLOBAL PROPERTY CORVANE_EXPORTED_TARGETS)
install(TARGETS ${_corvane_targets}
  EXPORT CorvaneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(EXPORT CorvaneTargets
  NAMESPACE Corvane::
  DESTINATION ${CORVANE_CMAKE_DIR}
  COMPONENT dev)
install(EXPORT CorvaneDesignTimeTargets
  NAMESPACE Corvane::
  DESTINATION ${CORVANE_CMAKE_DIR}
  COMPONENT design)

# Which library Corvane::Corvane is (see corvane_library), for the package's
# dependency lookups.
if(BUILD_SHARED_LIBS)
  set(CORVANE_SHARED_LIBS ON)
else()
  set(CORVANE_SHARED_LIBS OFF)
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CorvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake
  INSTALL_DESTINATION ${CORVANE_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
  DESTINATION ${CORVANE_CMAKE_DIR}
  COMPONENT dev)

# pkg-config: one file per layer, and corvane.pc for the runtime unit (what
# an application names). A plain link takes the shared libraries;
# `pkg-config --static` adds what the static libraries need besides.
# The files find their prefix from where they are (${pcfiledir}), so an
# installation can move (a package unpacked under another root).
set(CORVANE_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH _pc_to_prefix /prefix/${CORVANE_PKGCONFIG_DIR} /prefix)
string(REGEX REPLACE "/$" "" _pc_to_prefix "${_pc_to_prefix}")

# corvane_pkgconfig(<file> <description> <library> [REQUIRES ...]
#                   [REQUIRES_PRIVATE ...] [LIBS_PRIVATE ...])
function(corvane_pkgconfig file description library)
  cmake_parse_arguments(ARG "" "" "REQUIRES;REQUIRES_PRIVATE;LIBS;LIBS_PRIVATE" ${ARGN})
  if(NOT ARG_LIBS)
    set(ARG_LIBS -l${library})
  endif()
  list(JOIN ARG_LIBS " " _libs)
  list(JOIN ARG_REQUIRES " " _requires)
  list(JOIN ARG_REQUIRES_PRIVATE " " _requires_private)
  list(JOIN ARG_LIBS_PRIVATE " " _libs_private)
  set(_text "prefix=\${pcfiledir}/${_pc_to_prefix}
libdir=\${prefix}/${CMAKE_INSTALL_LIBDIR}
includedir=\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}

Name: ${file}
Description: ${description}
Version: ${PROJECT_VERSION}
Requires: ${_requires}
Requires.private: ${_requires_private}
Libs: -L\${libdir} ${_libs}
Libs.private: ${_libs_private}
Cflags: -I\${includedir}
")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${file}.pc "${_text}")
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/${file}.pc
    DESTINATION ${CORVANE_PKGCONFIG_DIR} COMPONENT dev)
endfunction()

if(WIN32)
  set(_platform_requires_private "")
  set(_platform_libs_private -lwininet)
else()
  set(_platform_requires_private libcurl openssl sqlite3 libpsl libsystemd)
  set(_platform_libs_private "")
endif()
corvane_pkgconfig(corvane-framework
  "Corvane's component framework: components, properties, form files (C++20)"
  CorvaneFramework
  LIBS_PRIVATE -pthread)
corvane_pkgconfig(corvane-platform
  "Corvane's platform layer: the WinINet C API and the seam over it (C++20)"
  CorvanePlatform
  REQUIRES corvane-framework
  REQUIRES_PRIVATE ${_platform_requires_private}
  LIBS_PRIVATE ${_platform_libs_private} -pthread)
if(WIN32)
  set(_corvane_libs -lCorvane)
  set(_corvane_libs_private -Wl,-u,CorvanePublishedClasses)
else()
  set(_corvane_libs_private "")
  set(_corvane_libs -Wl,-u,CorvanePublishedClasses -Wl,--push-state,--no-as-needed -lCorvane -Wl,--pop-state)
endif()
corvane_pkgconfig(corvane
  "Corvane: the Internet components for applications (C++20)"
  Corvane
  REQUIRES corvane-platform corvane-framework
  # A static link keeps the object file that publishes the component
  # classes (-u); a shared one keeps the library among the needed ones, which
  # --as-needed would drop from a program that names nothing from it and
  # only reads form files.
  LIBS ${_corvane_libs}
  LIBS_PRIVATE ${_corvane_libs_private})
# CMAKE_DL_LIBS names the library ("dl"), empty where it is part of libc.
list(TRANSFORM CMAKE_DL_LIBS PREPEND "-l" OUTPUT_VARIABLE _design_libs_private)
corvane_pkgconfig(corvane-design
  "Corvane's designer registry and design-time package loader (C++20)"
  CorvaneDesign
  REQUIRES corvane-framework
  LIBS_PRIVATE ${_design_libs_private})
