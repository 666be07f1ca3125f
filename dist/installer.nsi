; The Windows setup program: installs the engine for 32-bit and 64-bit hosts
; and registers each as a SAPI 5 voice. Built by `make installer`
; (mk/installer.mk), which stages the files and passes:
;   VESK_VERSION   the version, 1.2.3
;   VESK_STAGE     the staged tree: README.txt, LICENSE.txt, DATA-NOTICE.txt,
;                  copyright, x86\ and x64\ (engine, SAPI DLL, dictionaries,
;                  voices), and files.nsh, which names the files of x86\ and x64\
;   VESK_OUTFILE   the setup program to write
;
; A 32-bit installer, so that it runs on every Windows: on 64-bit Windows it
; installs both engines, on 32-bit Windows only the x86 one. The 64-bit
; regsvr32 and the 64-bit registry view are reached with file-system
; redirection switched off and SetRegView 64.
;
; Silent: setup.exe /S [/D=C:\path without quotes, last on the line];
; uninstall.exe /S.

Unicode true
ManifestSupportedOS all
RequestExecutionLevel admin
; The x64 copies of the dictionaries and voices cost nothing: makensis stores
; identical files once. Solid LZMA with a 32 MB dictionary makes the rest half
; a per cent smaller than the default 8 MB; a larger one gains nothing more
; and only costs the installer memory.
SetCompressor /SOLID /FINAL lzma
SetCompressorDictSize 32

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include /CHARSET=UTF8 "${VESK_STAGE}/files.nsh"

!define VESK_CLSID "{2D2B22F7-0AE3-4520-8AF1-23E0CD082BBD}"
!define VESK_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vesk"
!define VESK_TOKENS_KEY "SOFTWARE\Microsoft\Speech\Voices\Tokens"

Name "Vesk ${VESK_VERSION}"
OutFile "${VESK_OUTFILE}"
InstallDir "$PROGRAMFILES64\Vesk"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VESK_VERSION}.0"
VIAddVersionKey "ProductName" "Vesk"
VIAddVersionKey "ProductVersion" "${VESK_VERSION}"
VIAddVersionKey "FileVersion" "${VESK_VERSION}"
VIAddVersionKey "FileDescription" "Vesk ${VESK_VERSION} Setup"
VIAddVersionKey "CompanyName" "Vesk developers"
VIAddVersionKey "LegalCopyright" "Vesk developers; data under CC BY-SA, see DATA-NOTICE.txt"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Per file of an architecture folder (files.nsh calls these for each name).
!macro VeskInstallFile ARCH NAME
  File "${VESK_STAGE}/${ARCH}/${NAME}"
!macroend
; A DLL a running program holds goes when Windows restarts.
!macro VeskDeleteFile ARCH NAME
  Delete /REBOOTOK "$INSTDIR\${ARCH}\${NAME}"
!macroend
; The token the SAPI DLL writes for a voice; removed by hand only when
; DllUnregisterServer could not run.
!macro VeskDeleteToken ARCH STEM
  DeleteRegKey HKLM "${VESK_TOKENS_KEY}\Vesk-${STEM}"
!macroend

; Calls regsvr32 of the registry view and file system of ARCH on the SAPI
; DLL; FLAGS "/s" registers, "/s /u" unregisters. The exit code (0 for
; success) is left on the stack.
!macro VeskRegsvr32 ARCH FLAGS
  ${If} ${ARCH} == x64
    ; $SYSDIR is the 64-bit system folder only with redirection off.
    ${DisableX64FSRedirection}
    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" ${FLAGS} "$INSTDIR\x64\VeskSapi.dll"' $0
    IfErrors 0 +2
      StrCpy $0 "not started"
    ${EnableX64FSRedirection}
  ${Else}
    ClearErrors
    ExecWait '"$SYSDIR\regsvr32.exe" ${FLAGS} "$INSTDIR\x86\VeskSapi.dll"' $0
    IfErrors 0 +2
      StrCpy $0 "not started"
  ${EndIf}
  Push $0
!macroend

; Undoes one architecture: its voices and class unregistered, its files
; deleted, its folder removed when nothing else was put there. The installer
; uses it to roll back, the uninstaller to uninstall.
!macro VeskRemoveArchFunction UN
Function ${UN}VeskRemoveArch
  Exch $1 ; x86 or x64
  Push $0
  ${If} ${FileExists} "$INSTDIR\$1\VeskSapi.dll"
    !insertmacro VeskRegsvr32 $1 "/s /u"
    Pop $0
    ${If} $0 != 0
      DetailPrint "DllUnregisterServer of $INSTDIR\$1\VeskSapi.dll failed ($0); removing its registry keys directly"
      ${If} $1 == x64
        SetRegView 64
      ${Else}
        SetRegView 32
      ${EndIf}
      DeleteRegKey HKLM "SOFTWARE\Classes\CLSID\${VESK_CLSID}"
      !insertmacro VeskForEachVoice VeskDeleteToken $1
      ${If} ${RunningX64}
        SetRegView 64
      ${EndIf}
    ${EndIf}
  ${EndIf}
  ${If} $1 == x64
    !insertmacro VeskForEachArchFile VeskDeleteFile x64
  ${Else}
    !insertmacro VeskForEachArchFile VeskDeleteFile x86
  ${EndIf}
  RMDir /REBOOTOK "$INSTDIR\$1"
  Pop $0
  Pop $1
FunctionEnd

Function ${UN}VeskRemoveAll
  ; Out of $INSTDIR, which SetOutPath made the working folder: one cannot
  ; remove the folder one works in.
  SetOutPath "$TEMP"
  ${If} ${RunningX64}
    Push x64
    Call ${UN}VeskRemoveArch
  ${EndIf}
  Push x86
  Call ${UN}VeskRemoveArch
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\DATA-NOTICE.txt"
  Delete "$INSTDIR\copyright"
  Delete "$INSTDIR\uninstall.exe"
  DeleteRegKey HKLM "${VESK_UNINSTALL_KEY}"
  RMDir /REBOOTOK "$INSTDIR"
FunctionEnd
!macroend
!insertmacro VeskRemoveArchFunction ""
!insertmacro VeskRemoveArchFunction "un."

; Registers one architecture's SAPI DLL; on failure rolls the whole
; installation back and stops with exit code 2.
!macro VeskRegister ARCH
  DetailPrint "Registering the ${ARCH} SAPI 5 engine"
  !insertmacro VeskRegsvr32 ${ARCH} "/s"
  Pop $0
  ${If} $0 != 0
    StrCpy $1 "$INSTDIR\${ARCH}\VeskSapi.dll could not be registered (regsvr32 exit code $0). Setup is rolled back and stops."
    DetailPrint "$1"
    Call VeskRemoveAll
    MessageBox MB_OK|MB_ICONSTOP "$1" /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

Function .onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; A new version goes where the last one is, unless /D= names a folder.
  ReadRegStr $0 HKLM "${VESK_UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $INSTDIR == "$PROGRAMFILES64\Vesk"
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Section "Vesk"
  SetOutPath "$INSTDIR"
  File "${VESK_STAGE}/README.txt"
  File "${VESK_STAGE}/LICENSE.txt"
  File "${VESK_STAGE}/DATA-NOTICE.txt"
  File "${VESK_STAGE}/copyright"

  ; For 32-bit programs.
  SetOutPath "$INSTDIR\x86"
  !insertmacro VeskForEachArchFile VeskInstallFile x86
  ; For 64-bit programs, where Windows runs them.
  ${If} ${RunningX64}
    SetOutPath "$INSTDIR\x64"
    !insertmacro VeskForEachArchFile VeskInstallFile x64
  ${EndIf}
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"

  !insertmacro VeskRegister x86
  ${If} ${RunningX64}
    !insertmacro VeskRegister x64
  ${EndIf}

  ; The Apps entry, in the 64-bit view on 64-bit Windows (.onInit).
  WriteRegStr HKLM "${VESK_UNINSTALL_KEY}" "DisplayName" "Vesk ${VESK_VERSION}"
  WriteRegStr HKLM "${VESK_UNINSTALL_KEY}" "DisplayVersion" "${VESK_VERSION}"
  WriteRegStr HKLM "${VESK_UNINSTALL_KEY}" "Publisher" "Vesk developers"
  WriteRegStr HKLM "${VESK_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${VESK_UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${VESK_UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${VESK_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${VESK_UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${VESK_UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Call un.VeskRemoveAll
  ; A screen reader speaking with Vesk holds its DLLs until it stops.
  IfRebootFlag 0 +2
    MessageBox MB_OK|MB_ICONINFORMATION "Some of Vesk's files were in use. Windows removes them when it restarts." /SD IDOK
SectionEnd
