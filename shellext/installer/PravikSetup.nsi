; Installer of the Pravik Image Converter: copies the converter and the
; Explorer extension, records the converter's path where the extension looks
; for it (HKLM\SOFTWARE\greyhollis "exPath"), registers the extension and
; writes an uninstaller that undoes all of it.
;
;   makensis -DCONVERT_EXE=... -DCONTEXT_DLL=... -DOUTFILE=... PravikSetup.nsi
;
; A 64-bit installer: the extension is a 64-bit DLL that it loads to register,
; and its registry writes land in the view that 64-bit Explorer reads.

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "Pravik Image Converter"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\PravikImageConverter"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
VIProductVersion "1.0.0.1"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey "FileVersion" "1.0.0.1"
VIAddVersionKey "ProductVersion" "1.0.0.1"
VIAddVersionKey "LegalCopyright" ""

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Function .onInit
  SetRegView 64
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  ; Explorer keeps a loaded extension open: replace it at the next start when
  ; it cannot be replaced now.
  SetOverwrite try
  File "${CONVERT_EXE}"
  ClearErrors
  File "${CONTEXT_DLL}"
  IfErrors 0 dll_copied
    File /oname=PravikContext.dll.new "${CONTEXT_DLL}"
    Rename /REBOOTOK "$INSTDIR\PravikContext.dll.new" "$INSTDIR\PravikContext.dll"
  dll_copied:

  WriteRegStr HKLM "SOFTWARE\greyhollis" "exPath" "$INSTDIR\PravikConvert.exe"

  ClearErrors
  RegDLL "$INSTDIR\PravikContext.dll"
  IfErrors 0 registered
    DetailPrint "Could not register the Explorer extension PravikContext.dll"
    SetErrorLevel 2
    Abort
  registered:

  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "1.0.0.1"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\PravikConvert.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  UnRegDLL "$INSTDIR\PravikContext.dll"
  ; Explorer may still hold the extension: it goes at the next start then.
  Delete /REBOOTOK "$INSTDIR\PravikContext.dll"
  Delete "$INSTDIR\PravikConvert.exe"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"

  DeleteRegValue HKLM "SOFTWARE\greyhollis" "exPath"
  DeleteRegKey /ifempty HKLM "SOFTWARE\greyhollis"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
