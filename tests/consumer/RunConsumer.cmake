# cmake -P script: install BUILD_DIR into WORK_DIR/prefix, then configure,
# build and run the consumer project against that prefix.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run_step)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "step failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run_step(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
# A cross build (TOOLCHAIN_FILE) builds the consumer the same way and runs
# it through the build's emulator (Wine for Windows).
set(_toolchain)
if(TOOLCHAIN_FILE)
  set(_toolchain "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE}")
endif()
run_step(${CMAKE_COMMAND} -S ${PROJECT_DIR} -B ${WORK_DIR}/build -G ${GENERATOR}
  -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" ${_toolchain})
run_step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run_step(${EMULATOR} ${WORK_DIR}/build/consumer${EXE_SUFFIX})
# On Windows the DLLs go beside the program that loads them.
if(TOOLCHAIN_FILE)
  file(GLOB _dlls ${WORK_DIR}/prefix/bin/*.dll)
  file(COPY ${_dlls} DESTINATION ${WORK_DIR}/build)
endif()
run_step(${EMULATOR} ${WORK_DIR}/build/consumer_shared${EXE_SUFFIX})
if(NOT TOOLCHAIN_FILE)
  run_step(${EMULATOR} ${WORK_DIR}/build/design_host${EXE_SUFFIX})
  run_step(${WORK_DIR}/build/forms_only)
  # The same program built with what pkg-config says (the shared libraries).
  set(ENV{PKG_CONFIG_PATH} ${WORK_DIR}/prefix/${LIBDIR}/pkgconfig)
  execute_process(COMMAND pkg-config --cflags --libs corvane
    OUTPUT_VARIABLE _pc_flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config --cflags --libs corvane failed (${rc})")
  endif()
  separate_arguments(_pc_flags UNIX_COMMAND "${_pc_flags}")
  separate_arguments(_cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
  run_step(${CXX_COMPILER} -std=c++20 ${_cxx_flags} ${PROJECT_DIR}/main.cpp ${_pc_flags}
    -Wl,-rpath,${WORK_DIR}/prefix/${LIBDIR} -o ${WORK_DIR}/consumer-pkg-config)
  run_step(${WORK_DIR}/consumer-pkg-config)
endif()
message(STATUS "consumer project built and ran against the installed copy")
