# The private system bus with a mock network manager (tests/servers/nmbus.py)
# as a CTest fixture named `nm_bus`.
#
# Tests that need it call, after defining their tests:
#
#   include(${PROJECT_SOURCE_DIR}/tests/integration/servers/NmBus.cmake)
#   corvane_use_nm_bus(<gtest executable target or test name>...)
#
# Each such test runs with DBUS_SYSTEM_BUS_ADDRESS aimed at that bus, which
# sd_bus_open_system, and so the backend's dial-up, follows. The socket lies
# in the build tree; a unix socket path is limited to 107 bytes.

find_package(Python3 COMPONENTS Interpreter REQUIRED)

include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/ServerFixtures.cmake)

set(CORVANE_NM_BUS_DIR "${CMAKE_BINARY_DIR}/test-nm-bus" CACHE INTERNAL
  "Run directory of the private system bus started by the nm_bus fixture")
set(CORVANE_NM_BUS_SCRIPT "${PROJECT_SOURCE_DIR}/tests/servers/nmbus.py" CACHE INTERNAL
  "Start/stop script of the private system bus")

# corvane_use_nm_bus(<target-or-test>...): see above.
function(corvane_use_nm_bus)
  foreach(_item IN LISTS ARGN)
    corvane_join_server_fixture(${_item} nm_bus
      "DBUS_SYSTEM_BUS_ADDRESS=unix:path=${CORVANE_NM_BUS_DIR}/system_bus_socket")
  endforeach()
endfunction()
