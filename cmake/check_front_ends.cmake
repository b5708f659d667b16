# SPDX-License-Identifier: BSD-3-Clause
# Fails when a front end (kpz, the window program, its dialogs, libkpz) includes a header of
# the layers below the jobs layer: a front end that builds half of a job's state itself
# (a codec record without its tables, a verdict of its own) is how good files once came
# out damaged. Allowed: the front end's own folder, the headers in ALLOWED (the jobs
# layer's public ones, and platform's or the dialogs' where the front end links them), the
# headers the build makes (ui_*.h, version.h), and <...> headers (Qt, the system).
#   cmake -DSOURCES="a.cpp;b.h" -DOWN="a.cpp;b.h" -DALLOWED="file_job.h;..." -DSTAMP=file
#         -P check_front_ends.cmake
cmake_minimum_required(VERSION 3.25)
set(own_names "")
foreach(file IN LISTS OWN)
  get_filename_component(name "${file}" NAME)
  list(APPEND own_names "${name}")
endforeach()
set(bad "")
foreach(source IN LISTS SOURCES)
  file(STRINGS "${source}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" header "${line}")
    if(header IN_LIST own_names OR header IN_LIST ALLOWED OR header MATCHES "^ui_.*\\.h$"
       OR header MATCHES "\\.moc$"
       OR header STREQUAL "version.h")
      continue()
    endif()
    list(APPEND bad "${source}: \"${header}\"")
  endforeach()
endforeach()
if(bad)
  list(JOIN bad "\n  " text)
  message(FATAL_ERROR "A front end includes only the jobs layer's public headers; ask the "
                      "jobs layer for what this needs:\n  ${text}")
endif()
file(TOUCH "${STAMP}")
