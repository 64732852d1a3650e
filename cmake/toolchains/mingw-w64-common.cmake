# What both mingw-w64 toolchains share; CORVANE_MINGW_TRIPLE names the target
# (x86_64-w64-mingw32 or i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
if(CORVANE_MINGW_TRIPLE MATCHES "^x86_64")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

# The -posix compilers: the win32 thread model has no std::thread.
find_program(CMAKE_C_COMPILER NAMES ${CORVANE_MINGW_TRIPLE}-gcc-posix ${CORVANE_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${CORVANE_MINGW_TRIPLE}-g++-posix ${CORVANE_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${CORVANE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Packages: the target root and the prefixes given (an installed Corvane).
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# The C and C++ runtimes and winpthread linked in statically, so an .exe runs
# under Wine (or on a bare Windows) without extra DLLs beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# DLLs too (the shared variants and the design-time package), winpthread
# included, so they need nothing beside them but each other.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test executables run through Wine when CTest starts them (and when
# gtest_discover_tests lists their cases).
find_program(CORVANE_WINE NAMES wine)
if(CORVANE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANE_WINE})
endif()
