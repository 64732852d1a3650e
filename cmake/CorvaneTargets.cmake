# Shared settings for every Corvane target: warnings, the two variants of
# each layer, and the list of targets that the install step exports as
# Corvane::<name>.

set_property(GLOBAL PROPERTY CORVANE_EXPORTED_TARGETS "")

# Where the build tree puts shared libraries, design-time packages and the
# tool: the same relative places as an installation (bin/ and lib/), so that
# a host finds the package beside its libraries in both.
set(CORVANE_BUILD_BINDIR ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_BINDIR})
set(CORVANE_BUILD_LIBDIR ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR})
# An installed shared library finds the others beside it; an installed
# program finds them in the library folder.
file(RELATIVE_PATH CORVANE_BIN_TO_LIB ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}
     ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})

function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(CORVANE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# corvane_shared_output(<target>): a shared library or module put where the
# build tree and the installation keep them (DLLs beside the programs).
function(corvane_shared_output target)
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${CORVANE_BUILD_LIBDIR}
    RUNTIME_OUTPUT_DIRECTORY ${CORVANE_BUILD_BINDIR}
    ARCHIVE_OUTPUT_DIRECTORY ${CORVANE_BUILD_LIBDIR}
    INSTALL_RPATH "$ORIGIN")
  # Each DLL carries its own static C and C++ runtime; none exports it (the
  # linker exports every symbol of a DLL that marks none, those of the
  # runtime's archives included, which then clash in the next DLL).
  if(MINGW)
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
  endif()
endfunction()

# corvane_library(<target> EXPORT_NAME <name> SOURCES ... INCLUDE_DIR <dir>)
# Declares a layer in two variants compiled once (an object library
# <target>Objects): the static library <target> (Corvane::<name>), what
# applications link, and the shared library <target>Shared
# (Corvane::<name>Shared, file name lib<target>.so.<major>), what a designer
# host and its design-time packages link so that they share one copy of the
# framework's registries. Both enter the install export set; the public
# include directory is installed as is under include/.
function(corvane_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;INCLUDE_DIR" "SOURCES" ${ARGN})
  add_library(${target}Objects OBJECT ${ARG_SOURCES})
  corvane_warnings(${target}Objects)
  add_library(${target} STATIC $<TARGET_OBJECTS:${target}Objects>)
  add_library(${target}Shared SHARED $<TARGET_OBJECTS:${target}Objects>)
  add_library(Corvane::${ARG_EXPORT_NAME} ALIAS ${target})
  add_library(Corvane::${ARG_EXPORT_NAME}Shared ALIAS ${target}Shared)
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
  set_target_properties(${target}Shared PROPERTIES
    EXPORT_NAME ${ARG_EXPORT_NAME}Shared
    OUTPUT_NAME ${target}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  corvane_shared_output(${target}Shared)
  foreach(_t ${target}Objects ${target} ${target}Shared)
    target_compile_features(${_t} PUBLIC cxx_std_20)
    target_include_directories(${_t} PUBLIC
      $<BUILD_INTERFACE:${ARG_INCLUDE_DIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  endforeach()
  install(DIRECTORY ${ARG_INCLUDE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  set_property(GLOBAL APPEND PROPERTY CORVANE_EXPORTED_TARGETS ${target} ${target}Shared)
  set_property(GLOBAL APPEND PROPERTY CORVANE_LAYERS ${target})
endfunction()

# corvane_link(<target> [PUBLIC deps...] [PRIVATE deps...]): links both
# variants of a layer; the shared variant links the shared variant of every
# other layer named, so one process never holds two copies of a layer.
function(corvane_link target)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  get_property(_layers GLOBAL PROPERTY CORVANE_LAYERS)
  foreach(_scope PUBLIC PRIVATE)
    set(_shared_deps "")
    foreach(_dep IN LISTS ARG_${_scope})
      if(_dep IN_LIST _layers)
        list(APPEND _shared_deps ${_dep}Shared)
      else()
        list(APPEND _shared_deps ${_dep})
      endif()
    endforeach()
    if(ARG_${_scope})
      target_link_libraries(${target}Objects PRIVATE ${ARG_${_scope}})
      target_link_libraries(${target} ${_scope} ${ARG_${_scope}})
      target_link_libraries(${target}Shared ${_scope} ${_shared_deps})
    endif()
  endforeach()
endfunction()
