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

; $0 = the registration tool that matches the installed files. From a 32-bit
; installer on 64-bit Windows, Sysnative reaches the 64-bit one.
!macro RegistrationTool
  ${If} ${RunningX64}
    StrCpy $0 "$WINDIR\Sysnative\regsvr32.exe"
  ${Else}
    StrCpy $0 "$SYSDIR\regsvr32.exe"
  ${EndIf}
!macroend

; $R0 = 1 when the paths $R1 and $R2 name one existing file (the same volume
; and file index), however they spell it: a short (8.3) name, a subst drive
; or a junction all match the file itself.
!macro SameFile UN
Function ${UN}SameFile
  StrCpy $R0 0
  ; Two BY_HANDLE_FILE_INFORMATION records of 13 DWORDs each.
  System::Call '*(&i52, &i52) p .R5'
  IntPtrOp $R6 $R5 + 52
  StrCpy $R7 0
  StrCpy $R8 0
  ; No access asked, every sharing mode (7), OPEN_EXISTING (3): a running
  ; program's file opens too.
  System::Call 'kernel32::CreateFileW(w R1, i 0, i 7, p 0, i 3, i 0, p 0) p .R3'
  ${If} $R3 P<> -1
    System::Call 'kernel32::GetFileInformationByHandle(p R3, p R5) i .R7'
    System::Call 'kernel32::CloseHandle(p R3)'
  ${EndIf}
  System::Call 'kernel32::CreateFileW(w R2, i 0, i 7, p 0, i 3, i 0, p 0) p .R4'
  ${If} $R4 P<> -1
    System::Call 'kernel32::GetFileInformationByHandle(p R4, p R6) i .R8'
    System::Call 'kernel32::CloseHandle(p R4)'
  ${EndIf}
  ${If} $R7 <> 0
  ${AndIf} $R8 <> 0
    ; Fields 7, 11 and 12: volume serial number, file index high and low.
    System::Call '*$R5(i, i, i, i, i, i, i, i .R7, i, i, i, i .R8, i .R9)'
    System::Call '*$R6(i, i, i, i, i, i, i, i .R1, i, i, i, i .R2, i .R3)'
    ${If} $R7 = $R1
    ${AndIf} $R8 = $R2
    ${AndIf} $R9 = $R3
      StrCpy $R0 1
    ${EndIf}
  ${EndIf}
  System::Free $R5
FunctionEnd
!macroend
!insertmacro SameFile ""
!insertmacro SameFile "un."

; 1 when a Korvane from the install folder was running and has ended: it is
; started again at the end.
Var WasRunning

; Ends every Korvane that runs from $INSTDIR: posts the end request to its
; strip and waits up to 5 s for the process to end; only then, and only where
; this user may, ends the process. A copy that runs elevated refuses to be
; ended from here, but it takes the end request (its strip lets that message
; in from lower integrity levels). Sets $WasRunning to 1 for each one that
; has ended.
!macro EndRunningKorvane UN
Function ${UN}EndRunningKorvane
  System::Call 'user32::RegisterWindowMessageW(w "${END_REQUEST_MESSAGE}") i .r5'
  StrCpy $1 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p r1, w "${STRIP_CLASS}", p 0) p .r2'
    ${If} $2 P= 0
      ${Break}
    ${EndIf}
    StrCpy $1 $2
    System::Call 'user32::GetWindowThreadProcessId(p r2, *i .r3)'
    ; PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE: the least that
    ; reading its program's path and waiting for it need. Where even that is
    ; refused, it cannot be known to run from here and is left alone; if it
    ; does, the check of the files below stops the run.
    System::Call 'kernel32::OpenProcess(i 0x101000, i 0, i r3) p .r4'
    ${If} $4 P<> 0
      System::Call 'kernel32::QueryFullProcessImageNameW(p r4, i 0, w .r6, *i ${NSIS_MAX_STRLEN}) i .r7'
      StrCpy $R0 0
      ${If} $7 <> 0
        StrCpy $R1 $6
        StrCpy $R2 "$INSTDIR\Korvane.exe"
        Call ${UN}SameFile
      ${EndIf}
      ${If} $R0 = 1
        DetailPrint "关闭正在运行的 Korvane ($3)"
        System::Call 'user32::PostMessageW(p r2, i r5, p 0, p 0)'
        System::Call 'kernel32::WaitForSingleObject(p r4, i 5000) i .r7'
        ${If} $7 <> 0
          ; PROCESS_TERMINATE: refused across integrity levels.
          System::Call 'kernel32::OpenProcess(i 0x1, i 0, i r3) p .r6'
          ${If} $6 P<> 0
            System::Call 'kernel32::TerminateProcess(p r6, i 1)'
            System::Call 'kernel32::CloseHandle(p r6)'
            System::Call 'kernel32::WaitForSingleObject(p r4, i 5000) i .r7'
          ${EndIf}
        ${EndIf}
        ${If} $7 = 0
          StrCpy $WasRunning 1
          ; Its strip is gone: search again from the first window.
          StrCpy $1 0
        ${Else}
          DetailPrint "无法关闭正在运行的 Korvane ($3)"
        ${EndIf}
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r4)'
    ${EndIf}
  ${Loop}
FunctionEnd
!macroend
!insertmacro EndRunningKorvane ""
!insertmacro EndRunningKorvane "un."

; $R0 = $R1 when the file $R1 exists but cannot be opened for writing and
; deleting without sharing, as replacing or removing it needs: the image of
; a running program (a copy running elevated cannot be ended from here), a
; loaded library, a file another program holds open. Unchanged otherwise; a
; missing file is no obstacle. Nothing is written.
!macro CheckReplaceable UN
Function ${UN}CheckReplaceable
  ; GENERIC_WRITE | DELETE, no sharing, OPEN_EXISTING (3)
  System::Call 'kernel32::CreateFileW(w R1, i 0x40010000, i 0, p 0, i 3, i 0, p 0) p .R2 ?e'
  Pop $R3
  ${If} $R2 P<> -1
    System::Call 'kernel32::CloseHandle(p R2)'
  ; Not ERROR_FILE_NOT_FOUND (2) or ERROR_PATH_NOT_FOUND (3)
  ${ElseIf} $R3 <> 2
  ${AndIf} $R3 <> 3
    StrCpy $R0 $R1
  ${EndIf}
FunctionEnd

; $R0 = the first of the install folder's files that this run replaces or
; removes and that cannot be, or "" when every one can. A file that a
; program has just let go of (one that ended when asked, a virus scanner)
; gets up to 3 s.
Function ${UN}FindFileInUse
  StrCpy $R4 0
  ${Do}
    StrCpy $R0 ""
    StrCpy $R1 "$INSTDIR\Korvane.exe"
    Call ${UN}CheckReplaceable
    ${If} $R0 == ""
      StrCpy $R1 "$INSTDIR\Update.dll"
      Call ${UN}CheckReplaceable
    ${EndIf}
    !if "${UN}" == ""
      ${If} $R0 == ""
        StrCpy $R1 "$INSTDIR\${UNINSTALLER}"
        Call CheckReplaceable
      ${EndIf}
    !endif
    ${If} $R0 == ""
    ${OrIf} $R4 >= 30
      ${Break}
    ${EndIf}
    IntOp $R4 $R4 + 1
    Sleep 100
  ${Loop}
FunctionEnd
!macroend
!insertmacro CheckReplaceable ""
!insertmacro CheckReplaceable "un."

; When a file that this run must replace or remove is in use: starts again
; the Korvane that was ended, says which file and why, and ends the run with
; exit code 2, having changed nothing. WHAT is the verb shown ("替换", "删除"),
; RUN the program shown ("安装程序", "卸载程序"), ENDED what ended ("安装",
; "卸载"), for the status line.
!macro RefuseFileInUse WHAT RUN ENDED
  ${If} $R0 != ""
    ${If} $WasRunning = 1
      SetOutPath "$INSTDIR"
      Exec '"$INSTDIR\Korvane.exe"'
    ${EndIf}
    DetailPrint "无法${WHAT} $R0：文件正被其他程序使用。"
    MessageBox MB_OK|MB_ICONSTOP "无法${WHAT} $R0：文件正被其他程序使用（例如以管理员身份运行的 Korvane）。$\r$\n$\r$\n请关闭该程序，然后再次运行${RUN}。没有做任何更改。" /SD IDOK
    SetErrorLevel 2
    Abort "${ENDED}已中止，没有做任何更改。"
  ${EndIf}
!macroend

Section "Korvane" SecProgram
  SectionIn RO
  ; An existing install folder given by its short (8.3) name is written
  ; everywhere by its long one.
  System::Call 'kernel32::GetLongPathNameW(w "$INSTDIR", w .r0, i ${NSIS_MAX_STRLEN}) i .r1'
  ${If} $1 > 0
  ${AndIf} $1 < ${NSIS_MAX_STRLEN}
    StrCpy $INSTDIR $0
  ${EndIf}
  StrCpy $WasRunning 0
  Call EndRunningKorvane
  ; Every file is replaced, or none: some new and some old would not run.
  Call FindFileInUse
  !insertmacro RefuseFileInUse "替换" "安装程序" "安装"

  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${X64_DIR}\Korvane.exe"
    File "${X64_DIR}\Update.dll"
  ${Else}
    File "${X86_DIR}\Korvane.exe"
    File "${X86_DIR}\Update.dll"
  ${EndIf}
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; Machine-wide when allowed; otherwise the library registers itself for the
  ; current user.
  !insertmacro RegistrationTool
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
  SetShellVarContext current
  ReadRegStr $0 HKCU "${RUN_KEY}" "Korvane"
  ${If} $0 != ""
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/AUTOSTART=" $2
  ${IfNot} ${Errors}
    ${If} $2 == "1"
      !insertmacro SelectSection ${SecAutostart}
    ${Else}
      !insertmacro UnselectSection ${SecAutostart}
    ${EndIf}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Uninstall"
  StrCpy $WasRunning 0
  Call un.EndRunningKorvane
  Call un.FindFileInUse
  !insertmacro RefuseFileInUse "删除" "卸载程序" "卸载"
  !insertmacro RegistrationTool
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
