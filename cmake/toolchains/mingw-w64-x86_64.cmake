# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (POSIX thread
# model, so std::thread and std::mutex work). Use:
#   cmake -S . -B build/windows-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
# The executables it makes run under Wine.
set(CORVANE_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
