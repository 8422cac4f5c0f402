; The per-user setup program of Quorvelpack and Quorvelunpack.
; Built by the mingw64 preset (target "setup", see CMakeLists.txt beside this
; file) with these definitions:
;   QV_VERSION   the programs' version, e.g. 0.1.0
;   QV_VERSION4  the same with four numbers, for the version block
;   QV_BIN       the folder that holds Quorvelpack.exe and Quorvelunpack.exe
;   QV_VERBS     the include made by make-nsis.py from commands.json
;   QV_ICON      the icon of the setup program and of its uninstaller
;   QV_OUTFILE   the setup program to write
; Everything lands under the user's own profile and HKEY_CURRENT_USER, so no
; administrator rights are asked; /S installs and uninstalls silently.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include "${QV_VERBS}"

!define QV_UNINSTALL_LIST "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define QV_UNINSTALL_KEY "${QV_UNINSTALL_LIST}\Quorvel"
!define QV_UNINSTALLER "uninstall.exe"
; Set in the uninstall entry when the installation created the folder above
; its own (%LOCALAPPDATA%\Programs on a new profile), so the uninstaller takes
; away only what came with it.
!define QV_CREATED_PARENT "QuorvelCreatedParentFolder"
; The same for the key of the uninstall entries, which a new profile may lack.
!define QV_CREATED_LIST "QuorvelCreated:${QV_UNINSTALL_LIST}"

Name "Quorvel"
Caption "Installation de Quorvel ${QV_VERSION}"
UninstallCaption "Désinstallation de Quorvel ${QV_VERSION}"
OutFile "${QV_OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Quorvel"
InstallDirRegKey HKCU "${QV_UNINSTALL_KEY}" "InstallLocation"
BrandingText "Quorvel ${QV_VERSION}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${QV_VERSION4}"
VIFileVersion "${QV_VERSION4}"
VIAddVersionKey /LANG=1036 "ProductName" "Quorvel"
VIAddVersionKey /LANG=1036 "CompanyName" "Quorvel"
VIAddVersionKey /LANG=1036 "FileDescription" "Installation de Quorvelpack et Quorvelunpack"
VIAddVersionKey /LANG=1036 "FileVersion" "${QV_VERSION}"
VIAddVersionKey /LANG=1036 "ProductVersion" "${QV_VERSION}"
VIAddVersionKey /LANG=1036 "LegalCopyright" "Quorvel"

!define MUI_ICON "${QV_ICON}"
!define MUI_UNICON "${QV_ICON}"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "Quorvelpack compresse un dossier en une archive Zip placée à côté de lui, chiffrée en AES-256 si vous le souhaitez. Quorvelunpack décompresse une archive Zip dans un dossier du même nom.$\r$\n$\r$\nLes deux programmes sont installés pour vous seul, sans droits d'administrateur, avec leurs commandes dans le menu contextuel des dossiers et des fichiers .zip et leurs raccourcis dans le menu Démarrer.$\r$\n$\r$\nCliquez sur Suivant pour continuer."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "French"

; Tells Explorer that the context-menu commands changed.
!macro QV_NOTIFY_SHELL
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!macroend

Function .onInit
  SetShellVarContext current
FunctionEnd

Function un.onInit
  SetShellVarContext current
FunctionEnd

Section "Quorvel"
  ${GetParent} "$INSTDIR" $5
  ${IfNot} ${FileExists} "$5\*.*"
    StrCpy $0 1
  ${Else}
    StrCpy $0 0
  ${EndIf}
  ; A reinstallation keeps what the first one recorded.
  ReadRegDWORD $1 HKCU "${QV_UNINSTALL_KEY}" "${QV_CREATED_PARENT}"
  ${If} $1 == 1
    StrCpy $0 1
  ${EndIf}
  ClearErrors
  EnumRegKey $4 HKCU "${QV_UNINSTALL_LIST}" 0
  ${If} ${Errors}
    StrCpy $4 1
  ${Else}
    StrCpy $4 0
  ${EndIf}

  SetOutPath "$INSTDIR"
  !insertmacro QV_INSTALL_FILES
  WriteUninstaller "$INSTDIR\${QV_UNINSTALLER}"
  Delete "$INSTDIR\${QV_UNINSTALLER}:Zone.Identifier"
  !insertmacro QV_WRITE_SHORTCUTS
  !insertmacro QV_WRITE_VERBS

  WriteRegStr HKCU "${QV_UNINSTALL_KEY}" "DisplayName" "Quorvel (Quorvelpack et Quorvelunpack)"
  WriteRegStr HKCU "${QV_UNINSTALL_KEY}" "DisplayVersion" "${QV_VERSION}"
  WriteRegStr HKCU "${QV_UNINSTALL_KEY}" "Publisher" "Quorvel"
  WriteRegStr HKCU "${QV_UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quorvelpack.exe,0"
  WriteRegStr HKCU "${QV_UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${QV_UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\${QV_UNINSTALLER}$\""
  WriteRegStr HKCU "${QV_UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\${QV_UNINSTALLER}$\" /S"
  WriteRegDWORD HKCU "${QV_UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${QV_UNINSTALL_KEY}" "NoRepair" 1
  ${If} $0 == 1
    WriteRegDWORD HKCU "${QV_UNINSTALL_KEY}" "${QV_CREATED_PARENT}" 1
  ${EndIf}
  ${If} $4 == 1
    WriteRegDWORD HKCU "${QV_UNINSTALL_KEY}" "${QV_CREATED_LIST}" 1
  ${EndIf}
  !insertmacro QV_MARK_CREATED_KEYS "${QV_UNINSTALL_KEY}"
  ; In KiB, what the folder holds now.
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD HKCU "${QV_UNINSTALL_KEY}" "EstimatedSize" $1
  !insertmacro QV_NOTIFY_SHELL
SectionEnd

Section "Uninstall"
  ReadRegDWORD $0 HKCU "${QV_UNINSTALL_KEY}" "${QV_CREATED_PARENT}"
  ReadRegDWORD $1 HKCU "${QV_UNINSTALL_KEY}" "${QV_CREATED_LIST}"
  !insertmacro QV_REMOVE_FILES
  Delete "$INSTDIR\${QV_UNINSTALLER}"
  ; Only when empty: what the user put there stays.
  RMDir "$INSTDIR"
  ${If} $0 == 1
    ${GetParent} "$INSTDIR" $5
    RMDir "$5"
  ${EndIf}
  !insertmacro QV_REMOVE_SHORTCUTS
  !insertmacro QV_REMOVE_VERBS "${QV_UNINSTALL_KEY}"
  ; Last, so an interrupted uninstallation can be run again from the list.
  DeleteRegKey HKCU "${QV_UNINSTALL_KEY}"
  ${If} $1 == 1
    DeleteRegKey /ifempty HKCU "${QV_UNINSTALL_LIST}"
  ${EndIf}
  !insertmacro QV_NOTIFY_SHELL
SectionEnd
