# SPDX-License-Identifier: BSD-3-Clause
# What a distribution ships beside the programs and the library: man pages, shell
# completion for kpz, the licence, and the Debian packages made by cpack -G DEB.

# Man pages from their scdoc sources in doc/: plain text a reader can edit, turned into
# roff by a small tool, with no need to run the programs being documented, then read by
# groff with every warning on (cmake/man_page.sh), so a page that groff warns about fails
# the build. Each page goes to the package of its program.
find_program(BRISKO_SCDOC scdoc)
# groff and preconv come together (Debian's groff-base).
find_program(BRISKO_GROFF groff)
set(man_pages kpz)
set(man_component_kpz tool)
if(BRISKO_BUILD_GUI)
  list(APPEND man_pages brisko-packer)
  set(man_component_brisko-packer window)
endif()
# The pages name installed files by their full path.
set(BRISKO_DATA_DIR ${CMAKE_INSTALL_FULL_DATADIR})
if(BRISKO_SCDOC AND BRISKO_GROFF)
  set(man_outputs)
  foreach(page ${man_pages})
    set(source ${PROJECT_BINARY_DIR}/doc/${page}.1.scd)
    configure_file(${PROJECT_SOURCE_DIR}/doc/${page}.1.scd ${source} @ONLY)
    set(output ${PROJECT_BINARY_DIR}/doc/${page}.1.gz)
    add_custom_command(OUTPUT ${output}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/doc
      COMMAND sh ${PROJECT_SOURCE_DIR}/cmake/man_page.sh ${BRISKO_SCDOC} ${source} ${output}
      DEPENDS ${source} ${PROJECT_SOURCE_DIR}/cmake/man_page.sh
      COMMENT "Man page ${page}(1)"
      VERBATIM)
    list(APPEND man_outputs ${output})
    install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
            COMPONENT ${man_component_${page}})
  endforeach()
  add_custom_target(man-pages ALL DEPENDS ${man_outputs})
else()
  message(WARNING "scdoc or groff not found: the man pages are neither built nor installed")
endif()

if(NOT WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/kpz.bash
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kpz
          COMPONENT tool)
  install(FILES ${PROJECT_SOURCE_DIR}/completions/_kpz
          DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions COMPONENT tool)
endif()

# The Debian packages, split as a distribution splits them:
#   libkpz1        the shared library alone (component library)
#   libkpz-dev     header, link-time name, kpz.pc and the CMake package (development)
#   kpz            the command-line tool, without Qt (tool)
#   brisko-packer  the window program and its desktop files (window)
# Configure with -DCMAKE_INSTALL_PREFIX=/usr and the flags of dpkg-buildflags in CFLAGS,
# CXXFLAGS and LDFLAGS (.ci/run's package stage does), build, then run cpack -G DEB.
set(deb_components library development tool)
set(deb_package_library libkpz1)
set(deb_package_development libkpz-dev)
set(deb_package_tool kpz)
if(BRISKO_BUILD_GUI)
  list(APPEND deb_components window)
  set(deb_package_window brisko-packer)
endif()

# The licence as each package's copyright file. An install by hand (all components) gets
# one copy, under share/doc/brisko-packer; the other packages' copies, changelogs and
# lintian overrides go only into the packages (EXCLUDE_FROM_ALL: installed when cpack
# installs their component).
foreach(component ${deb_components})
  set(only_packaged EXCLUDE_FROM_ALL)
  if(component STREQUAL window)
    set(only_packaged)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${deb_package_${component}} RENAME copyright
          COMPONENT ${component} ${only_packaged})
endforeach()
if(NOT BRISKO_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/brisko-packer RENAME copyright
          COMPONENT Unspecified)
endif()

if(NOT WIN32)
  # Whoever builds the packages for a distribution signs them with their own address.
  set(BRISKO_PACKAGE_MAINTAINER
      "Brisko Packer maintainers <maintainers@users.noreply.c-seed-3d755157.example>"
      CACHE STRING "Maintainer of the Debian packages: a name and an address in <>")
  set(BRISKO_DEB_REVISION 1 CACHE STRING "Debian revision of the packages")
  set(BRISKO_DEB_VERSION ${PROJECT_VERSION}-${BRISKO_DEB_REVISION})

  # The Debian changelog, compressed as policy asks (gzip -9n: no name, no time stamp),
  # dated by the release date.
  execute_process(COMMAND date -u -R -d "${BRISKO_RELEASE_DATE} 12:00:00"
                  OUTPUT_VARIABLE BRISKO_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(deb_dir ${PROJECT_BINARY_DIR}/debian)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/changelog.in ${deb_dir}/changelog @ONLY)
  add_custom_command(OUTPUT ${deb_dir}/changelog.Debian.gz
    COMMAND sh -c "gzip -9n < \"$0\" > \"$1\"" ${deb_dir}/changelog ${deb_dir}/changelog.Debian.gz
    DEPENDS ${deb_dir}/changelog
    VERBATIM)
  add_custom_target(debian-changelog ALL DEPENDS ${deb_dir}/changelog.Debian.gz)
  foreach(component ${deb_components})
    install(FILES ${deb_dir}/changelog.Debian.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${deb_package_${component}}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
    # lintian's overrides, each with the reason it does not apply.
    set(package ${deb_package_${component}})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/lintian-overrides.in
                   ${deb_dir}/overrides/${package} @ONLY)
    install(FILES ${deb_dir}/overrides/${package}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides COMPONENT ${component}
            EXCLUDE_FROM_ALL)
  endforeach()

  # The library's control files: shlibs and symbols, so that a program linked with libkpz
  # depends on libkpz1 of at least the version that has its symbols; and the ldconfig
  # trigger instead of maintainer scripts that run ldconfig.
  get_target_property(KPZ_SOVERSION libkpz SOVERSION)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/shlibs.in ${deb_dir}/library/shlibs @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/symbols.in ${deb_dir}/library/symbols @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/debian/triggers ${deb_dir}/library/triggers COPYONLY)

  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME brisko-packer)
  set(CPACK_PACKAGE_VENDOR "The Brisko Packer developers")
  set(CPACK_PACKAGE_CONTACT "${BRISKO_PACKAGE_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${BRISKO_PACKAGE_MAINTAINER}")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${BRISKO_DEB_REVISION})
  set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL ${deb_components})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  # Dependencies on shared libraries come from dpkg-shlibdeps, for every package.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  foreach(component ${deb_components})
    string(TOUPPER ${component} c)
    set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${deb_package_${component}})
  endforeach()

  # Descriptions as plain lines, an empty line between paragraphs: CPack indents them.
  set(common_description
"Brisko Packer compresses any file, read as 16-bit stereo samples, into a file
of the kpz format without loss and restores it bit for bit; wave files
compress well.")

  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_LIBRARY_DESCRIPTION
"library for lossless compression into .kpz files
${common_description}

This package holds the shared library libkpz, which compresses files into
kpz files, restores them and reads them as a stream.")
  # CPack would add maintainer scripts calling ldconfig to a package it computes library
  # dependencies for; the trigger does that job, so the library's dependencies are
  # computed by dpkg-shlibdeps in cpack_config.cmake instead.
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_SHLIBDEPS OFF)
  file(GENERATE OUTPUT ${deb_dir}/cpack_config.cmake CONTENT "
if(CPACK_GENERATOR STREQUAL \"DEB\")
  set(work \"${deb_dir}/shlibdeps\")
  file(MAKE_DIRECTORY \"\${work}/debian\")
  file(WRITE \"\${work}/debian/control\" \"\")
  execute_process(COMMAND dpkg-shlibdeps -O \"$<TARGET_FILE:libkpz>\"
    WORKING_DIRECTORY \"\${work}\" OUTPUT_VARIABLE out ERROR_QUIET RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0 OR NOT out MATCHES \"^shlibs:Depends=\")
    message(FATAL_ERROR \"dpkg-shlibdeps failed on libkpz: \${out}\")
  endif()
  string(REGEX REPLACE \"^shlibs:Depends=([^\\n]*).*\" \"\\\\1\" deps \"\${out}\")
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_DEPENDS \"\${deps}\")
endif()
")
  set(CPACK_PROJECT_CONFIG_FILE ${deb_dir}/cpack_config.cmake)
  set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA
      "${deb_dir}/library/shlibs;${deb_dir}/library/symbols;${deb_dir}/library/triggers")

  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libkpz1 (= ${BRISKO_DEB_VERSION})")
  set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION
"development files for libkpz
${common_description}

This package holds what programs need to build with libkpz: the C header
kpz.h, the link-time library name, the pkg-config file kpz.pc and the CMake
package kpz.")

  set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_TOOL_DESCRIPTION
"command-line tool for lossless compression into .kpz files
${common_description}

This package holds the command-line tool kpz, which works like the usual
compressors: it compresses, restores, tests and lists .kpz files, also in
pipes. It does not need Qt.")

  set(CPACK_DEBIAN_WINDOW_PACKAGE_SECTION sound)
  # The window program also needs Qt's platform plugins, which the Qt libraries only
  # recommend, and draws its fixed layout best with a narrow sans font.
  set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "qt6-qpa-plugins")
  set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "fonts-liberation")
  set(CPACK_DEBIAN_WINDOW_DESCRIPTION
"lossless compression of audio files into .kpz files, window program
${common_description}

This package holds the window program brisko-packer, with its desktop entry,
file type and icons.")
  include(CPack)
endif()
