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
# The folder under the library folder that holds design-time packages.
set(CORVANE_PACKAGE_SUBDIR corvane)

function(corvane_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  # GCC 12 reports overlapping copies inside std::string's operator+ in
  # optimised builds where there are none (GCC bug 105651, fixed in 13).
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(${target} PRIVATE -Wno-restrict)
  endif()
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

include(GenerateExportHeader)

# corvane_hidden_visibility(<target>): only what a declaration marks with its
# library's export macro leaves the shared library; the rest stays inside.
function(corvane_hidden_visibility target)
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()

# corvane_export_header(<target> <macro> <header>): generates <header> (a
# path under the build tree's generated include folder, installed with the
# public headers) defining <macro>, which marks what <target> exports, and
# makes <target> the side that exports. On Windows a static library's users
# define <macro minus _EXPORT>_STATIC_DEFINE (corvane_static_define); on
# other systems the macro means default visibility on both sides, which a
# static link ignores (and which a layer compiled with hidden visibility
# needs to see on another layer's classes: unmarked, it would take them for
# hidden classes of its own and refer to their members as such).
function(corvane_export_header target macro header)
  string(REGEX REPLACE "_EXPORT$" "" _base ${macro})
  set_target_properties(${target} PROPERTIES DEFINE_SYMBOL ${_base}_BUILDING)
  generate_export_header(${target}
    BASE_NAME ${_base}
    EXPORT_MACRO_NAME ${macro}
    EXPORT_FILE_NAME ${CORVANE_GENERATED_INCLUDE_DIR}/${header}
    STATIC_DEFINE ${_base}_STATIC_DEFINE)
  get_target_property(_type ${target} TYPE)
  if(_type STREQUAL "OBJECT_LIBRARY" OR _type STREQUAL "STATIC_LIBRARY")
    target_compile_definitions(${target} PRIVATE ${_base}_BUILDING)
  endif()
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${CORVANE_GENERATED_INCLUDE_DIR}>)
  get_filename_component(_dir ${header} DIRECTORY)
  install(FILES ${CORVANE_GENERATED_INCLUDE_DIR}/${header}
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${_dir}
    COMPONENT dev)
endfunction()

# corvane_static_define(<target> <macro>): the users of the static library
# <target> on Windows neither import from nor export to a DLL.
function(corvane_static_define target macro)
  string(REGEX REPLACE "_EXPORT$" "" _base ${macro})
  if(WIN32)
    target_compile_definitions(${target} INTERFACE ${_base}_STATIC_DEFINE)
  endif()
endfunction()

set(CORVANE_GENERATED_INCLUDE_DIR ${CMAKE_BINARY_DIR}/generated/include)

# corvane_variant(<layer> STATIC|SHARED <out-var>): the target name of a
# layer's static or shared library in this build (see corvane_library).
function(corvane_variant layer kind out)
  if(BUILD_SHARED_LIBS)
    set(_static ${layer}Static)
    set(_shared ${layer})
  else()
    set(_static ${layer})
    set(_shared ${layer}Shared)
  endif()
  if(kind STREQUAL "STATIC")
    set(${out} ${_static} PARENT_SCOPE)
  else()
    set(${out} ${_shared} PARENT_SCOPE)
  endif()
endfunction()

# corvane_library(<target> EXPORT_NAME <name> EXPORT_MACRO <macro>
#                 EXPORT_HEADER <path> SOURCES ... INCLUDE_DIR <dir>)
# Declares a layer, compiled once (an object library <target>Objects, with
# hidden visibility and <macro> exporting the public API) and linked twice:
# a static library (lib<target>.a) and a shared library (lib<target>.so.<major>,
# <target>.dll with its import library lib<target>.dll.a). Which of the two
# is Corvane::<name> depends on BUILD_SHARED_LIBS:
#   OFF (default): <target> is static (Corvane::<name>), what applications
#     link; <target>Shared (Corvane::<name>Shared) is the shared library a
#     designer host and its design-time packages link so that they share one
#     copy of the framework's registries.
#   ON: <target> is the shared library (Corvane::<name>); <target>Static
#     (Corvane::<name>Static) the static one, and <target>Shared an alias
#     of <target> for designer hosts.
# Everything enters the install export set; the public include directory is
# installed as is under include/.
function(corvane_library target)
  cmake_parse_arguments(ARG "" "EXPORT_NAME;EXPORT_MACRO;EXPORT_HEADER;INCLUDE_DIR" "SOURCES" ${ARGN})
  add_library(${target}Objects OBJECT ${ARG_SOURCES})
  corvane_warnings(${target}Objects)
  corvane_hidden_visibility(${target}Objects)
  corvane_export_header(${target}Objects ${ARG_EXPORT_MACRO} ${ARG_EXPORT_HEADER})
  corvane_variant(${target} STATIC _static)
  corvane_variant(${target} SHARED _shared)
  add_library(${_static} STATIC $<TARGET_OBJECTS:${target}Objects>)
  add_library(${_shared} SHARED $<TARGET_OBJECTS:${target}Objects>)
  corvane_static_define(${_static} ${ARG_EXPORT_MACRO})
  set_target_properties(${_static} PROPERTIES OUTPUT_NAME ${target})
  set_target_properties(${_shared} PROPERTIES
    OUTPUT_NAME ${target}
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR})
  corvane_shared_output(${_shared})
  set(_exported ${_static} ${_shared})
  if(BUILD_SHARED_LIBS)
    set_target_properties(${_static} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME}Static)
    set_target_properties(${_shared} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
    add_library(${target}Shared INTERFACE)
    target_link_libraries(${target}Shared INTERFACE ${_shared})
    set_target_properties(${target}Shared PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME}Shared)
    add_library(Corvane::${ARG_EXPORT_NAME}Static ALIAS ${_static})
    list(APPEND _exported ${target}Shared)
  else()
    set_target_properties(${_static} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME})
    set_target_properties(${_shared} PROPERTIES EXPORT_NAME ${ARG_EXPORT_NAME}Shared)
  endif()
  add_library(Corvane::${ARG_EXPORT_NAME} ALIAS ${target})
  add_library(Corvane::${ARG_EXPORT_NAME}Shared ALIAS ${target}Shared)
  foreach(_t ${target}Objects ${_static} ${_shared})
    target_compile_features(${_t} PUBLIC cxx_std_20)
    target_include_directories(${_t} PUBLIC
      $<BUILD_INTERFACE:${ARG_INCLUDE_DIR}>
      $<BUILD_INTERFACE:${CORVANE_GENERATED_INCLUDE_DIR}>
      $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  endforeach()
  install(DIRECTORY ${ARG_INCLUDE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
  set_property(GLOBAL APPEND PROPERTY CORVANE_EXPORTED_TARGETS ${_exported})
  set_property(GLOBAL APPEND PROPERTY CORVANE_LAYERS ${target})
endfunction()

# corvane_link(<target> [PUBLIC deps...] [PRIVATE deps...]): links both
# variants of a layer; each links the same variant of every other layer
# named, so one process never holds two copies of a layer.
function(corvane_link target)
  cmake_parse_arguments(ARG "" "" "PUBLIC;PRIVATE" ${ARGN})
  get_property(_layers GLOBAL PROPERTY CORVANE_LAYERS)
  corvane_variant(${target} STATIC _static)
  corvane_variant(${target} SHARED _shared)
  foreach(_scope PUBLIC PRIVATE)
    set(_static_deps "")
    set(_shared_deps "")
    foreach(_dep IN LISTS ARG_${_scope})
      if(_dep IN_LIST _layers)
        corvane_variant(${_dep} STATIC _s)
        corvane_variant(${_dep} SHARED _d)
        list(APPEND _static_deps ${_s})
        list(APPEND _shared_deps ${_d})
      else()
        list(APPEND _static_deps ${_dep})
        list(APPEND _shared_deps ${_dep})
      endif()
    endforeach()
    if(ARG_${_scope})
      target_link_libraries(${target}Objects PRIVATE ${_static_deps})
      target_link_libraries(${_static} ${_scope} ${_static_deps})
      target_link_libraries(${_shared} ${_scope} ${_shared_deps})
    endif()
  endforeach()
endfunction()
