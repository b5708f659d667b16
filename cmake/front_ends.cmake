# SPDX-License-Identifier: BSD-3-Clause
# kpz_front_end_includes(TARGET [ALSO folder...]): before TARGET builds, checks that the
# files of the current folder include only their own headers, the jobs layer's public ones
# and those of the folders named after ALSO (platform/, dialogs/).
function(kpz_front_end_includes target)
  cmake_parse_arguments(arg "" "" "ALSO" ${ARGN})
  file(GLOB own CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.c)
  set(allowed ${KPZ_JOBS_PUBLIC_HEADERS})
  foreach(folder IN LISTS arg_ALSO)
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    foreach(header IN LISTS headers)
      get_filename_component(name "${header}" NAME)
      list(APPEND allowed "${name}")
    endforeach()
  endforeach()
  set(script ${PROJECT_SOURCE_DIR}/cmake/check_front_ends.cmake)
  set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_includes_checked.stamp)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} "-DSOURCES=${own}" "-DOWN=${own}" "-DALLOWED=${allowed}"
            -DSTAMP=${stamp} -P ${script}
    DEPENDS ${own} ${script}
    COMMENT "Checking that ${target} includes nothing below the jobs layer" VERBATIM)
  add_custom_target(${target}_includes DEPENDS ${stamp})
  add_dependencies(${target} ${target}_includes)
endfunction()
