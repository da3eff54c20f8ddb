; Korvane's per-user installer: no administrator rights, installs into
; $LOCALAPPDATA\Programs\Korvane by default, so that test.ini beside the
; program can be written.
;
; makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DX64_DIR=... -DX86_DIR=...
;          -DICON=.../korvane.ico -DOUTFILE=... [-DPUBLISHER_URL=...]
;          [-DSIGN_COMMAND=...] korvane.nsi
;
; SIGN_COMMAND FILE signs a file in place; with it, the uninstaller and the
; installer are signed as they are written.
;
; Command line (also with /S): /AUTOSTART=1 starts Korvane at sign-in,
; /AUTOSTART=0 turns that off. Without it, a first install leaves it off and
; an upgrade keeps what was chosen before.
;
; The installer is a 32-bit program, which runs on 32- and 64-bit Windows
; and holds the files of both architectures: the 64-bit ones go in on 64-bit
; Windows. Exit codes: 0 done, 1 cancelled by the user, 2 nothing changed
; because a file to be replaced is in use.

Unicode true

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include Sections.nsh

!macro Require NAME
  !ifndef ${NAME}
    !error "define ${NAME} on the command line (-D${NAME}=...)"
  !endif
!macroend
!insertmacro Require VERSION
!insertmacro Require X64_DIR
!insertmacro Require ICON
!insertmacro Require OUTFILE
!insertmacro Require X86_DIR

!define PRODUCT "Korvane"
!define PUBLISHER "Korvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane"
!define UNINSTALLER "Uninstall.exe"
!define SHORTCUT "$SMPROGRAMS\Korvane.lnk"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
; How a running Korvane is found and asked to end (app/display/end_request.h).
!define STRIP_CLASS "KorvaneStrip"
!define END_REQUEST_MESSAGE "KorvaneEndRequest"

!ifdef SIGN_COMMAND
  !uninstfinalize '"${SIGN_COMMAND}" "%1"' = 0
  !finalize '"${SIGN_COMMAND}" "%1"' = 0
!endif

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

Page components
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

; VAR = the registration tool that matches the installed files. From a
; 32-bit installer on 64-bit Windows, Sysnative reaches the 64-bit one.
!macro RegistrationTool VAR
  ${If} ${RunningX64}
    StrCpy ${VAR} "$WINDIR\Sysnative\regsvr32.exe"
  ${Else}
    StrCpy ${VAR} "$SYSDIR\regsvr32.exe"
  ${EndIf}
!macroend

; 1 when a Korvane from the install folder was running and has ended: it is
; started again at the end.
Var WasRunning

!include "running_program.nsh"
!include "in_use.nsh"
!insertmacro FileId ""
!insertmacro FileId "un."
!insertmacro EndRunningKorvane ""
!insertmacro EndRunningKorvane "un."
!insertmacro FileInUse ""
!insertmacro FileInUse "un."
!insertmacro FindFileInUse ""
!insertmacro FindFileInUse "un."

Section "Korvane" SecProgram
  SectionIn RO
  ; An existing install folder given by its short (8.3) name is written
  ; everywhere by its long one.
  System::Call 'kernel32::GetLongPathNameW(w "$INSTDIR", w .r0, i ${NSIS_MAX_STRLEN}) i .r1'
  ${If} $1 > 0
  ${AndIf} $1 < ${NSIS_MAX_STRLEN}
    StrCpy $INSTDIR $0
  ${EndIf}
  Call EndRunningKorvane
  Pop $WasRunning
  ; Every file is replaced, or none: some new and some old would not run.
  Push ${REPLACE_ACCESS}
  Call FindFileInUse
  Pop $0
  !insertmacro RefuseFileInUse $0 "替换" "安装程序" "安装"

  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${X64_DIR}\Korvane.exe"
    File "${X64_DIR}\Update.dll"
  ${Else}
    File "${X86_DIR}\Korvane.exe"
    File "${X86_DIR}\Update.dll"
  ${EndIf}
  ; File clears a read-only attribute itself; WriteUninstaller does not.
  SetFileAttributes "$INSTDIR\${UNINSTALLER}" NORMAL
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Machine-wide when allowed; otherwise the library registers itself for the
  ; current user.
  !insertmacro RegistrationTool $0
  ExecWait '"$0" /s "$INSTDIR\Update.dll"' $1
  ${If} $1 != 0
    DetailPrint "regsvr32 Update.dll: $1"
  ${EndIf}

  ; The shortcut starts Korvane in the output folder: the install folder.
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

Section /o "登录时启动 Korvane" SecAutostart
  WriteRegStr HKCU "${RUN_KEY}" "Korvane" '"$INSTDIR\Korvane.exe"'
SectionEnd

Section "-Finish"
  ${IfNot} ${SectionIsSelected} ${SecAutostart}
    DeleteRegValue HKCU "${RUN_KEY}" "Korvane"
  ${EndIf}
  ${If} $WasRunning = 1
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\Korvane.exe"'
  ${EndIf}
SectionEnd

Function .onInit
  Push $0
  SetShellVarContext current
  ReadRegStr $0 HKCU "${RUN_KEY}" "Korvane"
  ${If} $0 != ""
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART=" $0
  ${IfNot} ${Errors}
    ${If} $0 == "1"
      !insertmacro SelectSection ${SecAutostart}
    ${Else}
      !insertmacro UnselectSection ${SecAutostart}
    ${EndIf}
  ${EndIf}
  Pop $0
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  Call un.EndRunningKorvane
  Pop $WasRunning
  Push ${REMOVE_ACCESS}
  Call un.FindFileInUse
  Pop $0
  !insertmacro RefuseFileInUse $0 "删除" "卸载程序" "卸载"
  !insertmacro RegistrationTool $0
  ${If} ${FileExists} "$INSTDIR\Update.dll"
    ExecWait '"$0" /u /s "$INSTDIR\Update.dll"' $1
  ${EndIf}

  Delete "$INSTDIR\Korvane.exe"
  Delete "$INSTDIR\Update.dll"
  Delete "$INSTDIR\test.ini"
  Delete "$INSTDIR\${UNINSTALLER}"
  Delete "${SHORTCUT}"
  DeleteRegValue HKCU "${RUN_KEY}" "Korvane"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"

  ; Only empty folders go: files the user put there stay.
  RMDir "$INSTDIR"
  RMDir "$LOCALAPPDATA\Programs"
SectionEnd
