# SPDX-License-Identifier: BSD-3-Clause
# What a distribution ships beside the programs and the library: man pages, shell
# completion for kpz, the licence, and the Debian package made by cpack -G DEB.

# Man pages from their scdoc sources in doc/: plain text a reader can edit, turned into
# roff by a small tool, with no need to run the programs being documented.
find_program(BRISKO_SCDOC scdoc)
set(man_pages kpz)
if(BRISKO_BUILD_GUI)
  list(APPEND man_pages brisko-packer)
endif()
if(BRISKO_SCDOC)
  set(man_outputs)
  foreach(page ${man_pages})
    set(source ${PROJECT_SOURCE_DIR}/doc/${page}.1.scd)
    set(output ${PROJECT_BINARY_DIR}/doc/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
      COMMAND sh -c "\"$0\" < \"$1\" | gzip -9n > \"$2\"" ${BRISKO_SCDOC} ${source} ${output}
      DEPENDS ${source}
      COMMENT "Man page ${page}(1)"
      VERBATIM)
    list(APPEND man_outputs ${output})
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${man_outputs})
  install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
else()
  message(WARNING "scdoc not found: the man pages are neither built nor installed")
endif()

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/kpz.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kpz)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/_kpz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brisko-packer RENAME copyright)

# One Debian package with the programs, the library and its development files. Configure
# with -DCMAKE_INSTALL_PREFIX=/usr, build, then run cpack -G DEB in the build folder.
if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME brisko-packer)
  set(CPACK_PACKAGE_VENDOR "The Brisko Packer developers")
  set(CPACK_PACKAGE_CONTACT "The Brisko Packer developers")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "lossless compression of audio files into .kpz files")
  set(CPACK_PACKAGE_DESCRIPTION
      "Brisko Packer compresses any file, read as 16-bit stereo samples, into a .kpz
file without loss and restores it bit for bit; wave files compress well.
This package holds the window program brisko-packer, the command-line tool
kpz, and the library libkpz with its C header, pkg-config file and CMake
package for programs that read and write .kpz files.")
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  # Library dependencies come from dpkg-shlibdeps; the window program also needs Qt's
  # platform plugins, which the Qt libraries only recommend, and draws its fixed layout
  # best with a narrow sans font.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  if(BRISKO_BUILD_GUI)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
    set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation")
  endif()
  include(CPack)
endif()
