# The local FTP test servers (pyftpdlib on 127.0.0.1 and ::1, vsftpd and
# tests/servers/ftpscript.py) as a CTest fixture named `ftp_servers`.
#
# Tests that need them call, after defining their tests:
#
#   include(${PROJECT_SOURCE_DIR}/tests/integration/servers/FtpServers.cmake)
#   corvane_use_ftp_servers(<gtest executable target or test name>...)
#
# For a GoogleTest executable target (as made by corvane_test) every case
# discovered from it gets the fixture; for a plain test name, that test does.
# Each such test runs with CORVANE_FTP_SERVERS_DIR, the run directory whose
# servers.env and servers.json give the ports, users and files (see
# tests/servers/README.md); TestServers::Setting reads it beside the HTTP
# servers' settings. A target gets tests/servers on its include path.

find_package(Python3 COMPONENTS Interpreter REQUIRED)

include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/ServerFixtures.cmake)

set(CORVANE_FTP_SERVERS_DIR "${CMAKE_BINARY_DIR}/test-ftp-servers" CACHE INTERNAL
  "Run directory of the FTP test servers started by the ftp_servers fixture")
set(CORVANE_FTP_SERVERS_SCRIPT "${PROJECT_SOURCE_DIR}/tests/servers/servers.py" CACHE INTERNAL
  "Start/stop script of the test servers")

# corvane_use_ftp_servers(<target-or-test>...): see above.
function(corvane_use_ftp_servers)
  set(_env "CORVANE_FTP_SERVERS_DIR=${CORVANE_FTP_SERVERS_DIR}")
  foreach(_item IN LISTS ARGN)
    if(TARGET ${_item})
      target_include_directories(${_item} PRIVATE "${PROJECT_SOURCE_DIR}/tests/servers")
      target_sources(${_item} PRIVATE "${PROJECT_SOURCE_DIR}/tests/servers/ClosedPort.cpp")
      if(WIN32)
        target_link_libraries(${_item} PRIVATE ws2_32)
      endif()
    endif()
    corvane_join_server_fixture(${_item} ftp_servers ${_env})
  endforeach()
endfunction()
