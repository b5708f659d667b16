# SPDX-License-Identifier: BSD-3-Clause
# The Windows installer: the portable folder installed for every user of the machine or for
# the current user only, a Start-menu entry, the .kpz file type in the registry exactly as
# the program writes it, and an uninstaller that takes away what was added and nothing else.
# Silent with /S, for every user by default when the account may, /CurrentUser otherwise.
#
# Made by scripts/package-windows:
#   makensis -DVERSION=1.32 -DDIST=<portable folder> -DFILES=<file lists> -DICON=<.ico>
#            -DOUTFILE=<setup.exe>
# where FILES holds install-files.nsh and uninstall-files.nsh, listing the folder's contents.

# A 64-bit installer, like the program it installs (and runnable where only 64-bit
# programs run).
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!define PRODUCT "Brisko Packer"
!define PROGRAM "brisko-packer.exe"
# The file type's name and keys, below Software\Classes of the chosen hive; the program
# writes the same ones below HKEY_CLASSES_ROOT on every start without a file.
!define TYPE_NAME "Brisko Packer"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_RUN_NOTCHECKED

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${DIST}/licences/LICENSE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "BSD-3-Clause; Qt under LGPL-3.0"

Var GivenDir

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} needs 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  # A folder given with /D= wins over the mode's default folder.
  StrCpy $GivenDir $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $GivenDir != ""
    StrCpy $INSTDIR $GivenDir
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

# The four keys of the file type, as the program writes them, below Software\Classes of the
# hive that SHCTX stands for (HKLM for every user, HKCU for one).
!macro WriteFileType
  WriteRegStr SHCTX "Software\Classes\.kpz" "" "${TYPE_NAME}"
  WriteRegStr SHCTX "Software\Classes\${TYPE_NAME}" "" "Brisko Packer File"
  WriteRegStr SHCTX "Software\Classes\${TYPE_NAME}\DefaultIcon" "" "$INSTDIR\${PROGRAM},0"
  WriteRegStr SHCTX "Software\Classes\${TYPE_NAME}\shell\open\command" "" \
    '"$INSTDIR\${PROGRAM}" "%1"'
!macroend

# Takes the file type away from one hive, value by value, only where a value is still the
# one this installation (or its program) wrote: a type that now opens with another program,
# an extension given to another type and keys that hold more than ours stay as they are.
# The user's choices in Explorer (FileExts\.kpz\UserChoice) are never touched.
!macro RemoveFileType ROOT
  ReadRegStr $0 ${ROOT} "Software\Classes\${TYPE_NAME}\shell\open\command" ""
  ${If} $0 == '"$INSTDIR\${PROGRAM}" "%1"'
    DeleteRegValue ${ROOT} "Software\Classes\${TYPE_NAME}\shell\open\command" ""
    DeleteRegKey /ifempty ${ROOT} "Software\Classes\${TYPE_NAME}\shell\open\command"
    DeleteRegKey /ifempty ${ROOT} "Software\Classes\${TYPE_NAME}\shell\open"
    DeleteRegKey /ifempty ${ROOT} "Software\Classes\${TYPE_NAME}\shell"
    ReadRegStr $0 ${ROOT} "Software\Classes\${TYPE_NAME}\DefaultIcon" ""
    ${If} $0 == "$INSTDIR\${PROGRAM},0"
      DeleteRegValue ${ROOT} "Software\Classes\${TYPE_NAME}\DefaultIcon" ""
      DeleteRegKey /ifempty ${ROOT} "Software\Classes\${TYPE_NAME}\DefaultIcon"
    ${EndIf}
    ReadRegStr $0 ${ROOT} "Software\Classes\${TYPE_NAME}" ""
    ${If} $0 == "Brisko Packer File"
      DeleteRegValue ${ROOT} "Software\Classes\${TYPE_NAME}" ""
    ${EndIf}
    DeleteRegKey /ifempty ${ROOT} "Software\Classes\${TYPE_NAME}"
  ${EndIf}
  # The extension goes with the type: only when the type is gone from this hive.
  ReadRegStr $0 ${ROOT} "Software\Classes\.kpz" ""
  ClearErrors
  EnumRegKey $1 ${ROOT} "Software\Classes\${TYPE_NAME}" 0
  ${If} $0 == "${TYPE_NAME}"
  ${AndIf} ${Errors}
    DeleteRegValue ${ROOT} "Software\Classes\.kpz" ""
    DeleteRegKey /ifempty ${ROOT} "Software\Classes\.kpz"
  ${EndIf}
!macroend

Section "Install"
  # The folder that holds the installation (%LOCALAPPDATA%\Programs for the current user)
  # may not exist yet: made here, it is noted, so that the uninstaller takes it away again
  # when it is left empty, and never a folder that was there before.
  ${GetParent} "$INSTDIR" $0
  ${IfNot} ${FileExists} "$0\*.*"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "MadeParentFolder" "$0"
  ${EndIf}
  SetOutPath "$INSTDIR"
  !include "${FILES}/install-files.nsh"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}" "" "$INSTDIR\${PROGRAM}" 0

  !insertmacro WriteFileType
  # Explorer reads the file types again.
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" \
    '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  !include "${FILES}/uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "MadeParentFolder"
  ${GetParent} "$INSTDIR" $1
  ${If} $0 != ""
  ${AndIf} $0 == $1
    RMDir "$0"
  ${EndIf}

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  # The program writes the type below HKEY_CLASSES_ROOT on each start, which lands in
  # either hive: both are cleared of what points at this installation.
  !insertmacro RemoveFileType HKLM
  !insertmacro RemoveFileType HKCU
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
