; The Windows installer: Velarix for the current user, with a Start-menu entry
; and an uninstaller. Made by scripts/windows:
;   makensis -DVERSION=x.y.z -DSTAGE=folder -DOUTFILE=setup.exe -DARCH=x86_64 velarix.nsi
; STAGE holds velarix.exe and everything it loads (scripts/windows-stage).
; Installs silently with /S; the uninstaller takes /S too.
!ifndef VERSION | STAGE | OUTFILE | ARCH
  !error "VERSION, STAGE, OUTFILE and ARCH must be given with -D"
!endif
!if "${ARCH}" == "x86_64"
  ; A 64-bit installer for the 64-bit program: it runs where the program does.
  Target amd64-unicode
!else
  Target x86-unicode
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user


!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Velarix"

Name "Velarix ${VERSION}"
OutFile "${OUTFILE}"
; Per user, so no administrator is needed; the settings live under
; HKEY_CURRENT_USER as well.
InstallDir "$LOCALAPPDATA\Programs\Velarix"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Velarix"
  SetOutPath "$INSTDIR"
  File /r "${STAGE}/*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Velarix.lnk" "$INSTDIR\velarix.exe" "" "$INSTDIR\velarix.exe" 0
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Velarix"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\velarix.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer put there, so a folder the user chose
; that holds other files keeps them. The user's settings stay.
Section "Uninstall"
  Delete "$SMPROGRAMS\Velarix.lnk"
  !include "${STAGE}/../uninstall-files.nsh"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
