# SPDX-License-Identifier: BSD-3-Clause
# Installs the build into a scratch prefix and checks the layout: both programs in bin/,
# the help file in share/brisko-packer/, the desktop files named by the application id,
# and the library with its header, pkg-config file and CMake package.
# Run with -DBUILD_DIR=... -DPREFIX=... -DAPP_ID=...
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
  bin/kpz
  bin/brisko-packer
  "share/brisko-packer/Brisko Packer Help.rtf"
  share/applications/${APP_ID}.desktop
  share/mime/packages/${APP_ID}.xml
  share/metainfo/${APP_ID}.metainfo.xml
  share/icons/hicolor/scalable/apps/${APP_ID}.svg
  share/icons/hicolor/48x48/apps/${APP_ID}.png
  share/bash-completion/completions/kpz
  share/doc/brisko-packer/copyright
  include/kpz.h)
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
# The library's folder depends on the prefix (lib/ or lib/<multiarch>/).
foreach(name libkpz.so.1 pkgconfig/kpz.pc cmake/kpz/kpzConfig.cmake)
  get_filename_component(file ${name} NAME)
  file(GLOB_RECURSE found "${PREFIX}/lib*/${file}")
  list(FILTER found INCLUDE REGEX "/lib[^/]*(/[^/]+)?/${name}$")
  if(NOT found)
    message(FATAL_ERROR "not installed: lib/.../${name}")
  endif()
endforeach()
foreach(page kpz brisko-packer)
  if(NOT EXISTS "${PREFIX}/share/man/man1/${page}.1.gz")
    message(FATAL_ERROR "not installed: the man page ${page}(1)")
  endif()
endforeach()
if(IS_SYMLINK "${PREFIX}/bin/brisko-packer" OR EXISTS "${PREFIX}/libexec")
  message(FATAL_ERROR "the window program is still installed through libexec/")
endif()

# The installed desktop entry and MIME package name the installed icon.
file(STRINGS "${PREFIX}/share/applications/${APP_ID}.desktop" lines)
foreach(want "MimeType=application/x-brisko-packer;" "Icon=${APP_ID}" "Name=Brisko Packer")
  if(NOT want IN_LIST lines)
    message(FATAL_ERROR "desktop entry lacks ${want}")
  endif()
endforeach()
list(FILTER lines INCLUDE REGEX "^Exec=brisko-packer .*%F$")
if(NOT lines)
  message(FATAL_ERROR "desktop entry does not run brisko-packer with the file")
endif()
# The compressing entry is offered only in "Open With", for several files at once.
file(STRINGS "${PREFIX}/share/applications/${APP_ID}.compress.desktop" lines)
foreach(want "NoDisplay=true" "Icon=${APP_ID}" "Exec=brisko-packer --compress %F")
  if(NOT want IN_LIST lines)
    message(FATAL_ERROR "compressing desktop entry lacks ${want}")
  endif()
endforeach()
# KDE's context-menu actions run the same commands.
foreach(action "restore;--from-desktop" "compress;--compress")
  list(GET action 0 name)
  list(GET action 1 option)
  file(STRINGS "${PREFIX}/share/kio/servicemenus/${APP_ID}.${name}.servicemenu.desktop" lines)
  if(NOT "Exec=brisko-packer ${option} %F" IN_LIST lines)
    message(FATAL_ERROR "${name} service menu does not run brisko-packer ${option}")
  endif()
endforeach()
file(READ "${PREFIX}/share/mime/packages/${APP_ID}.xml" mime)
if(NOT mime MATCHES "<glob pattern=\"\\*\\.kpz\"/>" OR NOT mime MATCHES "Brisko Packer File"
   OR NOT mime MATCHES "<icon name=\"${APP_ID}\"/>")
  message(FATAL_ERROR "MIME package does not describe *.kpz with the program's icon")
endif()
# Nothing left unfilled from the templates.
foreach(file "share/brisko-packer/Brisko Packer Help.rtf" share/metainfo/${APP_ID}.metainfo.xml)
  file(READ "${PREFIX}/${file}" text)
  if(text MATCHES "@[A-Z_]+@")
    message(FATAL_ERROR "${file} holds an unfilled ${CMAKE_MATCH_0}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
