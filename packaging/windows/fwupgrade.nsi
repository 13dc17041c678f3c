; The Windows installer (makensis). packaging/CMakeLists.txt passes, with -D: VERSION_FILE,
; PROGRAM, LIBRARY, ANIMATION, README, OUTFILE, and AMD64 for the 64-bit build that only
; the tests use where 32-bit Wine cannot run. Silent with /S, install and uninstall alike.
Unicode true
SetCompressor /SOLID lzma
!include "${VERSION_FILE}"

!define PRODUCT "VORN Tape Firmware Upgrade Utility"
!define PUBLISHER "VORN Electronics Inc."
!define FOLDER "Fwupgrade"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Fwupgrade"
!define SHORTCUT "$SMPROGRAMS\${FOLDER}\${PRODUCT}.lnk"

Name "${PRODUCT} ${VERSION_SHORT}"
OutFile "${OUTFILE}"
!ifdef AMD64
Target amd64-unicode
InstallDir "$PROGRAMFILES64\${FOLDER}"
!else
InstallDir "$PROGRAMFILES\${FOLDER}"
!endif
; Program Files and the machine's uninstall key need an administrator.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_NUMERIC}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION_SHORT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION_SHORT}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=fwupgrade.exe" "${PROGRAM}"
  File "/oname=ZURVAX.dll" "${LIBRARY}"
  File "/oname=dl.avi" "${ANIMATION}"
  File "/oname=README.md" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; For every user. The shortcut starts the program in the installed folder (the output
  ; path when it is made): the program reads the image and the animation from its working
  ; folder, so the operator puts the image there.
  SetShellVarContext all
  CreateDirectory "$SMPROGRAMS\${FOLDER}"
  SetOutPath "$INSTDIR"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\fwupgrade.exe" "" "$INSTDIR\fwupgrade.exe" 0

  ; Add/Remove Programs.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\fwupgrade.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\fwupgrade.exe"
  Delete "$INSTDIR\ZURVAX.dll"
  Delete "$INSTDIR\dl.avi"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: images the operator put there stay.
  RMDir "$INSTDIR"
  Delete "${SHORTCUT}"
  RMDir "$SMPROGRAMS\${FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
