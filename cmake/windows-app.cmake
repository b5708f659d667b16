# SPDX-License-Identifier: BSD-3-Clause
# The window program as a Windows program: no console window, the icon that the .kpz file
# type shows (the program's first), its manifest and version information.
set_target_properties(brisko-packer PROPERTIES WIN32_EXECUTABLE ON)
set(brisko_windows_dir ${PROJECT_SOURCE_DIR}/windows)
set(brisko_rc_dir ${PROJECT_BINARY_DIR}/windows)
configure_file(${brisko_windows_dir}/brisko-packer.manifest.in
               ${brisko_rc_dir}/brisko-packer.manifest @ONLY)
file(CONFIGURE OUTPUT ${brisko_rc_dir}/brisko-packer-version.h
     CONTENT "#define BRISKO_VERSION_MAJOR @PROJECT_VERSION_MAJOR@
#define BRISKO_VERSION_MINOR @PROJECT_VERSION_MINOR@
#define BRISKO_VERSION_TEXT \"@PROJECT_VERSION@\"
" @ONLY)
target_sources(brisko-packer PRIVATE ${brisko_windows_dir}/brisko-packer.rc)
# The resource compiler looks for the icon beside the script and the generated files here.
target_include_directories(brisko-packer PRIVATE ${brisko_rc_dir} ${brisko_windows_dir})
set_property(SOURCE ${brisko_windows_dir}/brisko-packer.rc APPEND PROPERTY OBJECT_DEPENDS
             ${brisko_windows_dir}/brisko-packer.ico ${brisko_rc_dir}/brisko-packer.manifest)
