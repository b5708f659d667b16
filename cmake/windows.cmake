# SPDX-License-Identifier: BSD-3-Clause
# Windows builds (MinGW-w64), for the folders added after this point (tests, fuzz replays).
# The layers and kpz choose their Windows twins in their own folders.

# M_PI and the other constants of <cmath>, which the C runtime gives only on request.
add_compile_definitions(_USE_MATH_DEFINES)

# xxHash is compiled in from its header (XXH_INLINE_ALL); the cross compiler does not
# search this system's /usr/include, so the one header is copied for it.
find_path(BRISKO_XXHASH_INCLUDE xxhash.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH
          NO_DEFAULT_PATH)
if(BRISKO_XXHASH_INCLUDE)
  configure_file(${BRISKO_XXHASH_INCLUDE}/xxhash.h ${CMAKE_BINARY_DIR}/xxhash/xxhash.h COPYONLY)
  target_include_directories(kpzformat PRIVATE ${CMAKE_BINARY_DIR}/xxhash)
endif()
