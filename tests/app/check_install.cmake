# Installs the build into a scratch prefix and checks the layout: the program beside its
# help file with a link in bin/, the command-line tool, and the desktop integration files.
# Run with -DBUILD_DIR=... -DPREFIX=...
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(expected
  bin/kpz
  libexec/brisko-packer/brisko-packer
  "libexec/brisko-packer/Brisko Packer Help.rtf"
  share/applications/brisko-packer.desktop
  share/mime/packages/brisko-packer.xml
  share/metainfo/brisko-packer.metainfo.xml
  share/icons/hicolor/scalable/apps/brisko-packer.svg
  share/icons/hicolor/48x48/apps/brisko-packer.png)
foreach(file IN LISTS expected)
  if(NOT EXISTS "${PREFIX}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# bin/brisko-packer is a relative link, so the prefix can move, to the real program.
if(NOT IS_SYMLINK "${PREFIX}/bin/brisko-packer")
  message(FATAL_ERROR "bin/brisko-packer is not a link")
endif()
file(READ_SYMLINK "${PREFIX}/bin/brisko-packer" target)
if(NOT target STREQUAL "../libexec/brisko-packer/brisko-packer")
  message(FATAL_ERROR "bin/brisko-packer points at ${target}")
endif()
file(REAL_PATH "${PREFIX}/bin/brisko-packer" real)
file(REAL_PATH "${PREFIX}/libexec/brisko-packer/brisko-packer" program)
if(NOT real STREQUAL program)
  message(FATAL_ERROR "bin/brisko-packer resolves to ${real}")
endif()

file(STRINGS "${PREFIX}/share/applications/brisko-packer.desktop" lines)
foreach(want "Exec=brisko-packer %f" "MimeType=application/x-brisko-packer;"
             "Icon=brisko-packer" "Name=Brisko Packer")
  if(NOT want IN_LIST lines)
    message(FATAL_ERROR "desktop entry lacks ${want}")
  endif()
endforeach()
file(READ "${PREFIX}/share/mime/packages/brisko-packer.xml" mime)
if(NOT mime MATCHES "<glob pattern=\"\\*\\.kpz\"/>" OR NOT mime MATCHES "Brisko Packer File")
  message(FATAL_ERROR "MIME package does not describe *.kpz")
endif()
file(REMOVE_RECURSE "${PREFIX}")
