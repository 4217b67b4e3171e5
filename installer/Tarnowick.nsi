; The Windows x64 installer of the gateway. installer/CMakeLists.txt builds it and passes:
;   PRODUCT VENDOR VERSION FILE_VERSION  from the project's version and vendor
;   DIST     the laid-out shipped files      SHIPPED  their names (TW_INSTALL_SHIPPED, TW_REMOVE_SHIPPED)
;   HELPER   tw-setup-helper.exe             OUTFILE  the installer to write
; Silent: /S. Run at logon, also silently: /RUNATLOGON=yes or /RUNATLOGON=no (default: as before, else no).
; The configuration database (with its journal) and the settings file live beside the exe, as the gateway
; expects; they are created once and kept on upgrade and on uninstall.
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"
!include "FileFunc.nsh"
!include "Sections.nsh"
!include "${SHIPPED}"

!define EXE "Tarnowick.exe"
!define DATABASE "TARNOWICK.GDB"
!define JOURNAL "TARNOWICK.GDB-journal"
!define SETTINGS "Tarnowick.ini"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The same value the gateway's own "Load on Windows startup" setting writes.
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define RUN_VALUE "${PRODUCT}"
!define STARTUP_SETTING "Load on Windows startup"
!define MENU_FOLDER "$SMPROGRAMS\${PRODUCT}"
; Built-in Users group, by SID so that any language of Windows understands it.
!define USERS_SID "*S-1-5-32-545"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${VENDOR} ${PRODUCT} ${VERSION}"

VIProductVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${VENDOR}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${FILE_VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${VENDOR}"

!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The helper runs from the plug-ins folder; $0 gets its exit code.
!macro RunHelper ARGS
  nsExec::ExecToLog '"$PLUGINSDIR\tw-setup-helper.exe" ${ARGS}'
  Pop $0
!macroend

; The reverse of the registration: OPC entries (and the category once it is empty), then the classes,
; the type library and the proxy/stubs where they are ours.
!macro UnregisterAll
  !insertmacro RunHelper "unregister-opc"
  ExecWait '"$INSTDIR\${EXE}" /UnregServer /S'
!macroend

!macro UnpackHelper
  InitPluginsDir
  File "/oname=$PLUGINSDIR\tw-setup-helper.exe" "${HELPER}"
!macroend

Section "!${PRODUCT}" SecGateway
  SectionIn RO
  SetShellVarContext all
  SetRegView 64
  !insertmacro UnpackHelper
  ; An upgrade replaces files the running gateway holds: it closes as its "Exit" message closes it.
  !insertmacro RunHelper 'close "$INSTDIR\${EXE}"'

  SetOutPath "$INSTDIR"
  !insertmacro TW_INSTALL_SHIPPED
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  ; The classes, the type library and both proxy/stubs (each only for the interfaces that have none in
  ; its registry view): the exe's silent /RegServer; then what the server console's "Register" adds
  ; (OPC ProgID, category). A failure stops the installation with nothing of it left registered.
  ExecWait '"$INSTDIR\${EXE}" /RegServer /S' $1
  ${If} $1 == 0
    !insertmacro RunHelper "register-opc"
    StrCpy $1 $0
  ${EndIf}
  ${If} $1 != 0
    !insertmacro UnregisterAll
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} could not be registered as an OPC server (error $1). The \
        installation stops; nothing of the server is left registered." /SD IDOK
    SetErrorLevel 2
    Abort "${PRODUCT} could not be registered as an OPC server (error $1)."
  ${EndIf}

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\${PRODUCT}.lnk" "$INSTDIR\${EXE}"
  CreateShortcut "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk" "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${VENDOR}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${EXE}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $1
SectionEnd

Section /o "Run at logon" SecLogon
SectionEnd

; The configuration, created once: the database through the shipped data-access library (so its tables
; are exactly the gateway's), the settings file with the run-at-logon choice the gateway shows.
Section "-Configuration"
  SetShellVarContext all
  SetRegView 64
  ${IfNot} ${FileExists} "$INSTDIR\${DATABASE}"
    System::Call '$INSTDIR\vxDataAccess.dll::ConnectDB(m "$INSTDIR\${DATABASE}", m "", m "", p 0, i 1) p.r1'
    ${If} $1 != 0
      System::Call '$INSTDIR\vxDataAccess.dll::DisconnectDB(p r1, i 1)'
    ${Else}
      DetailPrint "Cannot create the configuration database $INSTDIR\${DATABASE}"
      SetErrorLevel 1
    ${EndIf}
  ${EndIf}
  ; The database's rollback journal, which a normal user could not create here: the gateway keeps it,
  ; empty between saves. An existing one stays as it is: after a crash it restores the database.
  ${IfNot} ${FileExists} "$INSTDIR\${JOURNAL}"
    ClearErrors
    FileOpen $1 "$INSTDIR\${JOURNAL}" w
    ${If} ${Errors}
      DetailPrint "Cannot create the database journal $INSTDIR\${JOURNAL}"
      SetErrorLevel 1
    ${Else}
      FileClose $1
    ${EndIf}
  ${EndIf}
  ${If} ${SectionIsSelected} ${SecLogon}
    WriteRegStr HKLM "${RUN_KEY}" "${RUN_VALUE}" "$INSTDIR\${EXE}"
    WriteINIStr "$INSTDIR\${SETTINGS}" "System" "${STARTUP_SETTING}" "1"
  ${Else}
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
    WriteINIStr "$INSTDIR\${SETTINGS}" "System" "${STARTUP_SETTING}" "0"
  ${EndIf}
  ; The gateway runs as whoever logs on and saves its configuration in these files.
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR\${DATABASE}" /grant ${USERS_SID}:M'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR\${JOURNAL}" /grant ${USERS_SID}:M'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\icacls.exe" "$INSTDIR\${SETTINGS}" /grant ${USERS_SID}:M'
  Pop $0
SectionEnd

Function .onInit
  SetRegView 64
  ; Run at logon as it was chosen before (by this installer or in the gateway's settings) ...
  ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 != ""
    !insertmacro SelectSection ${SecLogon}
  ${EndIf}
  ; ... unless the command line says otherwise.
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/RUNATLOGON=" $2
  ${IfNot} ${Errors}
    ${If} $2 == "yes"
      !insertmacro SelectSection ${SecLogon}
    ${ElseIf} $2 == "no"
      !insertmacro UnselectSection ${SecLogon}
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  SetRegView 64
  !insertmacro UnpackHelper
  !insertmacro RunHelper 'close "$INSTDIR\${EXE}"'
  !insertmacro UnregisterAll
  ; The Run value starts the exe that goes now, whoever wrote it.
  ReadRegStr $0 HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${If} $0 == "$INSTDIR\${EXE}"
    DeleteRegValue HKLM "${RUN_KEY}" "${RUN_VALUE}"
  ${EndIf}

  !insertmacro TW_REMOVE_SHIPPED
  Delete "$INSTDIR\${UNINSTALLER}"
  Delete "${MENU_FOLDER}\${PRODUCT}.lnk"
  Delete "${MENU_FOLDER}\Uninstall ${PRODUCT}.lnk"
  RMDir "${MENU_FOLDER}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The database, its journal and the settings file stay, and with them the folder.
  RMDir "$INSTDIR"
SectionEnd
