; The Koravex installer: installs for the current user (no administrator rights), with a
; Start-menu entry and an uninstaller that removes exactly what was installed.
; makensis -DVERSION=1.0.0.1 -DSTAGE=folder -DICON=koravex.ico -DINSTALL_FILES=install.nsh
;          -DUNINSTALL_FILES=uninstall.nsh -DOUTFILE=setup.exe
; (scripts/windows-package.sh writes the two file lists from the folder it packs.)
Target amd64-unicode
!include "MUI2.nsh"

Name "Koravex"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\Koravex"
SetCompressor /SOLID lzma
BrandingText "Koravex ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey "ProductName" "Tarquel Koravex"
VIAddVersionKey "CompanyName" "Tarquel"
VIAddVersionKey "FileDescription" "Koravex setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 Tarquel"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Koravex"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\licenses\SOURCES.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Russian"

Section "Koravex"
    SetShellVarContext current
    SetOutPath "$INSTDIR"
    !include "${INSTALL_FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    CreateDirectory "$SMPROGRAMS\Koravex"
    CreateShortcut "$SMPROGRAMS\Koravex\Koravex.lnk" "$INSTDIR\koravex.exe"
    CreateShortcut "$SMPROGRAMS\Koravex\Uninstall Koravex.lnk" "$INSTDIR\Uninstall.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Koravex"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Tarquel"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\koravex.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext current
    !include "${UNINSTALL_FILES}"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    ; The folder of per-user programs, made by this installer where it was missing, goes
    ; with the last program in it (RMDir removes only empty folders).
    RMDir "$LOCALAPPDATA\Programs"
    Delete "$SMPROGRAMS\Koravex\Koravex.lnk"
    Delete "$SMPROGRAMS\Koravex\Uninstall Koravex.lnk"
    RMDir "$SMPROGRAMS\Koravex"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
