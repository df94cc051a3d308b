; The Windows installer: quorvane-setup-<version>.exe. Built by the
; windows-installer target, which passes (makensis -D...):
;   QV_VERSION   the project's version, four numbers
;   QV_STAGE     folder holding everything that goes into the install folder
;   QV_OUTFILE   the setup program to write
;   QV_WINDOW    defined when quorvane.exe is among the programs
; Silent: quorvane-setup-<version>.exe /S [/D=C:\other folder]
; Uninstall silently: "%ProgramFiles%\Quorvane\uninstall.exe" /S
;
; An installed copy is marked by "quorvane.installed" beside the programs: it
; reads configuration from %APPDATA%\Quorvane first and the LAN defaults beside
; the programs second, and writes its logs to %LOCALAPPDATA%\Quorvane, since
; Program Files is not writable by the user. Those per-user folders are the
; user's own and stay when the program is removed.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include x64.nsh

!define QV_NAME "Quorvane"
!define QV_UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvane"
!define QV_DIR_KEY "Software\Quorvane"

Name "${QV_NAME} ${QV_VERSION}"
OutFile "${QV_OUTFILE}"
InstallDir "$PROGRAMFILES64\Quorvane"
InstallDirRegKey HKLM "${QV_DIR_KEY}" "InstallDir"
BrandingText "${QV_NAME} ${QV_VERSION}"

VIProductVersion "${QV_VERSION}"
VIAddVersionKey /LANG=2052 "ProductName" "${QV_NAME}"
VIAddVersionKey /LANG=2052 "FileDescription" "${QV_NAME} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${QV_VERSION}"
VIAddVersionKey /LANG=2052 "ProductVersion" "${QV_VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "MIT"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_LICENSE "${QV_STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

; Inbound UDP for a program, private and domain networks. The cameras answer a
; search from their own addresses to the program's own ephemeral port, which
; the stateful filter does not take for answers to a broadcast; a rule on the
; program lets them in, on no other network than the office's and the site's.
; A rule of the same name from an earlier install goes first.
!macro QV_FIREWALL_ADD EXE
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="Quorvane ${EXE}" program="$INSTDIR\${EXE}"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall add rule name="Quorvane ${EXE}" dir=in action=allow program="$INSTDIR\${EXE}" protocol=UDP profile=private,domain enable=yes'
  Pop $0
!macroend
!macro QV_FIREWALL_DELETE EXE
  nsExec::ExecToLog '"$SYSDIR\netsh.exe" advfirewall firewall delete rule name="Quorvane ${EXE}" program="$INSTDIR\${EXE}"'
  Pop $0
!macroend

Function .onInit
  ; The programs are 64-bit.
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "本程序需要64位Windows。" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Quorvane" SecMain
  SectionIn RO
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${QV_STAGE}\quorvane-cli.exe"
  File "${QV_STAGE}\quorvane-pack.exe"
  File "${QV_STAGE}\Korvel.dll"
  File "${QV_STAGE}\Nimbrel.dll"
!ifdef QV_WINDOW
  File "${QV_STAGE}\quorvane.exe"
!endif
  File "${QV_STAGE}\quorvane.installed"
  File "${QV_STAGE}\LICENSE.txt"
  ; The LAN defaults are the installer's: a newer installer brings its own,
  ; and the user's changes live in %APPDATA%\Quorvane.
  File "${QV_STAGE}\quorvane-net.conf"
  File "${QV_STAGE}\config.ini"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  !insertmacro QV_FIREWALL_ADD "quorvane-cli.exe"
!ifdef QV_WINDOW
  !insertmacro QV_FIREWALL_ADD "quorvane.exe"
!endif

  CreateDirectory "$SMPROGRAMS\Quorvane"
!ifdef QV_WINDOW
  CreateShortCut "$SMPROGRAMS\Quorvane\Quorvane.lnk" "$INSTDIR\quorvane.exe" "" "$INSTDIR\quorvane.exe" 0
!endif
  ; The console tools need a console that stays open; it starts in the
  ; install folder (the output path is the shortcut's working folder).
  CreateShortCut "$SMPROGRAMS\Quorvane\Quorvane 命令行.lnk" "$SYSDIR\cmd.exe" \
    "/k quorvane-cli.exe --help" "$SYSDIR\cmd.exe" 0

  WriteRegStr HKLM "${QV_DIR_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${QV_UNINST_KEY}" "DisplayName" "${QV_NAME}"
  WriteRegStr HKLM "${QV_UNINST_KEY}" "DisplayVersion" "${QV_VERSION}"
  WriteRegStr HKLM "${QV_UNINST_KEY}" "Publisher" "The Quorvane developers"
  WriteRegStr HKLM "${QV_UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${QV_UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${QV_UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
!ifdef QV_WINDOW
  WriteRegStr HKLM "${QV_UNINST_KEY}" "DisplayIcon" "$INSTDIR\quorvane.exe"
!endif
  WriteRegDWORD HKLM "${QV_UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${QV_UNINST_KEY}" "NoRepair" 1
  SectionGetSize ${SecMain} $0
  WriteRegDWORD HKLM "${QV_UNINST_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro QV_FIREWALL_DELETE "quorvane-cli.exe"
  !insertmacro QV_FIREWALL_DELETE "quorvane.exe"
  ; Only what the installer put there, by name: /D= may have pointed at a
  ; folder that holds other files too.
  Delete "$INSTDIR\quorvane-cli.exe"
  Delete "$INSTDIR\quorvane-pack.exe"
  Delete "$INSTDIR\quorvane.exe"
  Delete "$INSTDIR\Korvel.dll"
  Delete "$INSTDIR\Nimbrel.dll"
  Delete "$INSTDIR\quorvane.installed"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\quorvane-net.conf"
  Delete "$INSTDIR\config.ini"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\Quorvane\Quorvane.lnk"
  Delete "$SMPROGRAMS\Quorvane\Quorvane 命令行.lnk"
  RMDir "$SMPROGRAMS\Quorvane"

  DeleteRegKey HKLM "${QV_UNINST_KEY}"
  DeleteRegKey HKLM "${QV_DIR_KEY}"
SectionEnd
