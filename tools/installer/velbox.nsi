; Installer of Velmora音乐盒 (client velBox.exe and updater velUpdate.exe).
; Built by the CMake targets `installer` and `installer_test`:
;   makensis -INPUTCHARSET UTF8 -DVELBOX_VERSION=1.0.0 -DVELBOX_CLIENT=... \
;            -DVELBOX_UPDATER=... -DVELBOX_ICON=... -DVELBOX_OUTFILE=... \
;            -DVELBOX_WEB_HOST=host[:port] velbox.nsi
; -DVELBOX_SILENT_ALWAYS gives a variant that runs silently without
; arguments wherever it is started from (the tests' stand-in for an update).
;
; Built-in instructions, the System plugin and the Modern UI's pages (with
; nsDialogs), all part of NSIS.
;
; Installed for the user who runs it, into their own profile, with the
; user's rights: it never asks for administrator rights, so the installer an
; update downloads runs without a prompt. The programs keep cfg.xml and
; DownTmp in their folder, which the user can write.
;
; What a cut-off install leaves: every program file is written under a
; temporary name, flushed to the disk and then given its name in one step,
; so each is the old or the new one, whole. A running program's file is
; moved aside instead of being overwritten; the next run of the installer or
; the uninstaller clears what was left aside or half written.

Unicode true
Target amd64-unicode

!macro VelRequire NAME
  !ifndef ${NAME}
    !error "-D${NAME}=... is missing"
  !endif
!macroend
!insertmacro VelRequire VELBOX_VERSION
!insertmacro VelRequire VELBOX_CLIENT
!insertmacro VelRequire VELBOX_UPDATER
!insertmacro VelRequire VELBOX_ICON
!insertmacro VelRequire VELBOX_OUTFILE
!insertmacro VelRequire VELBOX_WEB_HOST

!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "TextFunc.nsh"
!addincludedir "${__FILEDIR__}"

; -DVELBOX_CODESIGN=<signing command> -DVELBOX_CODESIGN_CERT=<PKCS#12 file>
; [-DVELBOX_CODESIGN_TIMESTAMP=<url>]: the uninstaller is signed before it
; is packed, the installer when it is written (tools/codesign.sh; the
; certificate's password is in the environment).
!ifdef VELBOX_CODESIGN
  !insertmacro VelRequire VELBOX_CODESIGN_CERT
  !ifndef VELBOX_CODESIGN_TIMESTAMP
    !define VELBOX_CODESIGN_TIMESTAMP ""
  !endif
  !uninstfinalize '"${VELBOX_CODESIGN}" "${VELBOX_CODESIGN_CERT}" "%1" ${VELBOX_CODESIGN_TIMESTAMP}' = 0
  !finalize '"${VELBOX_CODESIGN}" "${VELBOX_CODESIGN_CERT}" "%1" ${VELBOX_CODESIGN_TIMESTAMP}' = 0
!endif

!define PRODUCT "Velmora音乐盒"
!define SITE "Velmora音乐网"
!define UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALLER "uninst.exe"
!define DOWNLOADS "DownTmp"
; The client's hidden tray window and the updater's window. Sent this
; message, each ends: the client through its tray menu's exit path (the tray
; icon goes, cfg.xml is not written), the updater cancelling its transfer
; and starting nothing.
!define CLIENT_WINDOW_CLASS "velBoxMenu"
!define UPDATER_WINDOW_CLASS "velUpdateMain"
!define EXIT_MESSAGE 0x8101  ; WM_APP + 0x101
; The client's main window, by its class and title: whether it was shown.
!define MAIN_WINDOW_CLASS "velForm"
!define MAIN_WINDOW_TITLE "Velmora音乐网 - 给你最好的音乐"
; The names of the files this and earlier installers wrote into the
; installation, one a line: the uninstaller removes those and no others.
!define FILE_LIST "uninst.lst"
; Written by the uninstaller before it removes anything; a program still
; running from the folder then writes nothing (win::RemovedUnder), and the
; folder counts as this product's for the next install, which clears it.
!define REMOVED_MARK "uninstalled.mark"
; Temporary files of the updater in DownTmp (updatelogic::OwnTemporaryName).
!define UPDATER_TEMP_PREFIX "~velUpdate-"
; Exit codes: /D= (or the default folder) names a folder that holds other
; files and is no installation of this product; the uninstaller could not
; end a program of its folder and changed nothing.
!define EXIT_FOLDER_REFUSED 3
!define EXIT_PROGRAM_RUNS 4

Name "${PRODUCT}"
OutFile "${VELBOX_OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
RequestExecutionLevel user
SetCompressor /SOLID lzma
ManifestDPIAware true
XPStyle on
ShowInstDetails show
ShowUninstDetails show
InstallColors /windows
BrandingText "${PRODUCT} ${VELBOX_VERSION}"
!define MUI_ICON "${VELBOX_ICON}"
!define MUI_UNICON "${VELBOX_ICON}"
!ifdef VELBOX_SILENT_ALWAYS
  SilentInstall silent
!endif


VIProductVersion "${VELBOX_VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VELBOX_VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VELBOX_VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=0 "CompanyName" "${SITE}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${SITE}"

!include "MUI2.nsh"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; The last page asks whether to start the client ("运行 Velmora音乐盒", on
; by default) instead of always starting it.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION RunClientAtEnd
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Var Pid             ; this process's id, in the names of its temporary files
Var UpdateMode      ; 1: started by the updater from the folder's own DownTmp
Var ClientEnded     ; 1: a running client had to be ended to replace its file
Var ClientWasShown  ; 1: its main window was shown when it was ended
Var Recorded        ; the installation: InstallLocation of this user's entry
Var IsRecorded      ; 1: $INSTDIR is that folder itself

; Releases the COM interface in the register when there is one.
!macro VelRelease REG
  ${If} ${REG} P<> 0
    System::Call '${REG}->2()'  ; IUnknown::Release
    StrCpy ${REG} 0
  ${EndIf}
!macroend

; Functions both the installer and the uninstaller use are defined twice,
; the uninstaller's with NSIS's "un." prefix.
!macro VelShared UN

; --- one installer at a time ----------------------------------------------------

; Two installers (the one an update started and one the user started), or an
; installer and the uninstaller, would mix their files. The later one waits
; for the earlier; the mutex of one that was killed counts as free
; (WAIT_ABANDONED). The handle stays open until this process ends.
Function ${UN}OneAtATime
  System::Call 'kernel32::CreateMutexW(p 0, i 0, w "Local\velBox.Setup") p .R0'
  ${If} $R0 P<> 0
    System::Call 'kernel32::WaitForSingleObject(p R0, i 120000) i .R1'
    ${If} $R1 = 0x102  ; WAIT_TIMEOUT
      MessageBox MB_OK|MB_ICONSTOP "另一个 ${PRODUCT} 安装程序正在运行。" /SD IDOK
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; --- the installation -------------------------------------------------------

; 1 on the stack when the two paths on the stack name the same existing
; folder, compared as the folders themselves (volume serial number and file
; id of both opened), not as spellings: a short name, another case or a
; trailing separator is the same folder; a copy is not.
Function ${UN}SameFolder
  Exch $R0
  Exch
  Exch $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  Push $R9
  Push $0
  StrCpy $R9 0
  ; FILE_READ_ATTRIBUTES, any sharing, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS
  System::Call 'kernel32::CreateFileW(w R1, i 0x80, i 7, p 0, i 3, i 0x02000000, p 0) p .R2'
  System::Call 'kernel32::CreateFileW(w R0, i 0x80, i 7, p 0, i 3, i 0x02000000, p 0) p .R3'
  ${If} $R2 P<> -1
  ${AndIf} $R3 P<> -1
    ; BY_HANDLE_FILE_INFORMATION: attributes, three times, volume serial
    ; number, size (high, low), links, index (high, low).
    System::Call '*(&i52) p .R4'
    System::Call 'kernel32::GetFileInformationByHandle(p R2, p R4) i .R5'
    ${If} $R5 <> 0
      System::Call '*$R4(i .R5, l, l, l, i .R6, i, i, i, i .R7, i .R8)'
      System::Call 'kernel32::GetFileInformationByHandle(p R3, p R4) i .R0'
      ${If} $R0 <> 0
        System::Call '*$R4(i, l, l, l, i .R0, i, i, i, i .R1, i .r0)'
        IntOp $R5 $R5 & 0x10  ; a folder
        ${If} $R5 <> 0
        ${AndIf} $R0 = $R6
        ${AndIf} $R1 = $R7
        ${AndIf} $0 = $R8
          StrCpy $R9 1
        ${EndIf}
      ${EndIf}
    ${EndIf}
    System::Free $R4
  ${EndIf}
  ${If} $R2 P<> -1
    System::Call 'kernel32::CloseHandle(p R2)'
  ${EndIf}
  ${If} $R3 P<> -1
    System::Call 'kernel32::CloseHandle(p R3)'
  ${EndIf}
  StrCpy $R0 $R9
  Pop $0
  Pop $R9
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Reads the installation this user's entry records into $Recorded and
; whether $INSTDIR is that folder into $IsRecorded.
Function ${UN}ReadRecorded
  SetRegView 32
  ReadRegStr $Recorded HKCU "${UNINST_KEY}" "InstallLocation"
  StrCpy $IsRecorded 0
  ${If} $Recorded != ""
    Push $INSTDIR
    Push $Recorded
    Call ${UN}SameFolder
    Pop $IsRecorded
  ${EndIf}
FunctionEnd

; --- ending the programs ----------------------------------------------------

; Ends the programs of this folder that have a window of the class on the
; stack (under it: 1 to end one that does not answer by force). Programs
; of that class running from other folders are not asked: a copy, another
; installation, or anything that merely made a window of that name.
; Each is asked once and waited for, on its process, up to 10 s; one that
; did not take the message or did not end is ended by force when asked for
; (and waited for until it has ended). Pushes 0 when a program of the folder
; still runs, 1 when none ran, 2 when all that ran have ended.
; Registers: $R8 the class, $R9 force, $R0 the result, $R1 the window,
; $R2 its process id, $R3 the process, $R4 its folder, $R7 rounds.
Function ${UN}EndProgramsOf
  Exch $R9
  Exch
  Exch $R8
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  StrCpy $R0 1
  StrCpy $R1 0
  StrCpy $R7 0
  ${Do}
    FindWindow $R1 "$R8" "" 0 $R1
    ${If} $R1 = 0
      ${Break}
    ${EndIf}
    System::Call 'user32::GetWindowThreadProcessId(p R1, *i .R2) i'
    ; PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE
    System::Call 'kernel32::OpenProcess(i 0x101001, i 0, i R2) p .R3'
    ${If} $R3 P<> 0
      StrCpy $R4 ""
      System::Call 'kernel32::QueryFullProcessImageNameW(p R3, i 0, w .R4, *i ${NSIS_MAX_STRLEN}) i'
      ${GetParent} "$R4" $R4
      Push $R4
      Push $INSTDIR
      Call ${UN}SameFolder
      Pop $R5
      ${If} $R5 = 1
        StrCpy $R6 0x102  ; WAIT_TIMEOUT
        ; SMTO_ABORTIFHUNG: a program that does not take its messages is
        ; not waited for.
        System::Call 'user32::SendMessageTimeoutW(p R1, i ${EXIT_MESSAGE}, p 0, p 0, i 2, i 2000, *p .R5) p .R5'
        ${If} $R5 P<> 0
          System::Call 'kernel32::WaitForSingleObject(p R3, i 10000) i .R6'
        ${EndIf}
        ${If} $R6 <> 0
        ${AndIf} $R9 = 1
          ; Its files must not be touched before it has ended for good.
          System::Call 'kernel32::TerminateProcess(p R3, i 1) i'
          System::Call 'kernel32::WaitForSingleObject(p R3, i 10000) i .R6'
        ${EndIf}
        ${If} $R6 = 0
          StrCpy $R0 2
        ${Else}
          StrCpy $R0 0
        ${EndIf}
        ; The windows have changed: from the first again.
        StrCpy $R1 0
        IntOp $R7 $R7 + 1
      ${EndIf}
      System::Call 'kernel32::CloseHandle(p R3)'
    ${EndIf}
    ${If} $R0 = 0
    ${OrIf} $R7 >= 20
      ${Break}
    ${EndIf}
  ${Loop}
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
  Exch 2
  Pop $R9
  Pop $R8
FunctionEnd

; An updater left running would finish its download after this step and
; start an installer: after an uninstall that reinstalls the product, during
; an install it starts a second one. Pushes EndProgramsOf's result.
Function ${UN}EndUpdater
  ; Said only when one runs.
  Push $R0
  FindWindow $R0 "${UPDATER_WINDOW_CLASS}"
  ${If} $R0 <> 0
    DetailPrint "正在关闭 ${PRODUCT} 更新程序..."
  ${EndIf}
  Pop $R0
  Push "${UPDATER_WINDOW_CLASS}"
  !if "${UN}" == "un."
    Push 1
  !else
    Push 0
  !endif
  Call ${UN}EndProgramsOf
FunctionEnd

; Remembers whether the client's window was shown, so that the client can be
; started again as it was. Pushes EndProgramsOf's result; the uninstaller
; ends a client that does not answer by force.
Function ${UN}EndClient
  Push $R1
  Push $R2
  FindWindow $R1 "${MAIN_WINDOW_CLASS}" "${MAIN_WINDOW_TITLE}"
  StrCpy $ClientWasShown 0
  ${If} $R1 <> 0
    System::Call 'user32::IsWindowVisible(p R1) i .R2'
    ${If} $R2 <> 0
      StrCpy $ClientWasShown 1
    ${EndIf}
  ${EndIf}
  Push "${CLIENT_WINDOW_CLASS}"
  !if "${UN}" == "un."
    Push 1
  !else
    Push 0
  !endif
  Call ${UN}EndProgramsOf
  Pop $R1
  ${If} $R1 = 2
    DetailPrint "已关闭 ${PRODUCT}。"
    StrCpy $ClientEnded 1
  ${EndIf}
  Pop $R2
  Exch $R1
FunctionEnd

; 1 on the stack when the text on the stack can only name a file directly
; in the folder: not empty, no separator, drive, wildcard or other character
; a file name cannot have, not "." or "..".
Function ${UN}IsPlainName
  Exch $R0
  Push $R1
  Push $R2
  StrCpy $R2 0
  StrLen $R1 $R0
  ${If} $R1 > 0
  ${AndIf} $R1 < 200
  ${AndIf} $R0 != "."
  ${AndIf} $R0 != ".."
    StrCpy $R2 '\/:*?"<>|'
    System::Call 'shlwapi::StrCSpnW(w R0, w R2) i .R2'
    ${If} $R2 = $R1
      StrCpy $R2 1
    ${Else}
      StrCpy $R2 0
    ${EndIf}
  ${EndIf}
  StrCpy $R0 $R2
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; 1 on the stack when the line of a file list on the stack names a file an
; installer may have written: a plain name, and not the user's cfg.xml, the
; list or the mark.
Function ${UN}IsListable
  Exch $R0
  ${If} $R0 == "cfg.xml"
  ${OrIf} $R0 == "${FILE_LIST}"
  ${OrIf} $R0 == "${REMOVED_MARK}"
    StrCpy $R0 0
  ${Else}
    Push $R0
    Call ${UN}IsPlainName
    Pop $R0
  ${EndIf}
  Exch $R0
FunctionEnd


!macroend
!insertmacro VelShared ""
!insertmacro VelShared "un."

; --- starting the client ------------------------------------------------------

; Pushes 1 when this process runs elevated (TokenElevation).
Function IsElevated
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R2 0
  System::Call 'kernel32::GetCurrentProcess() p .R0'
  System::Call 'advapi32::OpenProcessToken(p R0, i 8, *p .R0) i .R1'  ; TOKEN_QUERY
  ${If} $R1 <> 0
    System::Call 'advapi32::GetTokenInformation(p R0, i 20, *i .R2, i 4, *i .R1) i .R1'  ; TokenElevation
    ${If} $R1 = 0
      StrCpy $R2 0
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p R0)'
  ${EndIf}
  StrCpy $R0 $R2
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Starts the client with the arguments on the stack through the desktop
; shell's own process (IShellDispatch2::ShellExecute on the desktop's folder
; view), so it runs with the shell's token, the user's normal one, whatever
; this process has. Pushes 1 when the shell took the request.
; The VARIANT arguments go by address: in the x64 calling convention a
; value larger than 8 bytes is passed as a pointer to a copy.
; Registers: $R0 ShellWindows, $R2 the desktop's dispatch, $R3 and $R4 the
; interfaces along the way, $R1 the last HRESULT, $R8 the result.
Function StartThroughShell
  Exch $R9  ; arguments
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  Push $R6
  Push $R7
  Push $R8
  StrCpy $R8 0
  StrCpy $R0 0
  StrCpy $R2 0
  StrCpy $R3 0
  StrCpy $R4 0
  System::Call 'ole32::CoInitialize(p 0) i .R1'
  StrCpy $R7 $R1  ; S_OK or S_FALSE: balanced by CoUninitialize
  ; CLSID_ShellWindows, IID_IShellWindows, CLSCTX_LOCAL_SERVER
  System::Call 'ole32::CoCreateInstance(g "{9BA05972-F6A8-11CF-A442-00A0C90A8F39}", p 0, i 4, g "{85CB6900-4D95-11CF-960C-0080C7F4EE85}", *p .R0) i .R1'
  ${If} $R1 = 0
    ; FindWindowSW(no location, no root, SWC_DESKTOP, SWFO_NEEDDISPATCH):
    ; S_FALSE when there is no desktop.
    System::Call '*(&i2 0, &i2 0, &i2 0, &i2 0, p 0, p 0) p .R5'
    System::Call '$R0->15(p R5, p R5, i 8, *i, i 1, *p .R2) i .R1'
    System::Free $R5
  ${EndIf}
  ${If} $R1 = 0
  ${AndIf} $R2 P<> 0
    ; IServiceProvider::QueryService(SID_STopLevelBrowser, IID_IShellBrowser)
    System::Call '$R2->0(g "{6D5140C1-7436-11CE-8034-00AA006009FA}", *p .R3) i .R1'
    ${If} $R1 = 0
      System::Call '$R3->3(g "{4C96BE40-915C-11CF-99D3-00AA004AE837}", g "{000214E2-0000-0000-C000-000000000046}", *p .R4) i .R1'
      !insertmacro VelRelease $R3
    ${EndIf}
  ${Else}
    StrCpy $R1 1
  ${EndIf}
  ${If} $R1 = 0
    ; IShellBrowser::QueryActiveShellView
    System::Call '$R4->15(*p .R3) i .R1'
    !insertmacro VelRelease $R4
  ${EndIf}
  ${If} $R1 = 0
    ; IShellView::GetItemObject(SVGIO_BACKGROUND, IID_IDispatch)
    System::Call '$R3->15(i 0, g "{00020400-0000-0000-C000-000000000046}", *p .R4) i .R1'
    !insertmacro VelRelease $R3
  ${EndIf}
  ${If} $R1 = 0
    ; IShellFolderViewDual::get_Application
    System::Call '$R4->0(g "{E7A1AF80-4D96-11CF-960C-0080C7F4EE85}", *p .R3) i .R1'
    !insertmacro VelRelease $R4
  ${EndIf}
  ${If} $R1 = 0
    System::Call '$R3->7(*p .R4) i .R1'
    !insertmacro VelRelease $R3
  ${EndIf}
  ${If} $R1 = 0
    ; IShellDispatch2
    System::Call '$R4->0(g "{A4C6892C-3BA9-11D2-9DEA-00C04FB16162}", *p .R3) i .R1'
    !insertmacro VelRelease $R4
  ${EndIf}
  ${If} $R1 = 0
    ; ShellExecute(file, arguments, folder, operation, show): VT_BSTR (8)
    ; arguments and folder, no operation (the default verb), VT_I4 (3)
    ; SW_SHOWNORMAL.
    System::Call 'oleaut32::SysAllocString(w "$INSTDIR\velBox.exe") p .R5'
    System::Call 'oleaut32::SysAllocString(w R9) p .R6'
    System::Call '*(&i2 8, &i2 0, &i2 0, &i2 0, p R6, p 0) p .R4'
    System::Call 'oleaut32::SysAllocString(w "$INSTDIR") p .R6'
    System::Call '*(&i2 8, &i2 0, &i2 0, &i2 0, p R6, p 0) p .R6'
    Push $R6
    System::Call '*(&i2 0, &i2 0, &i2 0, &i2 0, p 0, p 0) p .R6'
    Push $R6
    System::Call '*(&i2 3, &i2 0, &i2 0, &i2 0, i 1, i 0, p 0) p .R6'
    Pop $R2  ; operation
    Pop $R0  ; folder
    System::Call '$R3->31(p R5, p R4, p R0, p R2, p R6) i .R1'
    ${If} $R1 = 0
      StrCpy $R8 1
    ${EndIf}
    !insertmacro VelRelease $R3
    ; The blocks and the strings in them are ours.
    System::Call 'oleaut32::SysFreeString(p R5)'
    System::Call '*$R4(&i8, p .R5)'
    System::Call 'oleaut32::SysFreeString(p R5)'
    System::Call '*$R0(&i8, p .R5)'
    System::Call 'oleaut32::SysFreeString(p R5)'
    System::Free $R4
    System::Free $R0
    System::Free $R2
    System::Free $R6
    StrCpy $R0 0
    StrCpy $R2 0
    StrCpy $R4 0
  ${EndIf}
  !insertmacro VelRelease $R2
  !insertmacro VelRelease $R0
  ${If} $R7 >= 0
    System::Call 'ole32::CoUninitialize()'
  ${EndIf}
  StrCpy $R9 $R8
  Pop $R8
  Pop $R7
  Pop $R6
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
  Exch $R9
FunctionEnd

; Starts the client (arguments on the stack) with the user's normal token.
; A process this one starts directly inherits its token: that is right only
; when this one is not elevated. Elevated and without the shell, the client
; is not started at all.
Function StartClient
  Exch $R0
  Push $R1
  Push $R0
  Call StartThroughShell
  Pop $R1
  ${If} $R1 <> 1
    Call IsElevated
    Pop $R1
    ${If} $R1 = 0
      SetOutPath "$INSTDIR"
      Exec '"$INSTDIR\velBox.exe" $R0'
    ${EndIf}
  ${EndIf}
  Pop $R1
  Pop $R0
FunctionEnd

; --- what a cut-off run left ------------------------------------------------

; "<name>.<pid>.tmp": a file being written; "<name>.<pid>-<tick>.old": a
; program's file moved aside while it ran. The name is on the stack.
; A program file missing beside its file moved aside is a swap cut off
; between its two renames: the old file gets its name back, whole. A file
; the uninstaller moved aside ("<name>.0-<tick>.old") never does.
Function RecoverFile
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  ${IfNot} ${FileExists} "$INSTDIR\$R0"
    FindFirst $R1 $R2 "$INSTDIR\$R0.*.old"
    ${DoWhile} $R2 != ""
      StrLen $R3 "$R0.0-"
      StrCpy $R3 $R2 $R3
      ${If} $R3 != "$R0.0-"
        System::Call 'kernel32::MoveFileExW(w "$INSTDIR\$R2", w "$INSTDIR\$R0", i 8) i'
        ${Break}
      ${EndIf}
      FindNext $R1 $R2
    ${Loop}
    FindClose $R1
  ${EndIf}
  ; Half-written files, and files left aside that no program uses any more.
  Delete "$INSTDIR\$R0.*.tmp"
  Delete "$INSTDIR\$R0.*.old"
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

Function RecoverFiles
  ClearErrors
  Push "velBox.exe"
  Call RecoverFile
  Push "velUpdate.exe"
  Call RecoverFile
  Push "Icon.ico"
  Call RecoverFile
  Push "${UNINSTALLER}"
  Call RecoverFile
  Push "${FILE_LIST}"
  Call RecoverFile
  ClearErrors
FunctionEnd

; --- files ------------------------------------------------------------------

; Gives the flushed file "<name>.<pid>.tmp" (name on the stack) its name in
; one step. A running program's file cannot be replaced but can be renamed:
; it is moved aside to "<name>.<pid>-<tick>.old", and the new file takes the
; name right after; the program runs on from the file moved aside. A program
; that is still ending holds its file a moment longer: tried for about 12 s;
; when the file is the client's and 2 s did not do, the client is ended
; (and started again at the end), and a client that does not end fails the
; step at once. Pushes 1 on success.
Function PutInPlace
  Exch $R0
  Push $R1
  Push $R2
  Push $R3
  Push $R4
  Push $R5
  StrCpy $R5 0
  StrCpy $R1 "$INSTDIR\$R0.$Pid.tmp"
  StrCpy $R4 0
  ${Do}
    ; MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH
    System::Call 'kernel32::MoveFileExW(w R1, w "$INSTDIR\$R0", i 9) i .R2'
    ${If} $R2 <> 0
      StrCpy $R5 1
      ${Break}
    ${EndIf}
    System::Call 'kernel32::GetTickCount() i .R3'
    IntFmt $R3 "%u" $R3
    StrCpy $R3 "$INSTDIR\$R0.$Pid-$R3.old"
    System::Call 'kernel32::MoveFileExW(w "$INSTDIR\$R0", w R3, i 8) i .R2'
    ${If} $R2 <> 0
      System::Call 'kernel32::MoveFileExW(w R1, w "$INSTDIR\$R0", i 9) i .R2'
      ${If} $R2 <> 0
        StrCpy $R5 1
        ${Break}
      ${EndIf}
      ; The new file could not take the name: the old one gets it back.
      System::Call 'kernel32::MoveFileExW(w R3, w "$INSTDIR\$R0", i 8) i'
    ${EndIf}
    IntOp $R4 $R4 + 1
    ${If} $R4 = 10
    ${AndIf} $R0 == "velBox.exe"
      ; Renaming was refused too: the client is ended and started again at
      ; the end, in the state it had. One that stays keeps its file.
      Call EndClient
      Pop $R2
      ${If} $R2 = 0
        ${Break}
      ${EndIf}
    ${ElseIf} $R4 >= 60
      ${Break}
    ${EndIf}
    Sleep 200
  ${Loop}
  StrCpy $R0 $R5
  Pop $R5
  Pop $R4
  Pop $R3
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Writes the file's content to the disk before it gets its name: otherwise
; the rename may reach the disk first, and a power cut then leaves a file
; of zeros under the program's name. Path on the stack; pushes 1 on success.
Function FlushFile
  Exch $R0
  Push $R1
  Push $R2
  StrCpy $R2 0
  ; GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING
  System::Call 'kernel32::CreateFileW(w R0, i 0x40000000, i 1, p 0, i 3, i 0x80, p 0) p .R1'
  ${If} $R1 P<> -1
    System::Call 'kernel32::FlushFileBuffers(p R1) i .R2'
    System::Call 'kernel32::CloseHandle(p R1)'
  ${EndIf}
  StrCpy $R0 $R2
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

; Puts one program file in place (SOURCE empty: the uninstaller): written
; under its temporary name, flushed, then renamed over the old one. Never skipped silently: a file that cannot
; be placed lets the user retry, or fails the installation. The details list
; names the product's file, not the temporary one.
!macro VelPlaceFile SOURCE NAME
  !if "${SOURCE}" == ""
    DetailPrint "$(^CreatedUninstaller)$INSTDIR\${NAME}"
  !else
    DetailPrint "$(^Extract)${NAME}"
  !endif
  ${Do}
    ClearErrors
    SetDetailsPrint none
    !if "${SOURCE}" == ""
      WriteUninstaller "$INSTDIR\${NAME}.$Pid.tmp"
    !else
      File "/oname=${NAME}.$Pid.tmp" "${SOURCE}"
    !endif
    SetDetailsPrint both
    StrCpy $R9 0
    ${IfNot} ${Errors}
      Push "$INSTDIR\${NAME}.$Pid.tmp"
      Call FlushFile
      Pop $R9
    ${EndIf}
    ${If} $R9 = 1
      Push "${NAME}"
      Call PutInPlace
      Pop $R9
    ${EndIf}
    ${If} $R9 = 1
      ${Break}
    ${EndIf}
    SetDetailsPrint none
    Delete "$INSTDIR\${NAME}.$Pid.tmp"
    SetDetailsPrint both
    MessageBox MB_RETRYCANCEL|MB_ICONSTOP "无法写入文件：$INSTDIR\${NAME}$\r$\n请退出 ${PRODUCT} 后点击“重试”。" /SD IDCANCEL IDRETRY +2
    Abort "无法写入文件：$INSTDIR\${NAME}"
  ${Loop}
!macroend

; Adds the size of the installed file NAME to $R0 (bytes).
!macro VelAddFileSize NAME
  ClearErrors
  FileOpen $R1 "$INSTDIR\${NAME}" r
  ${IfNot} ${Errors}
    FileSeek $R1 0 END $R2
    FileClose $R1
    IntOp $R0 $R0 + $R2
  ${EndIf}
!macroend

; What the Apps list shows beside the name: the size of what was installed
; (KiB, rounded up), the day of the installation (yyyymmdd, local time) and
; the web site.
Function WriteAppsListValues
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R0 0
  !insertmacro VelAddFileSize "velBox.exe"
  !insertmacro VelAddFileSize "velUpdate.exe"
  !insertmacro VelAddFileSize "Icon.ico"
  !insertmacro VelAddFileSize "${UNINSTALLER}"
  IntOp $R0 $R0 + 1023
  IntOp $R0 $R0 / 1024
  WriteRegDWORD HKCU "${UNINST_KEY}" "EstimatedSize" $R0
  ; SYSTEMTIME: year, month, day of the week, day.
  System::Call '*(&i2, &i2, &i2, &i2, &i2, &i2, &i2, &i2) p .R0'
  System::Call 'kernel32::GetLocalTime(p R0)'
  System::Call '*$R0(&i2 .R1, &i2 .R2, &i2, &i2 .R3)'
  System::Free $R0
  IntFmt $R2 "%02u" $R2
  IntFmt $R3 "%02u" $R3
  WriteRegStr HKCU "${UNINST_KEY}" "InstallDate" "$R1$R2$R3"
  WriteRegStr HKCU "${UNINST_KEY}" "URLInfoAbout" "http://${VELBOX_WEB_HOST}"
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; --- installer ----------------------------------------------------------------

; Writes the list of the files installers wrote here (FILE_LIST), whole as a
; program file is: the names an earlier list holds (an earlier version may
; have written files this one does not), then this installer's own.
; Written before any program file, so that each is on the list before it
; is on the disk.
Function WriteFileList
  Push $R0
  Push $R1
  Push $R2
  Push $R3
  StrCpy $R9 0
  ClearErrors
  FileOpen $R0 "$INSTDIR\${FILE_LIST}.$Pid.tmp" w
  ${IfNot} ${Errors}
    FileOpen $R1 "$INSTDIR\${FILE_LIST}" r
    ${IfNot} ${Errors}
      ${Do}
        ClearErrors
        FileRead $R1 $R2
        ${If} ${Errors}
          ${Break}
        ${EndIf}
        ${TrimNewLines} $R2 $R2
        Push $R2
        Call IsListable
        Pop $R3
        ${If} $R3 = 1
        ${AndIf} $R2 != "velBox.exe"
        ${AndIf} $R2 != "velUpdate.exe"
        ${AndIf} $R2 != "Icon.ico"
        ${AndIf} $R2 != "${UNINSTALLER}"
          FileWrite $R0 "$R2$\r$\n"
        ${EndIf}
      ${Loop}
      FileClose $R1
    ${EndIf}
    ClearErrors
    FileWrite $R0 "velBox.exe$\r$\nvelUpdate.exe$\r$\nIcon.ico$\r$\n${UNINSTALLER}$\r$\n"
    FileClose $R0
    ${IfNot} ${Errors}
      Push "$INSTDIR\${FILE_LIST}.$Pid.tmp"
      Call FlushFile
      Pop $R9
    ${EndIf}
    ${If} $R9 = 1
      Push "${FILE_LIST}"
      Call PutInPlace
      Pop $R9
    ${EndIf}
  ${EndIf}
  ${If} $R9 <> 1
    Delete "$INSTDIR\${FILE_LIST}.$Pid.tmp"
    Abort "无法写入文件：$INSTDIR\${FILE_LIST}"
  ${EndIf}
  Pop $R3
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

; 1 on the stack when $INSTDIR may be installed into: a folder that does
; not exist yet or is empty, the installation itself, or a folder of this
; product (its file list, the files an installer before the list wrote, or
; what an uninstall left). A folder that already holds other files is the
; user's or another program's: installing there would overwrite its files,
; and the uninstaller would later take them.
Function InstallDirAllowed
  Push $R0
  Push $R1
  StrCpy $R1 0
  ${DirState} "$INSTDIR" $R0
  ${If} $R0 = -1
    ${IfNot} ${FileExists} "$INSTDIR"
      StrCpy $R1 1
    ${EndIf}
  ${ElseIf} $R0 = 0
    StrCpy $R1 1
  ${ElseIf} ${FileExists} "$INSTDIR\${FILE_LIST}"
  ${OrIf} ${FileExists} "$INSTDIR\${REMOVED_MARK}"
    StrCpy $R1 1
  ${ElseIf} ${FileExists} "$INSTDIR\velBox.exe"
  ${AndIf} ${FileExists} "$INSTDIR\${UNINSTALLER}"
    StrCpy $R1 1
  ${ElseIf} $Recorded != ""
    Push $INSTDIR
    Push $Recorded
    Call SameFolder
    Pop $R1
  ${EndIf}
  StrCpy $R0 $R1
  Pop $R1
  Exch $R0
FunctionEnd

Function .onInit
  Call OneAtATime
  SetShellVarContext current
  System::Call 'kernel32::GetCurrentProcessId() i .s'
  Pop $Pid
  StrCpy $UpdateMode 0
  StrCpy $ClientEnded 0
  StrCpy $ClientWasShown 0
  ; An upgrade goes where the installed client is, unless /D= says otherwise.
  Call ReadRecorded
  ${If} $Recorded != ""
  ${AndIf} $INSTDIR == "$LOCALAPPDATA\Programs\${PRODUCT}"
  ${AndIf} ${FileExists} "$Recorded\velBox.exe"
    StrCpy $INSTDIR $Recorded
  ${EndIf}
  ; Started from the installation's own DownTmp, it was started by the
  ; installation's updater: an update of that folder, without a page, a
  ; question or a message (the updater passes no arguments). The folders
  ; themselves are compared, not their names: from any other folder named
  ; DownTmp, beside whatever programs, it is an installer started by hand.
  ${If} $Recorded != ""
  ${AndIf} ${FileExists} "$Recorded\velBox.exe"
  ${AndIf} ${FileExists} "$Recorded\${UNINSTALLER}"
    Push $EXEDIR
    Push "$Recorded\${DOWNLOADS}"
    Call SameFolder
    Pop $0
    ${If} $0 = 1
      StrCpy $UpdateMode 1
      StrCpy $INSTDIR $Recorded
      SetSilent silent
    ${EndIf}
  ${EndIf}
  ; Without a page to choose another, a folder of other files is refused.
  ${If} ${Silent}
    Call InstallDirAllowed
    Pop $0
    ${If} $0 <> 1
      SetErrorLevel ${EXIT_FOLDER_REFUSED}
      Quit
    ${EndIf}
  ${EndIf}
FunctionEnd

; The folder page: Next only for a folder that may be installed into
; (browsing adds the product's folder name, the last part of InstallDir).
Function .onVerifyInstDir
  Call InstallDirAllowed
  Pop $0
  ${If} $0 <> 1
    Abort
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  ; Recorded by its full long name: a start through a short name (8.3)
  ; must not record the installation under that name.
  CreateDirectory "$INSTDIR"
  System::Call 'kernel32::GetLongPathNameW(w "$INSTDIR", w .R0, i ${NSIS_MAX_STRLEN}) i .R1'
  ${If} $R1 > 0
  ${AndIf} $R1 < ${NSIS_MAX_STRLEN}
    StrCpy $INSTDIR $R0
  ${EndIf}
  SetOutPath "$INSTDIR"
  Call EndUpdater
  Pop $0
  ; What a cut-off run left is no news for the user.
  SetDetailsPrint none
  Call RecoverFiles
  Call WriteFileList
  SetDetailsPrint both
  ; cfg.xml is the user's: it is not shipped, so an upgrade keeps it as it is.
  !insertmacro VelPlaceFile "${VELBOX_CLIENT}" "velBox.exe"
  !insertmacro VelPlaceFile "${VELBOX_UPDATER}" "velUpdate.exe"
  !insertmacro VelPlaceFile "${VELBOX_ICON}" "Icon.ico"
  !insertmacro VelPlaceFile "" "${UNINSTALLER}"

  SetShellVarContext current
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\velBox.exe" "" "$INSTDIR\Icon.ico" 0

  ; The client reads this key in the 32-bit view, under HKCU when HKLM has
  ; none. Values are written one by one so that the client's own
  ; "FirstStart" survives an upgrade.
  SetRegView 32
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayVersion" "${VELBOX_VERSION}"
  WriteRegStr HKCU "${UNINST_KEY}" "Publisher" "${SITE}"
  WriteRegStr HKCU "${UNINST_KEY}" "DisplayIcon" "$INSTDIR\Icon.ico"
  WriteRegStr HKCU "${UNINST_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegStr HKCU "${UNINST_KEY}" "InstallLocation" "$INSTDIR"
  Call WriteAppsListValues
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
  ; The installation again: what an uninstall marked here no longer holds
  ; (no news for the user either).
  SetDetailsPrint none
  Delete "$INSTDIR\${REMOVED_MARK}"
  SetDetailsPrint both

  ; A client that had to be ended comes back as it was: shown, or hidden in
  ; the tray as at log-on.
  ${If} $ClientEnded = 1
    ${If} $ClientWasShown = 1
      Push ""
    ${Else}
      Push "/regstart"
    ${EndIf}
    Call StartClient
  ${EndIf}
SectionEnd

; By hand, the finish page's box starts the client (a client still running
; keeps playing and the new start ends at once, as any second start does);
; one this installer ended has been started again already.
Function RunClientAtEnd
  ${If} $ClientEnded = 0
    Push ""
    Call StartClient
  ${EndIf}
FunctionEnd

; --- uninstaller --------------------------------------------------------------

Function un.onInit
  Call un.OneAtATime
  StrCpy $ClientEnded 0
  StrCpy $ClientWasShown 0
  Call un.ReadRecorded
FunctionEnd

; A program of the folder that could not be ended: nothing has been changed,
; and that is said (the exit code with /S).
Function un.Unchanged
  MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} 仍在运行，无法关闭。卸载未进行，没有任何改动。" /SD IDOK
  SetErrorLevel ${EXIT_PROGRAM_RUNS}
  Quit
FunctionEnd

; Removes the program file named on the stack and what a cut-off install
; left of it. One that is still in use (a program that started while this
; ran) is moved aside, so the name is free for a reinstall, and that file
; alone is left to go at the next restart where the system allows it; it
; never gets its name back (process id 0 in its name says so).
Function un.RemoveProgram
  Exch $R3
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R0 0
  ${DoWhile} ${FileExists} "$INSTDIR\$R3"
    ClearErrors
    Delete "$INSTDIR\$R3"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $R0 $R0 + 1
    ${If} $R0 >= 50
      System::Call 'kernel32::GetTickCount() i .R1'
      IntFmt $R1 "%u" $R1
      System::Call 'kernel32::MoveFileExW(w "$INSTDIR\$R3", w "$INSTDIR\$R3.0-$R1.old", i 8) i .R2'
      ${If} $R2 <> 0
        Delete /REBOOTOK "$INSTDIR\$R3.0-$R1.old"
      ${EndIf}
      ${Break}
    ${EndIf}
    Sleep 200
  ${Loop}
  Delete "$INSTDIR\$R3.*.tmp"
  Delete "$INSTDIR\$R3.*.old"
  Pop $R2
  Pop $R1
  Pop $R0
  Pop $R3
FunctionEnd

; The files the installers wrote, by their list; an installation made
; before the list holds the four files installers have always written.
Function un.RemoveListed
  Push $R0
  Push $R1
  Push $R2
  ClearErrors
  FileOpen $R0 "$INSTDIR\${FILE_LIST}" r
  ${If} ${Errors}
    Push "velBox.exe"
    Call un.RemoveProgram
    Push "velUpdate.exe"
    Call un.RemoveProgram
    Push "Icon.ico"
    Call un.RemoveProgram
    Push "${UNINSTALLER}"
    Call un.RemoveProgram
  ${Else}
    ${Do}
      ClearErrors
      FileRead $R0 $R1
      ${If} ${Errors}
        ${Break}
      ${EndIf}
      ${TrimNewLines} $R1 $R1
      Push $R1
      Call un.IsListable
      Pop $R2
      ${If} $R2 = 1
        Push $R1
        Call un.RemoveProgram
      ${EndIf}
    ${Loop}
    FileClose $R0
  ${EndIf}
  Delete "$INSTDIR\${FILE_LIST}"
  Delete "$INSTDIR\${FILE_LIST}.*.tmp"
  ClearErrors
  Pop $R2
  Pop $R1
  Pop $R0
FunctionEnd

!include "downloads.nsh"

; Whether nothing but the mark is left in the folder: pushes 1 or 0.
Function un.OnlyMarkLeft
  Push $R0
  Push $R1
  Push $R2
  StrCpy $R2 1
  FindFirst $R0 $R1 "$INSTDIR\*"
  ${DoWhile} $R1 != ""
    ${If} $R1 != "."
    ${AndIf} $R1 != ".."
    ${AndIf} $R1 != "${REMOVED_MARK}"
      StrCpy $R2 0
    ${EndIf}
    FindNext $R0 $R1
  ${Loop}
  FindClose $R0
  StrCpy $R0 $R2
  Pop $R2
  Pop $R1
  Exch $R0
FunctionEnd

Section "Uninstall"
  ; The client first: it starts the updater, and on its way out it applies
  ; the options once more and may write the log-on start value again. Then
  ; the updater, before it can start an installer that brings it all back.
  ; Only those running from this folder; one that does not end is ended,
  ; and until both have ended for good nothing is touched. Where that
  ; cannot be done, nothing is.
  Call un.EndClient
  Pop $0
  ${If} $0 = 0
    Call un.Unchanged
  ${EndIf}
  Call un.EndUpdater
  Pop $0
  ${If} $0 = 0
    Call un.Unchanged
  ${EndIf}
  ; Before anything goes: a program of this folder that starts now
  ; (unseen above) finds the mark and writes nothing.
  FileOpen $0 "$INSTDIR\${REMOVED_MARK}" w
  FileClose $0

  Call un.RemoveListed

  ; The log-on start value: only a value that starts this client goes;
  ; another installation's stays. Older clients wrote it under HKLM.
  SetRegView 32
  ReadRegStr $0 HKLM "${RUN_KEY}" "${SITE}"
  ${If} $0 == '"$INSTDIR\velBox.exe" /regstart'
    DeleteRegValue HKLM "${RUN_KEY}" "${SITE}"
  ${EndIf}
  ReadRegStr $0 HKCU "${RUN_KEY}" "${SITE}"
  ${If} $0 == '"$INSTDIR\velBox.exe" /regstart'
    DeleteRegValue HKCU "${RUN_KEY}" "${SITE}"
  ${EndIf}

  ; The user's options belong to the installation: a copy's, or another
  ; program's file of that name, stays.
  ${If} $IsRecorded = 1
    Delete "$INSTDIR\cfg.xml"
    ; What a save cut short by a crash or a power cut left beside it.
    Delete "$INSTDIR\cfg.xml.*.tmp"
  ${EndIf}
  Call un.RemoveDownloads

  ; The entry and the shortcuts are the installation's: uninstalling a copy
  ; of it leaves them to it.
  ${If} $IsRecorded = 1
    ; Only the client's own desktop shortcut; copies the user made stay.
    SetShellVarContext current
    Delete "$DESKTOP\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    DeleteRegKey HKCU "${UNINST_KEY}"
  ${EndIf}

  ; The mark goes with the folder. Files the user put there keep the folder
  ; and the mark with it: the folder stays this product's for the next
  ; install.
  Call un.OnlyMarkLeft
  Pop $0
  ${If} $0 = 1
    Delete "$INSTDIR\${REMOVED_MARK}"
    RMDir "$INSTDIR"
  ${EndIf}
SectionEnd
