; Caprello's Windows installer, made by scripts/package-windows.sh:
;   makensis -DVERSION=x.y.z -DDEPLOY=<deploy folder> -DOUTFILE=<setup.exe> -DROOT=<source tree> caprello.nsi
; Installs for the current user (no administrator rights) or for all users;
; silently with /S, and /AllUsers or /CurrentUser to choose without the page.
; A 64-bit installer for a 64-bit program (it also runs on a 64-bit-only Wine).
Target amd64-unicode
SetCompressor /SOLID lzma

!define APPNAME "Caprello"
!define UNINSTKEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Caprello"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "${APPNAME}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "Software\${APPNAME}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallDir"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "Software\${APPNAME}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!include MultiUser.nsh
!include MUI2.nsh

Name "${APPNAME} ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "${APPNAME} ${VERSION}"

!define MUI_ICON "${ROOT}\qml\app_icon.ico"
!define MUI_UNICON "${ROOT}\qml\app_icon.ico"
!define MUI_FINISHPAGE_RUN "$INSTDIR\caprello.exe"

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${ROOT}\LICENSE"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APPNAME}"
VIAddVersionKey "FileDescription" "${APPNAME} installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "GPL-3.0-or-later"

Function .onInit
    SetRegView 64
    !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
    SetRegView 64
    !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Caprello" SecMain
    SectionIn RO
    SetOutPath "$INSTDIR"
    File /r "${DEPLOY}\*.*"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortCut "$SMPROGRAMS\${APPNAME}.lnk" "$INSTDIR\caprello.exe" "" "$INSTDIR\caprello.exe" 0

    WriteRegStr SHCTX "Software\${APPNAME}" "InstallDir" "$INSTDIR"
    WriteRegStr SHCTX "Software\${APPNAME}" "InstallMode" "$MultiUser.InstallMode"
    WriteRegStr SHCTX "${UNINSTKEY}" "DisplayName" "${APPNAME}"
    WriteRegStr SHCTX "${UNINSTKEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTKEY}" "Publisher" "Caprello developers"
    WriteRegStr SHCTX "${UNINSTKEY}" "DisplayIcon" "$INSTDIR\caprello.exe"
    WriteRegStr SHCTX "${UNINSTKEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTKEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
    WriteRegStr SHCTX "${UNINSTKEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
    WriteRegDWORD SHCTX "${UNINSTKEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTKEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    Delete "$SMPROGRAMS\${APPNAME}.lnk"
    ; The recordings (ScreenRecordings on the desktop) are the user's and stay.
    RMDir /r "$INSTDIR"
    DeleteRegKey SHCTX "${UNINSTKEY}"
    DeleteRegKey SHCTX "Software\${APPNAME}"
SectionEnd
