; Vantory's installer for Windows, made on Linux by makensis (`make windows-package`).
;
; makensis -DVERSION=1.2.3 -DPROGRAM=path\vantory.exe -DOUTFILE=setup.exe [-DICON=vantory.ico]
;
; Run by a user, it installs for that user, without elevation, into their own programs folder;
; run elevated, for all users into Program Files. /S installs silently; /CurrentUser and
; /AllUsers choose where. It adds a Start menu entry, "Hide with Vantory" to Explorer's Send To
; menu and an entry in Apps & features. The uninstaller removes only what the installer put
; there: the settings (regInfo.lst), the storage folder and the hidden files in it stay.

Target amd64-unicode  ; a 64-bit installer for a 64-bit program (and for wine64 alone)
SetCompressor /SOLID lzma
RequestExecutionLevel user  ; MultiUser asks for more when it may have it

!ifndef VERSION | PROGRAM | OUTFILE
  !error "give VERSION, PROGRAM and OUTFILE with -D"
!endif

!define PRODUCT "Vantory"
!define PUBLISHER "Corvantis"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantory"
!define SENDTO_NAME "Hide with Vantory"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include x64.nsh

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${PUBLISHER} ${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_FINISHPAGE_RUN "$INSTDIR\vantory.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT} now"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Vantory" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=vantory.exe" "${PROGRAM}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; SHCTX below is HKLM for all users, HKCU for one, as MultiUser chose.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\vantory.exe"
  ; Send To hands the chosen files to the program, which hides them (a running copy takes them).
  CreateShortcut "$SENDTO\${SENDTO_NAME}.lnk" "$INSTDIR\vantory.exe" "--hide"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantory.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  Delete "$SENDTO\${SENDTO_NAME}.lnk"
  Delete "$INSTDIR\vantory.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"  ; only when empty: nothing the user put there goes
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"  ; for all users or this one, as MultiUser chose
  ; The settings and the hidden files are the user's: each user's stay where they are.
  DetailPrint "Kept: Vantory's settings (regInfo.lst) in %APPDATA%\vantory, the storage folder"
  DetailPrint "and the files hidden in it. Start Vantory again to restore them."
  IfSilent +2
    MessageBox MB_OK|MB_ICONINFORMATION "Vantory is removed. Your hidden files and Vantory's settings (regInfo.lst in %APPDATA%\vantory) are kept: install Vantory again and restore your files before you delete them."
SectionEnd
