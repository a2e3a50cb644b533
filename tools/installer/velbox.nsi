; Installer of Velmora音乐盒 (client velBox.exe and updater velUpdate.exe).
; Built by the CMake targets `installer` and `installer_test`:
;   makensis -INPUTCHARSET UTF8 -DVELBOX_VERSION=1.0.0 -DVELBOX_CLIENT=... \
;            -DVELBOX_UPDATER=... -DVELBOX_ICON=... -DVELBOX_OUTFILE=... velbox.nsi
; -DVELBOX_SILENT_ALWAYS gives the variant the update tests use: it runs
; silently without arguments, as the updater starts it through the shell.
;
; Only built-in instructions: no plugin, so the script builds for any target.
;
; Installed for the user who runs it, into their own profile, with the
; user's rights: it never asks for administrator rights, so the installer an
; update downloads runs without a prompt, and what it starts gets the
; user's token. The programs keep cfg.xml and DownTmp in their folder, which
; the user can write.

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

!include "LogicLib.nsh"

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
; The client's hidden tray window. Sent this message it leaves through its
; tray menu's exit path: the tray icon goes, cfg.xml is not written and the
; process ends. Installer and uninstaller ask it so before touching files.
!define CLIENT_WINDOW_CLASS "velBoxMenu"
!define CLIENT_EXIT_MESSAGE 0x8101  ; WM_APP + 0x101

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
Icon "${VELBOX_ICON}"
UninstallIcon "${VELBOX_ICON}"
!ifdef VELBOX_SILENT_ALWAYS
  SilentInstall silent
!endif

LoadLanguageFile "${NSISDIR}\Contrib\Language files\SimpChinese.nlf"

VIProductVersion "${VELBOX_VERSION}.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VELBOX_VERSION}"
VIAddVersionKey /LANG=0 "FileVersion" "${VELBOX_VERSION}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} 安装程序"
VIAddVersionKey /LANG=0 "CompanyName" "${SITE}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${SITE}"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; --- ending a running client ------------------------------------------------

; Asks each client window once and waits up to about 10 s for it to go.
; A client that does not answer is left running; replacing its files then
; fails and says so instead of reporting success.
!macro VelEndClientBody
  StrCpy $R0 0
  StrCpy $R2 0
  ${Do}
    FindWindow $R1 "${CLIENT_WINDOW_CLASS}"
    ${If} $R1 = 0
      ${Break}
    ${EndIf}
    ${If} $R1 <> $R2
      DetailPrint "正在关闭 ${PRODUCT}..."
      SendMessage $R1 ${CLIENT_EXIT_MESSAGE} 0 0 /TIMEOUT=5000
      StrCpy $R2 $R1
    ${EndIf}
    ${If} $R0 >= 100
      ${Break}
    ${EndIf}
    Sleep 100
    IntOp $R0 $R0 + 1
  ${Loop}
!macroend

Function EndClient
  !insertmacro VelEndClientBody
FunctionEnd

Function un.EndClient
  !insertmacro VelEndClientBody
FunctionEnd

; --- files ------------------------------------------------------------------

; A program that is still ending (the client after its window went, the
; updater right after starting this installer) keeps its file locked for a
; moment: try again for up to 10 s, then let the user retry, or fail. Never
; skip a file silently.
!macro VelPutFile SOURCE NAME
  StrCpy $R0 0
  ${Do}
    ClearErrors
    File "/oname=${NAME}" "${SOURCE}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $R0 $R0 + 1
    ${If} $R0 >= 50
      MessageBox MB_RETRYCANCEL|MB_ICONSTOP "无法写入文件：$INSTDIR\${NAME}$\r$\n请退出 ${PRODUCT} 后点击“重试”。" /SD IDCANCEL IDRETRY +2
      Abort "无法写入文件：$INSTDIR\${NAME}"
      StrCpy $R0 0
    ${Else}
      Sleep 200
    ${EndIf}
  ${Loop}
!macroend

!macro VelRemoveFile PATH
  StrCpy $R0 0
  ${DoWhile} ${FileExists} "${PATH}"
    ClearErrors
    Delete "${PATH}"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $R0 $R0 + 1
    ${If} $R0 >= 50
      Delete /REBOOTOK "${PATH}"
      ${Break}
    ${EndIf}
    Sleep 200
  ${Loop}
!macroend

Function .onInit
  SetShellVarContext current
  ; An upgrade goes where the installed client is, unless /D= says otherwise.
  SetRegView 32
  ReadRegStr $0 HKCU "${UNINST_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $INSTDIR == "$LOCALAPPDATA\Programs\${PRODUCT}"
  ${AndIf} ${FileExists} "$0\velBox.exe"
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Section "${PRODUCT}"
  Call EndClient
  SetOutPath "$INSTDIR"
  ; cfg.xml is the user's: it is not shipped, so an upgrade keeps it as it is.
  SetOverwrite try
  !insertmacro VelPutFile "${VELBOX_CLIENT}" "velBox.exe"
  !insertmacro VelPutFile "${VELBOX_UPDATER}" "velUpdate.exe"
  !insertmacro VelPutFile "${VELBOX_ICON}" "Icon.ico"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

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
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINST_KEY}" "NoRepair" 1
SectionEnd

; The client starts with this installer's token: the user's own, since the
; installer asks for no more (only "Run as administrator" would hand it more).
Function .onInstSuccess
  ${IfNot} ${Silent}
    SetOutPath "$INSTDIR"
    Exec '"$INSTDIR\velBox.exe"'
  ${EndIf}
FunctionEnd

; --- uninstaller --------------------------------------------------------------

Section "Uninstall"
  Call un.EndClient

  ; Its window goes first; on its way out the client applies the options once
  ; more and may write the log-on start entry again. Its file can be removed
  ; only once it has ended, so the entry goes after it.
  !insertmacro VelRemoveFile "$INSTDIR\velBox.exe"
  !insertmacro VelRemoveFile "$INSTDIR\velUpdate.exe"

  ; The log-on start entry: the client writes it under HKLM and falls back to
  ; HKCU when HKLM is not writable. Only a value that starts this client
  ; goes; another installation's stays.
  SetRegView 32
  ReadRegStr $0 HKLM "${RUN_KEY}" "${SITE}"
  ${If} $0 == '"$INSTDIR\velBox.exe" /regstart'
    DeleteRegValue HKLM "${RUN_KEY}" "${SITE}"
  ${EndIf}
  ReadRegStr $0 HKCU "${RUN_KEY}" "${SITE}"
  ${If} $0 == '"$INSTDIR\velBox.exe" /regstart'
    DeleteRegValue HKCU "${RUN_KEY}" "${SITE}"
  ${EndIf}

  Delete "$INSTDIR\Icon.ico"
  Delete "$INSTDIR\cfg.xml"
  ; What a save cut short by a crash or a power cut left beside it.
  Delete "$INSTDIR\cfg.xml.*.tmp"
  ; The updater's download folder with the installers it fetched.
  RMDir /r "$INSTDIR\DownTmp"
  Delete "$INSTDIR\${UNINSTALLER}"

  ; Only the client's own desktop shortcut; copies the user made stay.
  SetShellVarContext current
  Delete "$DESKTOP\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"

  DeleteRegKey HKCU "${UNINST_KEY}"
  ; Files the user put there keep the folder.
  RMDir "$INSTDIR"
SectionEnd
