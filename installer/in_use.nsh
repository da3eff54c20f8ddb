; Whether the installed files can be replaced or removed, and the refusal
; when one cannot.
;
; Each function here takes its arguments and returns its result on the stack
; and leaves every register as it found it. !insertmacro each macro with ""
; for the installer and with "un." for the uninstaller.

; The access that FileInUse asks for. File writes a file through
; CreateFile(GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS), and so does
; WriteUninstaller; Delete also needs DELETE.
!define REPLACE_ACCESS 0x40000000 ; GENERIC_WRITE
!define REMOVE_ACCESS 0x40010000  ; GENERIC_WRITE | DELETE

; Push PATH, Push ACCESS, Call FileInUse, Pop IN_USE: 1 when the existing
; file PATH cannot be opened with ACCESS and the sharing that File gives
; (reading only), so that File or Delete would fail on it: the image of a
; running program, a library loaded by one, a file that another program
; holds open without sharing writing (or deleting, for ACCESS with DELETE).
; 0 when it opens or does not exist: a scanner that holds the file open
; sharing everything is no obstacle. The file is opened as it is
; (OPEN_EXISTING), so nothing is written. A read-only attribute is cleared
; for the check and put back after it: File and Delete clear it themselves.
!macro FileInUse UN
Function ${UN}FileInUse
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  Push $4
  System::Call 'kernel32::GetFileAttributesW(w r0) i .r2'
  IntOp $3 $2 & 1 ; FILE_ATTRIBUTE_READONLY
  ${If} $2 <> -1
  ${AndIf} $3 <> 0
    IntOp $3 $2 ^ 1
    System::Call 'kernel32::SetFileAttributesW(w r0, i r3)'
  ${EndIf}
  ; FILE_SHARE_READ (1), OPEN_EXISTING (3)
  System::Call 'kernel32::CreateFileW(w r0, i r1, i 1, p 0, i 3, i 0, p 0) p .r4 ?e'
  Pop $3
  ${If} $4 P<> -1
    System::Call 'kernel32::CloseHandle(p r4)'
  ${EndIf}
  ${If} $2 <> -1
    System::Call 'kernel32::SetFileAttributesW(w r0, i r2)'
  ${EndIf}
  StrCpy $0 0
  ; Not ERROR_FILE_NOT_FOUND (2) or ERROR_PATH_NOT_FOUND (3)
  ${If} $4 P= -1
  ${AndIf} $3 <> 2
  ${AndIf} $3 <> 3
    StrCpy $0 1
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
  Exch $0
  Exch
  Pop $1
FunctionEnd
!macroend

; In FindFileInUse: when $2 is 0, checks the file PATH, leaving it in $0 and
; whether it is in use in $2.
!macro _CheckInUse UN PATH
  ${If} $2 = 0
    StrCpy $0 "${PATH}"
    Push $0
    Push $1
    Call ${UN}FileInUse
    Pop $2
  ${EndIf}
!macroend

; Push ACCESS, Call FindFileInUse, Pop FILE: the first of the install
; folder's files that this run replaces or removes and that is in use for
; ACCESS (FileInUse), or "" when none is. A file that a program has just let
; go of (one that ended when asked, a scanner) gets up to 3 s.
!macro FindFileInUse UN
Function ${UN}FindFileInUse
  Exch $1
  Push $0
  Push $2
  Push $3
  StrCpy $3 0
  ${Do}
    StrCpy $2 0
    !insertmacro _CheckInUse "${UN}" "$INSTDIR\Korvane.exe"
    !insertmacro _CheckInUse "${UN}" "$INSTDIR\Update.dll"
    !if "${UN}" == ""
      !insertmacro _CheckInUse "" "$INSTDIR\${UNINSTALLER}"
    !endif
    ${If} $2 = 0
    ${OrIf} $3 >= 30
      ${Break}
    ${EndIf}
    IntOp $3 $3 + 1
    Sleep 100
  ${Loop}
  StrCpy $1 ""
  ${If} $2 <> 0
    StrCpy $1 $0
  ${EndIf}
  Pop $3
  Pop $2
  Pop $0
  Exch $1
FunctionEnd
!macroend

; When FILE (a variable that FindFileInUse filled) names a file in use:
; starts again the Korvane that was ended, says which file and why, and ends
; the run with exit code 2, having changed nothing. WHAT is the verb shown
; ("替换", "删除"), RUN the program shown ("安装程序", "卸载程序"), ENDED what
; ended ("安装", "卸载"), for the status line.
!macro RefuseFileInUse FILE WHAT RUN ENDED
  ${If} ${FILE} != ""
    ${If} $WasRunning = 1
      SetOutPath "$INSTDIR"
      Exec '"$INSTDIR\Korvane.exe"'
    ${EndIf}
    DetailPrint "无法${WHAT} ${FILE}：文件正被其他程序使用。"
    MessageBox MB_OK|MB_ICONSTOP "无法${WHAT} ${FILE}：文件正被其他程序使用（例如以管理员身份运行的 Korvane）。$\r$\n$\r$\n请关闭该程序，然后再次运行${RUN}。没有做任何更改。" /SD IDOK
    SetErrorLevel 2
    Abort "${ENDED}已中止，没有做任何更改。"
  ${EndIf}
!macroend
