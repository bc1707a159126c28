; Per-user installer for npzvcert.dll: no administrator rights, everything
; under the user's own profile and HKEY_CURRENT_USER, so that a user can
; enrol on a locked-down machine. Built by scripts/build-installer.sh, which
; passes:
;   DLL        the npzvcert.dll to ship (already signed when signing is on)
;   HOST_EXE   the npzvcert-host.exe to ship beside it (signed likewise)
;   OUTFILE    the installer to write
;   VERSION    four-part version of the DLL, e.g. 1.0.2.2
;   REGISTRY   the rows it registers and the names they use, written by
;              installer/rows.js from registry.rows, as the MSI's are
;   CHROMIUM_MANIFEST  the host's manifest for Chromium-family browsers
;   FIREFOX_MANIFEST   the host's manifest for Firefox
;   DEVELOPMENT_BUILD  set unless the plug-in was built as a release
;   X86_DLL    for the x64 setup only: the x86 plug-in it installs beside
;              the x64 one, for 32-bit browsers; its setup is then a 64-bit
;              program, which 64-bit Windows runs without 32-bit support
; The manifests name the host by a path relative to their own folder, so they
; go into the install folder beside it. What the user reads is in
; messages.nsh, in every language the setup speaks.

!ifdef X86_DLL
  Target amd64-unicode
!else
  Unicode true
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!ifndef DLL
  !error "DLL is not defined: pass -DDLL=path/to/npzvcert.dll"
!endif
!ifndef OUTFILE
  !define OUTFILE "npzvcert-setup.exe"
!endif
!ifndef VERSION
  !error "VERSION is not defined: pass -DVERSION=a.b.c.d"
!endif
!ifndef HOST_EXE
  !error "HOST_EXE is not defined: pass -DHOST_EXE=path/to/npzvcert-host.exe"
!endif
!ifndef REGISTRY
  !error "REGISTRY is not defined: pass -DREGISTRY=path/to/registry.nsh (installer/rows.js nsis)"
!endif
!ifndef CHROMIUM_MANIFEST
  !error "CHROMIUM_MANIFEST is not defined: pass -DCHROMIUM_MANIFEST=path/to/manifest.json"
!endif
!ifndef FIREFOX_MANIFEST
  !error "FIREFOX_MANIFEST is not defined: pass -DFIREFOX_MANIFEST=path/to/manifest.json"
!endif

; The names both installers use, and what they register (registry.rows).
!include "${REGISTRY}"
; What the user sees of the setup itself; the browsers' records keep PRODUCT.
; The version resource is in English alone; TITLE follows the user's language.
!ifdef DEVELOPMENT_BUILD
  !define TITLE "$(DevelopmentTitle)"
  !define FILE_TITLE "${PRODUCT} (development build)"
  !define SETUP_DESCRIPTION "${PRODUCT} setup, development build: not for shipping"
!else
  !define TITLE "${PRODUCT}"
  !define FILE_TITLE "${PRODUCT}"
  !define SETUP_DESCRIPTION "${PRODUCT} setup"
!endif
!define UNINSTALLER "uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\npzvcert"
!define VENDOR_DIR "$LOCALAPPDATA\${VENDOR}"

!include LogicLib.nsh
Var InUse
!include messages.nsh

; A browser or host that has the old file loaded keeps it from being deleted;
; say so and stop, exit code 2, rather than leave a half-updated or
; half-removed plug-in behind.
!macro StopIfInUse FILE MESSAGE
  Delete "$INSTDIR\${FILE}"
  ${If} ${FileExists} "$INSTDIR\${FILE}"
    StrCpy $InUse "$INSTDIR\${FILE}"
    MessageBox MB_OK|MB_ICONSTOP "$(${MESSAGE})" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
!macroend

Name "${TITLE}"
OutFile "${OUTFILE}"
InstallDir "${VENDOR_DIR}\npzvcert"
BrandingText "${TITLE} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${FILE_TITLE}"
VIAddVersionKey /LANG=1033 "CompanyName" "${VENDOR}"
VIAddVersionKey /LANG=1033 "FileDescription" "${SETUP_DESCRIPTION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${VENDOR}"

; No folder page: the host runs with the user's rights, so it must live
; where only the user can write.
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetShellVarContext current
  ; Also over a folder given with /D=.
  StrCpy $INSTDIR "${VENDOR_DIR}\npzvcert"
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Plug-in"
  SetOutPath "$INSTDIR"

  !insertmacro StopIfInUse "${DLL_NAME}" SetupInUse
  ; Normally a running host holds the DLL too, and the check above stops.
  !insertmacro StopIfInUse "${HOST_NAME}" SetupInUse
!ifdef X86_DLL
  ; A 32-bit browser holds this one.
  !insertmacro StopIfInUse "x86\${DLL_NAME}" SetupInUse
!endif
  File "/oname=${DLL_NAME}" "${DLL}"
  File "/oname=${HOST_NAME}" "${HOST_EXE}"
  File "/oname=${CHROMIUM_JSON}" "${CHROMIUM_MANIFEST}"
  File "/oname=${FIREFOX_JSON}" "${FIREFOX_MANIFEST}"
!ifdef X86_DLL
  SetOutPath "$INSTDIR\x86"
  File "/oname=${DLL_NAME}" "${X86_DLL}"
  SetOutPath "$INSTDIR"
!endif

  !insertmacro RegisterProduct HKCU

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${VENDOR}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes only what the setup put there. Certificates and key containers the
; user enrolled through the plug-in are the user's and stay.
Section "Uninstall"
!ifdef X86_DLL
  !insertmacro StopIfInUse "x86\${DLL_NAME}" UninstallerInUse
  RMDir "$INSTDIR\x86"
!endif
  !insertmacro StopIfInUse "${DLL_NAME}" UninstallerInUse
  !insertmacro StopIfInUse "${HOST_NAME}" UninstallerInUse
  !insertmacro UnregisterProduct HKCU
  Delete "$INSTDIR\${CHROMIUM_JSON}"
  Delete "$INSTDIR\${FIREFOX_JSON}"

  Delete "$INSTDIR\${UNINSTALLER}"
  ; Neither folder goes unless empty: users keep their own files there.
  RMDir "$INSTDIR"
  RMDir "${VENDOR_DIR}"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
