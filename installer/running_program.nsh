; Finding and ending a Korvane that runs from the install folder.
;
; Each function here takes its arguments and returns its result on the stack
; and leaves every register as it found it. !insertmacro each macro with ""
; for the installer and with "un." for the uninstaller.

; Push PATH, Call FileId, Pop ID: the file's volume serial number and file
; index as "SERIAL:HIGH:LOW", or "" when it cannot be opened. Two paths name
; one file when their IDs are equal, however they spell it: a short (8.3)
; name, a subst drive or a junction give the ID of the file itself.
!macro FileId UN
Function ${UN}FileId
  Exch $0
  Push $1
  Push $2
  Push $3
  Push $4
  ; A BY_HANDLE_FILE_INFORMATION record: 13 DWORDs.
  System::Call '*(&i52) p .r1'
  ; No access asked, every sharing mode (7), OPEN_EXISTING (3): a running
  ; program's file opens too.
  System::Call 'kernel32::CreateFileW(w r0, i 0, i 7, p 0, i 3, i 0, p 0) p .r2'
  StrCpy $0 ""
  ${If} $2 P<> -1
    System::Call 'kernel32::GetFileInformationByHandle(p r2, p r1) i .r3'
    System::Call 'kernel32::CloseHandle(p r2)'
    ${If} $3 <> 0
      ; Fields 7, 11 and 12: volume serial number, file index high and low.
      System::Call '*$1(i, i, i, i, i, i, i, i .r2, i, i, i, i .r3, i .r4)'
      StrCpy $0 "$2:$3:$4"
    ${EndIf}
  ${EndIf}
  System::Free $1
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend

; Call EndRunningKorvane, Pop ENDED: ends every Korvane that runs from
; $INSTDIR. Posts the end request to its strip and waits up to 5 s for the
; process to end; only then, and only where this user may, ends the process.
; A copy that runs elevated refuses to be ended from here, but it takes the
; end request (its strip lets that message in from lower integrity levels).
; ENDED is 1 when at least one has ended, else 0.
!macro EndRunningKorvane UN
Function ${UN}EndRunningKorvane
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  Push $8
  StrCpy $0 0
  Push "$INSTDIR\Korvane.exe"
  Call ${UN}FileId
  Pop $7
  System::Call 'user32::RegisterWindowMessageW(w "${END_REQUEST_MESSAGE}") i .r5'
  StrCpy $1 0
  ${DoWhile} $7 != ""
    System::Call 'user32::FindWindowExW(p 0, p r1, w "${STRIP_CLASS}", p 0) p .r2'
    ${If} $2 P= 0
      ${Break}
    ${EndIf}
    StrCpy $1 $2
    System::Call 'user32::GetWindowThreadProcessId(p r2, *i .r3)'
    ; PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE: the least that
    ; reading its program's path and waiting for it need. Where even that is
    ; refused, it cannot be known to run from here and is left alone; if it
    ; does, the check of the files stops the run.
    System::Call 'kernel32::OpenProcess(i 0x101000, i 0, i r3) p .r4'
    ${If} $4 P<> 0
      System::Call 'kernel32::QueryFullProcessImageNameW(p r4, i 0, w .r6, *i ${NSIS_MAX_STRLEN}) i .r8'
      ${If} $8 <> 0
        Push $6
        Call ${UN}FileId
        Pop $6
      ${Else}
        StrCpy $6 ""
      ${EndIf}
      ${If} $6 == $7
        DetailPrint "关闭正在运行的 Korvane ($3)"
        System::Call 'user32::PostMessageW(p r2, i r5, p 0, p 0)'
        System::Call 'kernel32::WaitForSingleObject(p r4, i 5000) i .r8'
        ${If} $8 <> 0
          ; PROCESS_TERMINATE: refused across integrity levels.
          System::Call 'kernel32::OpenProcess(i 0x1, i 0, i r3) p .r6'
          ${If} $6 P<> 0
            System::Call 'kernel32::TerminateProcess(p r6, i 1)'
            System::Call 'kernel32::CloseHandle(p r6)'
            System::Call 'kernel32::WaitForSingleObject(p r4, i 5000) i .r8'
          ${EndIf}
        ${EndIf}
        ${If} $8 = 0
          StrCpy $0 1
          ; Its strip is gone: search again from the first window.
          StrCpy $1 0
        ${Else}
          DetailPrint "无法关闭正在运行的 Korvane ($3)"
        ${EndIf}
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p r4)'
    ${EndIf}
  ${Loop}
  Pop $8
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd
!macroend
