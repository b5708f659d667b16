# SPDX-License-Identifier: BSD-3-Clause
# Fails when a file of the format layer includes anything but the C++ standard library's
# own headers (<cstring>, <vector>: no ".h", no folder), xxHash's header and the compiler's
# vector intrinsics. A system header there would tie the format to one system.
#   cmake -DSOURCES="a.cpp;b.h" -DSTAMP=file -P check_includes.cmake
cmake_minimum_required(VERSION 3.25)
set(allowed xxhash.h immintrin.h emmintrin.h)
set(bad "")
foreach(source IN LISTS SOURCES)
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*<")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>.*" "\\1" header "${line}")
    if(header IN_LIST allowed)
      continue()
    endif()
    if(header MATCHES "[./]")
      list(APPEND bad "${source}: <${header}>")
    endif()
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "The format layer makes no system calls; move this code to files/:\n  ${text}")
endif()
file(TOUCH "${STAMP}")
