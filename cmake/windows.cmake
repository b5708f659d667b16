# Windows builds (MinGW-w64): the codec's file layer, output policy and paths come from
# their Windows twins, which use the system's wide (UTF-16) functions; the POSIX files stay
# in the codec's source list for other systems and are left out of the build here.
set(codec_dir ${PROJECT_SOURCE_DIR}/codec)
set_source_files_properties(${codec_dir}/file_io.cpp ${codec_dir}/output_file.cpp
                            ${codec_dir}/paths.cpp DIRECTORY ${codec_dir}
                            PROPERTIES HEADER_FILE_ONLY ON)
target_sources(kpzcodec PRIVATE ${codec_dir}/file_io_windows.cpp
                                ${codec_dir}/output_file_windows.cpp
                                ${codec_dir}/paths_windows.cpp ${codec_dir}/windows_text.cpp)
# 64-bit sizes from stat() and fstat(), in the codec and everything that includes it.
target_compile_definitions(kpzcodec PUBLIC _FILE_OFFSET_BITS=64)
# M_PI and the other constants of <cmath>, which the C runtime gives only on request; for
# the folders added after this one (tests, fuzz replays).
add_compile_definitions(_USE_MATH_DEFINES)
