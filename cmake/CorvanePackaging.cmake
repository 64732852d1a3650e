# Debian packages of an installation (./run package; docs/PACKAGING.md),
# made with CPack's DEB generator from the install components of
# cmake/CorvaneInstall.cmake, one package per component:
#   libcorvane0     runtime  the shared libraries
#   libcorvane-dev  dev      headers, static libraries, CMake and pkg-config files
#   corvane         tool     the corvane program
#   corvane-design  design   the design-time package (CorvaneP)
# dpkg-shlibdeps computes what the binaries need (libcurl, SQLite, libpsl, ...);
# the development package names the -dev packages the static libraries and
# the CMake package need.
set(CORVANE_PACKAGE_MAINTAINER "Corvane maintainers <maintainers@corvane.example.org>"
  CACHE STRING "The Maintainer of the Debian packages")
set(CORVANE_PACKAGE_RELEASE 1 CACHE STRING "The Debian revision of the packages")

set(_deb_version ${PROJECT_VERSION}-${CORVANE_PACKAGE_RELEASE})
set(_packages libcorvane0 libcorvane-dev corvane corvane-design)
set(_components runtime dev tool design)

# Every package carries the copyright file and a changelog in its doc folder.
# The changelog's date is that of the last commit, so that two builds of one
# tree make the same packages.
execute_process(COMMAND git -C ${PROJECT_SOURCE_DIR} log -1 --format=%cD
  OUTPUT_VARIABLE _date OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE _git)
if(NOT _git EQUAL 0 OR _date STREQUAL "")
  string(TIMESTAMP _date "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
set(_changelog_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging)
file(WRITE ${_changelog_dir}/changelog.Debian
  "corvane (${_deb_version}) unstable; urgency=medium\n\n"
  "  * Built from the source tree.\n\n"
  " -- ${CORVANE_PACKAGE_MAINTAINER}  ${_date}\n")
find_program(GZIP_EXECUTABLE gzip)
if(GZIP_EXECUTABLE)
  execute_process(COMMAND ${GZIP_EXECUTABLE} -9nf ${_changelog_dir}/changelog.Debian)
  foreach(_package _component IN ZIP_LISTS _packages _components)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${_changelog_dir}/changelog.Debian.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${_package} COMPONENT ${_component})
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${CORVANE_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_COMPONENTS_ALL ${_components})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${CORVANE_PACKAGE_RELEASE})
set(CPACK_DEBIAN_PACKAGE_SOURCE corvane)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcorvane0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shared libraries are in the linker's folder: dpkg's ldconfig trigger
# updates its cache (CPack's maintainer scripts call ldconfig as well).
file(WRITE ${_changelog_dir}/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${_changelog_dir}/triggers)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "Internet components for C++ applications - shared libraries
Corvane gives applications the Windows Internet API (WinINet) as
components: sessions, HTTP and FTP connections, URLs and cookies, on an
implementation of that API of its own built on libcurl.

This package holds the shared libraries: the framework, the platform
layer, the runtime unit and the designer registry.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcorvane-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
# The static libraries need these; the CMake package looks them up with
# pkg-config.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS
  "libcurl4-openssl-dev, libssl-dev, libsqlite3-dev, libpsl-dev, libsystemd-dev, pkg-config | pkgconf")
set(CPACK_COMPONENT_DEV_DESCRIPTION "Internet components for C++ applications - development files
Corvane gives applications the Windows Internet API (WinINet) as
components: sessions, HTTP and FTP connections, URLs and cookies.

This package holds the headers, the static libraries, the CMake package
(find_package(Corvane)) and the pkg-config files (corvane.pc and one per
layer).")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME corvane)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION net)
# `corvane design` loads the design-time package.
set(CPACK_DEBIAN_TOOL_PACKAGE_SUGGESTS corvane-design)
set(CPACK_COMPONENT_TOOL_DEPENDS runtime)
set(CPACK_COMPONENT_TOOL_DESCRIPTION "command-line client of the Corvane Internet components
The corvane program makes HTTP requests, FTP transfers, URL and
date conversions and reads form files through Corvane's components. It
also loads the design-time package as a designer host does.")

set(CPACK_DEBIAN_DESIGN_PACKAGE_NAME corvane-design)
set(CPACK_DEBIAN_DESIGN_PACKAGE_SECTION devel)
set(CPACK_COMPONENT_DESIGN_DEPENDS runtime)
set(CPACK_COMPONENT_DESIGN_DESCRIPTION "design-time package of the Corvane Internet components
The package (libCorvaneP.so) a form designer loads to put Corvane's
components on its palette, with their bitmaps and the port editor.")

include(CPack)
