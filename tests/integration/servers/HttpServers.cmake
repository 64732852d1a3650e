# The local HTTP test servers (nginx and tests/servers/httpd.py) as a CTest
# fixture named `http_servers`.
#
# Tests that need them call, after defining their tests:
#
#   include(${PROJECT_SOURCE_DIR}/tests/integration/servers/HttpServers.cmake)
#   corvane_use_http_servers(<gtest executable target or test name>...)
#
# For a GoogleTest executable target (as made by corvane_test) every case
# discovered from it gets the fixture; for a plain test name, that test does.
# Each such test runs with:
#   CORVANE_SERVERS_DIR   the run directory; servers.env and servers.json in it
#                         give the ports and URLs (see tests/servers/README.md)
#   CORVANE_TEST_CA_FILE, SSL_CERT_FILE, CURL_CA_BUNDLE
#                         the scratch CA that signed the servers' certificates
# and a target gets tests/servers on its include path for TestServers.h
# (with ClosedPort.cpp among its sources).

# Python3_EXECUTABLE is a directory-scope variable: every including directory
# needs it, so this stands before the guard.
find_package(Python3 COMPONENTS Interpreter REQUIRED)

include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/ServerFixtures.cmake)

set(CORVANE_HTTP_SERVERS_DIR "${CMAKE_BINARY_DIR}/test-servers" CACHE INTERNAL
  "Run directory of the HTTP test servers started by the http_servers fixture")
set(CORVANE_HTTP_SERVERS_ENV "${CORVANE_HTTP_SERVERS_DIR}/servers.env" CACHE INTERNAL
  "Shell export lines describing the running HTTP test servers")
set(CORVANE_HTTP_SERVERS_JSON "${CORVANE_HTTP_SERVERS_DIR}/servers.json" CACHE INTERNAL
  "JSON description of the running HTTP test servers")
set(CORVANE_HTTP_SERVERS_SCRIPT "${PROJECT_SOURCE_DIR}/tests/servers/servers.py" CACHE INTERNAL
  "Start/stop script of the HTTP test servers")
set(CORVANE_HTTP_SERVERS_CA_FILE "${CORVANE_HTTP_SERVERS_DIR}/pki/ca.pem" CACHE INTERNAL
  "Certificate authority of the HTTP test servers")

# corvane_use_http_servers(<target-or-test>...): see above.
function(corvane_use_http_servers)
  set(_env
    "CORVANE_SERVERS_DIR=${CORVANE_HTTP_SERVERS_DIR}"
    "CORVANE_TEST_CA_FILE=${CORVANE_HTTP_SERVERS_CA_FILE}"
    "SSL_CERT_FILE=${CORVANE_HTTP_SERVERS_CA_FILE}"
    "CURL_CA_BUNDLE=${CORVANE_HTTP_SERVERS_CA_FILE}")
  foreach(_item IN LISTS ARGN)
    if(TARGET ${_item})
      # The cases of a GoogleTest executable are only known when CTest runs
      # (discovery before the run), so the properties go into a script that
      # CTest includes after the discovered list, which is ${_item}_TESTS.
      target_include_directories(${_item} PRIVATE "${PROJECT_SOURCE_DIR}/tests/servers")
      target_sources(${_item} PRIVATE "${PROJECT_SOURCE_DIR}/tests/servers/ClosedPort.cpp")
      if(WIN32)
        target_link_libraries(${_item} PRIVATE ws2_32)
      endif()
    endif()
    corvane_join_server_fixture(${_item} http_servers ${_env})
  endforeach()
endfunction()
