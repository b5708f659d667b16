# SPDX-License-Identifier: BSD-3-Clause
# Cross build for 64-bit Windows with Debian's MinGW-w64 compilers (g++-mingw-w64-x86-64).
# The posix flavour of the compilers gives std::thread and std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Libraries and packages only from the target's tree, and from prefixes given with
# -DCMAKE_FIND_ROOT_PATH (such as a GoogleTest built for Windows); programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# AVX2 code spills 32-byte vectors to a stack that Windows aligns to 16 bytes only: the
# assembler turns aligned vector moves into unaligned ones.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# Programs, and libkpz.dll, that run without MinGW's DLLs beside them (the window program
# still needs them for Qt's DLLs).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")

# Test programs run through Wine when there is one (test discovery and ctest), quietly and
# in a Wine prefix of the build's own unless WINEPREFIX names one.
find_program(BRISKO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(BRISKO_WINE)
  if(DEFINED ENV{WINEPREFIX})
    set(wine_prefix $ENV{WINEPREFIX})
  else()
    set(wine_prefix ${CMAKE_BINARY_DIR}/wineprefix)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all WINEPREFIX=${wine_prefix} ${BRISKO_WINE})
endif()
