# Installs the exported targets and a CMake package, so that a consumer can
# write find_package(Corvane REQUIRED) and link Corvane::Corvane.
include(CMakePackageConfigHelpers)

get_property(_corvane_targets GLOBAL PROPERTY CORVANE_EXPORTED_TARGETS)
install(TARGETS ${_corvane_targets}
  EXPORT CorvaneTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(EXPORT CorvaneTargets
  NAMESPACE Corvane::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/CorvaneConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/CorvaneConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
