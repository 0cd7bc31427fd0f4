; The Windows installer of the updater, made by scripts/package_windows.sh:
;   makensis -DVERSION=1.1.0 -DBUILD=build-windows -DREADME=readme.txt
;            -DOUTFILE=qarnauto-1.1.0-setup.exe qarnauto.nsi
; It puts qarnauto.exe and nndown.dll in "Program Files (x86)\Talvora", the
; folder under which the updater installs the game, adds a Start-menu entry
; and an uninstaller, and registers itself under Programs and Features. The
; uninstaller takes away what the installer and the updater's own notes put
; there; the game's folders below Talvora stay.
Unicode true
Name "Quillmarch Updater"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES32\Talvora"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\qarnauto"
!define MENU_FOLDER "$SMPROGRAMS\Quillmarch"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${BUILD}\qarnauto.exe"
  File "${BUILD}\nndown.dll"
  File "/oname=qarnauto-readme.txt" "${README}"
  WriteUninstaller "$INSTDIR\qarnauto-uninstall.exe"
  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\Quillmarch Updater.lnk" "$INSTDIR\qarnauto.exe" "" "$INSTDIR\qarnauto.exe" 0
  CreateShortcut "${MENU_FOLDER}\Uninstall Quillmarch Updater.lnk" "$INSTDIR\qarnauto-uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillmarch Updater"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Talvora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\qarnauto.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\qarnauto-uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\qarnauto-uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$INSTDIR\qarnauto.exe"
  Delete "$INSTDIR\nndown.dll"
  Delete "$INSTDIR\qarnauto-readme.txt"
  ; What the updater writes beside itself: its run log and a crash dump.
  Delete "$INSTDIR\qarnAutoLog.log"
  Delete "$INSTDIR\qarnAutoLog.log.lock"
  Delete "$INSTDIR\ValdrisStartup.dmp"
  Delete "$INSTDIR\qarnauto-uninstall.exe"
  Delete "${MENU_FOLDER}\Quillmarch Updater.lnk"
  Delete "${MENU_FOLDER}\Uninstall Quillmarch Updater.lnk"
  RMDir "${MENU_FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Only when empty: the game's folders may be here.
  RMDir "$INSTDIR"
  ; The notes of a run that could not write beside the program.
  SetShellVarContext current
  RMDir /r "$LOCALAPPDATA\qarnauto"
SectionEnd
