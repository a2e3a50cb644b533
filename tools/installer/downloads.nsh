; What the uninstaller removes of DownTmp: the updater's downloads and
; temporary files, each decided on and deleted through its own handle while
; DownTmp is held. Included by velbox.nsi (uses its defines and LogicLib).

; The path the system resolves the file or folder on the stack to, opened
; as itself (not what a link points to); "" when it cannot be opened.
Function un.FinalPath
  Exch $R0
  Push $R1
  Push $R2
  ; FILE_READ_ATTRIBUTES, any sharing, OPEN_EXISTING,
  ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
  System::Call 'kernel32::CreateFileW(w R0, i 0x80, i 7, p 0, i 3, i 0x02200000, p 0) p .R1'
  StrCpy $R0 ""
  ${If} $R1 P<> -1
    Push $R1
    Call un.FinalPathOf
    Pop $R0
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; The path the system resolves the open handle on the stack to; "" when it
; cannot tell.
Function un.FinalPathOf
  Exch $R0
  Push $R1
  System::Call 'kernel32::GetFinalPathNameByHandleW(p R0, w .R0, i ${NSIS_MAX_STRLEN}, i 0) i .R1'
  ${If} $R1 = 0
  ${OrIf} $R1 >= ${NSIS_MAX_STRLEN}
    StrCpy $R0 ""
  ${EndIf}
  Pop $R1
  Exch $R0
FunctionEnd

; 1 on the stack when the name on the stack is one the updater gives its
; temporary files (updatelogic::IsOwnTemporaryName): "~velUpdate-" and 16
; hexadecimal digits, or exactly what earlier updaters wrote,
; "<installer>.exe.<pid>-<n>.tmp" and "probe.<pid>-<n>.tmp" with the
; numbers as printed. A user's "report.2023-01.tmp" is none of them.
Function un.IsUpdaterTemp
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  StrCpy $R4 0
  StrCpy $R1 $R0 "" -4
  StrCmpS $R1 ".tmp" 0 done
  StrCpy $R0 $R0 -4
  StrLen $R2 "${UPDATER_TEMP_PREFIX}"
  StrCpy $R1 $R0 $R2
  StrCmpS $R1 "${UPDATER_TEMP_PREFIX}" 0 older
    StrCpy $R1 $R0 "" $R2
    StrLen $R2 $R1
    System::Call 'shlwapi::StrSpnW(w R1, w "0123456789abcdef") i .R3'
    ${If} $R2 = 16
    ${AndIf} $R3 = 16
      StrCpy $R4 1
    ${EndIf}
    Goto done
  older:
  ; "<base>.<pid>-<n>", read from the end.
  Push $R0
  Push "-"
  Call un.SplitLast
  Pop $R1  ; n
  Pop $R0
  Push $R1
  Call un.IsPrintedNumber
  Pop $R3
  StrCmp $R3 1 0 done
  Push $R0
  Push "."
  Call un.SplitLast
  Pop $R1  ; pid
  Pop $R0  ; base
  Push $R1
  Call un.IsPrintedNumber
  Pop $R3
  StrCmp $R3 1 0 done
  StrCmpS $R0 "probe" 0 +3
    StrCpy $R4 1
    Goto done
  StrCpy $R1 $R0 "" -4
  StrLen $R2 $R0
  ${If} $R1 == ".exe"
  ${AndIf} $R2 > 4
    Push $R0
    Call un.IsPlainName
    Pop $R4
  ${EndIf}
  done:
  StrCpy $R0 $R4
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Splits the text (under the top of the stack) at the last occurrence of
; the character on the top: pushes the part before, then the part after
; (on the top). Without it: the whole text, then "".
Function un.SplitLast
  Exch $R1  ; the character
  Exch
  Exch $R0  ; the text
  Push $R2
  Push $R3
  StrLen $R2 $R0
  ${Do}
    IntOp $R2 $R2 - 1
    ${If} $R2 < 0
      ${Break}
    ${EndIf}
    StrCpy $R3 $R0 1 $R2
  ${LoopUntil} $R3 == $R1
  ${If} $R2 < 0
    StrCpy $R1 ""
  ${Else}
    IntOp $R3 $R2 + 1
    StrCpy $R1 $R0 "" $R3
    StrCpy $R0 $R0 $R2
  ${EndIf}
  Pop $R3
  Pop $R2
  Exch $R0
  Exch
  Exch $R1
FunctionEnd

; 1 on the stack when the text on the stack is a number as printed: 1 to
; 10 decimal digits, no sign, no leading zero.
Function un.IsPrintedNumber
  Exch $R0
  Push $R1
  Push $R2
  StrLen $R1 $R0
  System::Call 'shlwapi::StrSpnW(w R0, w "0123456789") i .R2'
  StrCpy $R0 $R0 1
  ${If} $R1 > 0
  ${AndIf} $R1 <= 10
  ${AndIf} $R2 = $R1
  ${AndIf} $R0 != "0"
    StrCpy $R0 1
  ${Else}
    StrCpy $R0 0
  ${EndIf}
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; DownTmp holds what the updater wrote there: installers (*.exe) and its
; temporary files (un.IsUpdaterTemp). Only those go, and only as regular
; files lying in it themselves. The folder is held open while this works
; in it: with delete access and without delete sharing, so that nobody can
; rename it or swap it for a link meanwhile, and only after it was seen to
; be DownTmp itself (no link, resolved to where it lies). Each entry is
; opened relative to that handle without following a link, checked on its
; own handle (a regular file, no reparse point, one link, resolved to where
; it lies: Wine opens a symbolic link to a file as that file) and deleted
; through it. DownTmp itself goes, through its handle, when that leaves it
; empty; a file the product did not write keeps it.
; Registers: $R5 the folder's path, $R6 what it resolves to, $R7 its handle.
Function un.RemoveDownloads
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  Push $R9
  StrCpy $R5 "$INSTDIR\${DOWNLOADS}"
  Push $INSTDIR
  Call un.FinalPath
  Pop $R6
  StrCpy $R7 -1
  ${If} $R6 != ""
    StrCpy $R6 "$R6\${DOWNLOADS}"
    ; DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
    ; FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
    ; FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT
    System::Call 'kernel32::CreateFileW(w R5, i 0x00110081, i 3, p 0, i 3, i 0x02200000, p 0) p .R7'
  ${EndIf}
  ${If} $R7 P<> -1
    ; FILE_ATTRIBUTE_TAG_INFO: a folder, no reparse point.
    System::Call '*(i, i) p .R0'
    System::Call 'kernel32::GetFileInformationByHandleEx(p R7, i 9, p R0, i 8) i .R1'
    System::Call '*$R0(i .R2)'
    System::Free $R0
    IntOp $R2 $R2 & 0x410
    Push $R7
    Call un.FinalPathOf
    Pop $R3
    ${If} $R1 <> 0
    ${AndIf} $R2 = 0x10
    ${AndIf} $R3 == $R6
      ; Listed through the held handle (its path may not be opened again
      ; meanwhile): FILE_ID_BOTH_DIR_INFO entries, the name's length in
      ; bytes at 60, the name at 104.
      System::Call '*(&i65536) p .R8'
      StrCpy $R9 11  ; FileIdBothDirectoryRestartInfo
      ${Do}
        System::Call 'kernel32::GetFileInformationByHandleEx(p R7, i R9, p R8, i 65536) i .R1'
        ${If} $R1 = 0
          ${Break}
        ${EndIf}
        StrCpy $R9 10  ; FileIdBothDirectoryInfo: the next ones
        StrCpy $R0 $R8
        ${Do}
          System::Call '*$R0(i .R1)'
          IntPtrOp $R2 $R0 + 60
          System::Call '*$R2(i .R3)'
          IntOp $R3 $R3 / 2
          IntOp $R3 $R3 + 1
          IntPtrOp $R2 $R0 + 104
          System::Call 'kernel32::lstrcpynW(w .R4, p R2, i R3) p'
          StrCpy $R3 $R4 "" -4
          ${If} $R3 == ".exe"
            StrCpy $R3 1
          ${Else}
            Push $R4
            Call un.IsUpdaterTemp
            Pop $R3
          ${EndIf}
          ${If} $R3 = 1
            Push $R4
            Call un.DeleteHeldEntry
          ${EndIf}
          ${If} $R1 = 0
            ${Break}
          ${EndIf}
          IntPtrOp $R0 $R0 + $R1
        ${Loop}
      ${Loop}
      System::Free $R8
      ; FileDispositionInfo: the folder goes when its handle closes, if empty.
      System::Call '*(&i1 1) p .R0'
      System::Call 'kernel32::SetFileInformationByHandle(p R7, i 4, p R0, i 1) i'
      System::Free $R0
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R7)'
  ${EndIf}
  Pop $R9
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; Deletes the entry named on the stack of the folder held on $R7 (resolved
; to $R6) when it is a plain file of its own, deciding on the entry's own
; handle and deleting through it.
Function un.DeleteHeldEntry
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R8
  Push $R9
  ; UNICODE_STRING and OBJECT_ATTRIBUTES (OBJ_CASE_INSENSITIVE) naming the
  ; entry relative to the held folder.
  StrLen $R1 $R0
  IntOp $R1 $R1 * 2
  System::Call '*(&w${NSIS_MAX_STRLEN} R0) p .R2'
  System::Call '*(&i2 R1, &i2 R1, i 0, p R2) p .R3'
  System::Call '*(i 48, i 0, p R7, p R3, i 0x40, i 0, p 0, p 0) p .R4'
  System::Call '*(&i16) p .R8'
  ; DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE; FILE_SHARE_READ |
  ; FILE_SHARE_WRITE; FILE_OPEN; FILE_OPEN_REPARSE_POINT |
  ; FILE_NON_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT.
  System::Call 'ntdll::NtCreateFile(*p .R9, i 0x00110080, p R4, p R8, p 0, i 0, i 3, i 1, i 0x00200060, p 0, i 0) i .R1'
  System::Free $R8
  System::Free $R4
  System::Free $R3
  System::Free $R2
  ${If} $R1 = 0
    StrCpy $R8 0
    ; FILE_ATTRIBUTE_TAG_INFO: no folder, no reparse point.
    System::Call '*(i, i) p .R2'
    System::Call 'kernel32::GetFileInformationByHandleEx(p R9, i 9, p R2, i 8) i .R1'
    System::Call '*$R2(i .R3)'
    System::Free $R2
    IntOp $R3 $R3 & 0x410
    ${If} $R1 <> 0
    ${AndIf} $R3 = 0
      ; FILE_STANDARD_INFO: one link only (no other name of a user's file).
      System::Call '*(&i24) p .R2'
      System::Call 'kernel32::GetFileInformationByHandleEx(p R9, i 1, p R2, i 24) i .R1'
      System::Call '*$R2(l, l, i .R3)'
      System::Free $R2
      ${If} $R1 <> 0
      ${AndIf} $R3 = 1
        Push $R9
        Call un.FinalPathOf
        Pop $R3
        ${If} $R3 == "$R6\$R0"
          StrCpy $R8 1
        ${EndIf}
      ${EndIf}
    ${EndIf}
    ${If} $R8 = 1
      ; FileDispositionInfo through the handle that was checked.
      System::Call '*(&i1 1) p .R2'
      System::Call 'kernel32::SetFileInformationByHandle(p R9, i 4, p R2, i 1) i'
      System::Free $R2
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R9)'
  ${EndIf}
  Pop $R9
  Pop $R8
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd
