# Cross-compiling for 32-bit Windows with Debian's mingw-w64 (POSIX thread
# model). Use:
#   cmake -S . -B build/windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
set(CORVANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
