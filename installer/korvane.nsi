; Korvane's per-user installer: no administrator rights, installs into
; $LOCALAPPDATA\Programs\Korvane by default, so that test.ini beside the
; program can be written.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DX64_DIR=... -DX86_DIR=...
;          -DICON=.../korvane.ico -DOUTFILE=... [-DPUBLISHER_URL=...]
;          [-DKORVANE_INSTALLER_TARGET=amd64-unicode] korvane.nsi
;
; The release installer is x86-unicode, which runs on 32- and 64-bit Windows
; and holds the files of both architectures. An amd64-unicode build (for
; tests) holds the 64-bit files only.

!ifdef KORVANE_INSTALLER_TARGET
  Target ${KORVANE_INSTALLER_TARGET}
!else
  Unicode true
!endif

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!macro Require NAME
  !ifndef ${NAME}
    !error "define ${NAME} on the command line (-D${NAME}=...)"
  !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require X64_DIR
!insertmacro Require ICON
!insertmacro Require OUTFILE
!if ${NSIS_PTR_SIZE} <= 4
  !insertmacro Require X86_DIR
!endif

!define PRODUCT "Korvane"
!define PUBLISHER "Korvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"
!define UNINSTALLER "Uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\Korvane.lnk"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
SetCompressor /SOLID lzma
ManifestDPIAware true
Icon "${ICON}"
UninstallIcon "${ICON}"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "${PUBLISHER}"

; $0 = the registration tool that matches the installed files. From a 32-bit
; installer on 64-bit Windows, Sysnative reaches the 64-bit one.
!macro RegistrationTool
  !if ${NSIS_PTR_SIZE} > 4
    StrCpy $0 "$SYSDIR\regsvr32.exe"
  !else
    ${If} ${RunningX64}
      StrCpy $0 "$WINDIR\Sysnative\regsvr32.exe"
    ${Else}
      StrCpy $0 "$SYSDIR\regsvr32.exe"
    ${EndIf}
  !endif
!macroend

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Korvane"
  SetOutPath "$INSTDIR"
  !if ${NSIS_PTR_SIZE} > 4
    File "${X64_DIR}\Korvane.exe"
    File "${X64_DIR}\Update.dll"
  !else
    ${If} ${RunningX64}
      File "${X64_DIR}\Korvane.exe"
      File "${X64_DIR}\Update.dll"
    ${Else}
      File "${X86_DIR}\Korvane.exe"
      File "${X86_DIR}\Update.dll"
    ${EndIf}
  !endif
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Machine-wide when allowed; otherwise the library registers itself for the
  ; current user.
  !insertmacro RegistrationTool
  ExecWait '"$0" /s "$INSTDIR\Update.dll"' $1
  ${If} $1 != 0
    DetailPrint "regsvr32 Update.dll: $1"
  ${EndIf}

  ; The program looks for Update.dll in its working folder.
  SetOutPath "$INSTDIR"
  CreateShortCut "${SHORTCUT}" "$INSTDIR\Korvane.exe" "" "$INSTDIR\Korvane.exe" 0

  ${GetSize} "$INSTDIR" "/S=0K /G=0" $2 $3 $4
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Korvane.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $2
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  !ifdef PUBLISHER_URL
    WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${PUBLISHER_URL}"
  !endif
SectionEnd

Section "Uninstall"
  !insertmacro RegistrationTool
  ${If} ${FileExists} "$INSTDIR\Update.dll"
    ExecWait '"$0" /u /s "$INSTDIR\Update.dll"' $1
  ${EndIf}

  Delete "$INSTDIR\Korvane.exe"
  Delete "$INSTDIR\Update.dll"
  Delete "$INSTDIR\test.ini"
  Delete "$INSTDIR\${UNINSTALLER}"
  Delete "${SHORTCUT}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; Only empty folders go: files the user put there stay.
  RMDir "$INSTDIR"
  RMDir "$LOCALAPPDATA\Programs"
SectionEnd
