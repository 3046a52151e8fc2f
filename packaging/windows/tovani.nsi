; The per-user installer of tovani.exe: no administrator rights, everything
; under the user's own folders and registry.
;   makensis -DEXE=path\tovani.exe -DOUTFILE=out.exe -DVERSION=4.9.0 [-DSIGN=command] tovani.nsi
; A 64-bit installer for a 64-bit program (and no 32-bit layer needed to run it).
Target amd64-unicode
!include "FileFunc.nsh"
RequestExecutionLevel user
SetCompressor /SOLID lzma

!define PRODUCT "Tovani"
!define SCHEME "corvantiluxen"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
ShowInstDetails nevershow
ShowUninstDetails nevershow

; The uninstaller and the installer itself are signed as they are written.
!ifdef SIGN
!uninstfinalize '${SIGN} "%1"' = 0
!finalize '${SIGN} "%1"' = 0
!endif

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

Section "Install"
  SetOutPath "$INSTDIR"
  File "/oname=tovani.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\tovani.exe" "" "$INSTDIR\tovani.exe" 0

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tovani.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1

  ; Links work before the first start too; the program rewrites this on every start.
  WriteRegStr HKCU "Software\Classes\${SCHEME}" "" "Kelbro Desktop Player"
  WriteRegStr HKCU "Software\Classes\${SCHEME}" "URL Protocol" ""
  WriteRegStr HKCU "Software\Classes\${SCHEME}\DefaultIcon" "" "$INSTDIR\tovani.exe,1"
  WriteRegStr HKCU "Software\Classes\${SCHEME}\shell\open\command" "" '"$INSTDIR\tovani.exe" "%1"'
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\tovani.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "Software\Classes\${SCHEME}"

  ; The learner's data (the browser's cookies and storage) goes only when
  ; asked for: /REMOVEDATA when silent, a question otherwise (default: keep).
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  IfErrors 0 remove_data
  IfSilent keep_data
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Also remove your ${PRODUCT} data (signed-in sessions and browser storage)?" /SD IDNO IDYES remove_data
  Goto keep_data
remove_data:
  RMDir /r "$LOCALAPPDATA\${PRODUCT}"
keep_data:
SectionEnd
