# Shared settings for every Corvane target: warnings, and the list of targets
# that the install step exports as Corvane::<name>.

set_property(GLOBAL PROPERTY CORVANE_EXPORTED_TARGETS "")

function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(CORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# corvane_library(<target> EXPORT_NAME <name> SOURCES ... INCLUDE_DIR <dir>)
# Declares a library of one layer, its alias Corvane::<name>, its public
# include directory (installed as is under include/), and enters it in the
# install export set.
function(corvane_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;INCLUDE_DIR" "SOURCES" ${ARGN})
  add_library(${target} ${ARG_SOURCES})
  add_library(Corvane::${ARG_EXPORT_NAME} ALIAS ${target})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_include_directories(${target} PUBLIC
    $<BUILD_INTERFACE:${ARG_INCLUDE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  corvane_warnings(${target})
  install(DIRECTORY ${ARG_INCLUDE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set_property(GLOBAL APPEND PROPERTY CORVANE_EXPORTED_TARGETS ${target})
endfunction()
