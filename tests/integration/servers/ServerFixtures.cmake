# corvane_join_server_fixture(<target-or-test> <fixture> <VAR=value>...):
# makes a test, or every discovered case of a GoogleTest executable target,
# require a servers fixture and run with the given environment. A target may
# join several fixtures (http_servers and ftp_servers): its cases are only
# known when CTest runs, where properties can be set but not appended to, so
# one script per target sets everything the target joined so far.

include_guard(GLOBAL)

function(corvane_join_server_fixture item fixture)
  if(NOT TARGET ${item})
    set_property(TEST ${item} APPEND PROPERTY FIXTURES_REQUIRED ${fixture})
    set_property(TEST ${item} APPEND PROPERTY ENVIRONMENT ${ARGN})
    return()
  endif()
  set_property(TARGET ${item} APPEND PROPERTY CORVANE_SERVER_FIXTURES ${fixture})
  set_property(TARGET ${item} APPEND PROPERTY CORVANE_SERVER_ENVIRONMENT ${ARGN})
  get_property(_fixtures TARGET ${item} PROPERTY CORVANE_SERVER_FIXTURES)
  get_property(_env TARGET ${item} PROPERTY CORVANE_SERVER_ENVIRONMENT)
  # What every case of the program runs with (see corvane_test).
  get_property(_base TARGET ${item} PROPERTY CORVANE_TEST_ENVIRONMENT)
  list(PREPEND _env ${_base})
  get_property(_dir TARGET ${item} PROPERTY BINARY_DIR)
  set(_script "${_dir}/${item}_servers.cmake")
  file(WRITE "${_script}"
    "if(DEFINED ${item}_TESTS)\n"
    "  set_tests_properties(\${${item}_TESTS} PROPERTIES\n"
    "    FIXTURES_REQUIRED \"${_fixtures}\"\n"
    "    ENVIRONMENT \"${_env}\")\n"
    "endif()\n")
  list(LENGTH _fixtures _count)
  if(_count EQUAL 1)
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${_script}")
  endif()
endfunction()
