; The setup program of TAVI助手Plus and its uninstaller. Built by install/setup/CMakeLists.txt with
;   -DVERSION=a.b.c.d  -DSOURCE=<assembled installation folder>  -DHELPER=<EndPrograms.exe>
;   -DSTARTER=<StartAsUser.exe>  -DRIGHTS=<FolderRights.exe>  -DSERVICE_HELPER=<ServiceSetup.exe>  -DOUTFILE=<exe>
;   [-DSIGN=<command that Authenticode-signs the file %1 in place>]
;
; It installs the installation's layout, puts the control library where the launcher looks for it and
; registers it there (what "\Build\注册控件.bat" does, so the launcher's first start does not ask), and
; writes shortcuts and an uninstall entry, and installs the installation's maintenance service (see
; MaintenanceService below). It never writes the first-start marker "\Build\installock.txt"
; nor touches "\update\": a repair or upgrade keeps both, and a pending download resumes afterwards.
;
; Several installations may live side by side: each has its own uninstall key (found by its
; InstallLocation), and the control library in the system folder is shared between them through the
; system's SharedDLLs reference count, so it goes only with the last installation that uses it.
;
; The installation folder has the rights of "Program Files" (what lies there runs elevated later): a folder
; the setup makes gets them (FolderRights.exe protect), an existing one that others than SYSTEM, the
; Administrators and TrustedInstaller may change is refused (silent mode: exit code 4; rights that cannot
; be set: 5).
Unicode true
ManifestSupportedOS all
RequestExecutionLevel admin
SetCompressor /SOLID lzma

; Authenticode: the uninstaller is signed before it is packed, the setup once it is written.
!ifdef SIGN
  !uninstfinalize '${SIGN}'
  !finalize '${SIGN}'
!endif

!include LogicLib.nsh
!include x64.nsh
!include MUI2.nsh

!define PRODUCT "TAVI助手Plus"
!define PUBLISHER "Vantorix"
!define LAUNCHER "VantorixAssist.exe"
!define CONTROL "Velview_G_201.ocx"
!define ENGINE "node.dll"
!define UNINSTALLER "uninstall.exe"
!define ENTRY_NAME "VantorixAssist"
!define UNINSTALL_ROOT "Software\Microsoft\Windows\CurrentVersion\Uninstall"
!define SHARED_DLLS "Software\Microsoft\Windows\CurrentVersion\SharedDLLs"
; The maintenance service of each installation and what it serves (the 32-bit view, as every key here).
!define SERVICE_PREFIX "VantorixAssistUpdate"
!define SERVICE_CONFIG "Software\Vantorix\VantorixAssist\MaintenanceService"
; How many installations side by side get an uninstall entry of their own.
!define MAX_ENTRIES 20

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\VantorixAssist"
InstallDirRegKey HKLM "${UNINSTALL_ROOT}\${ENTRY_NAME}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show

; The finish page's "run" starts the launcher as the user, never with the installer's elevated rights.
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartLauncherAsUser
!define MUI_COMPONENTSPAGE_NODESC
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "OriginalFilename" "VantorixSetup-${VERSION}.exe"
VIAddVersionKey /LANG=${LANG_SIMPCHINESE} "LegalCopyright" "© ${PUBLISHER}"

Var EntryKey    ; this installation's key below UNINSTALL_ROOT
Var EntryFound  ; 1 when that key exists already (a repair or upgrade; for the uninstaller, its own)
Var ServiceName ; this installation's maintenance service: "${SERVICE_PREFIX}" with the entry key's suffix
Var Title       ; the installation's name in the list of programs and on its shortcuts: "${PRODUCT}" for
                ; the first, "${PRODUCT} (2)" ... for further ones, whose shortcuts then do not collide

; The installation's files, each as (folder below the installation, file name). Setup copies exactly these
; and the uninstaller removes exactly these, so a file the user put beside them stays.
!macro InstallationFiles OP
  !insertmacro ${OP} "" "${LAUNCHER}"
  !insertmacro ${OP} "\bin" "client.exe"
  !insertmacro ${OP} "\bin" "${ENGINE}"
  !insertmacro ${OP} "\bin\Skin" "UI.html"
  !insertmacro ${OP} "\Skin" "UI.html"
  !insertmacro ${OP} "\Build" "注册控件.bat"
  !insertmacro ${OP} "\Build" "${CONTROL}"
!macroend
!macro PutFile FOLDER NAME
  SetOutPath "$INSTDIR${FOLDER}"
  File "${SOURCE}${FOLDER}\${NAME}"
!macroend
!macro RemoveFile FOLDER NAME
  Delete "$INSTDIR${FOLDER}\${NAME}"
!macroend

; Ends the installation's own launcher and client (by their full paths) so their files can be replaced or
; removed; a program of the same name elsewhere keeps running.
!macro EndInstallationPrograms
  InitPluginsDir
  File "/oname=$PLUGINSDIR\EndPrograms.exe" "${HELPER}"
  nsExec::ExecToLog '"$PLUGINSDIR\EndPrograms.exe" "$INSTDIR\${LAUNCHER}" "$INSTDIR\bin\client.exe"'
  Pop $0
!macroend

; Sets EntryKey (and Title) to the uninstall key whose InstallLocation is $INSTDIR (EntryFound 1), else to
; the first free one (EntryFound 0; "" when every one is taken).
!macro FindEntryFunction UN
Function ${UN}FindEntry
  StrCpy $EntryKey ""
  StrCpy $EntryFound 0
  StrCpy $0 1
  ${Do}
    ${If} $0 == 1
      StrCpy $1 "${ENTRY_NAME}"
    ${Else}
      StrCpy $1 "${ENTRY_NAME}-$0"
    ${EndIf}
    ClearErrors
    ReadRegStr $2 HKLM "${UNINSTALL_ROOT}\$1" "InstallLocation"
    ${If} ${Errors}
      ${If} $EntryKey == ""
        StrCpy $EntryKey $1
        StrCpy $3 $0
      ${EndIf}
    ${ElseIf} $2 == $INSTDIR
      StrCpy $EntryKey $1
      StrCpy $EntryFound 1
      StrCpy $3 $0
      ${Break}
    ${EndIf}
    IntOp $0 $0 + 1
  ${LoopUntil} $0 > ${MAX_ENTRIES}
  ${If} $3 == 1
    StrCpy $Title "${PRODUCT}"
  ${Else}
    StrCpy $Title "${PRODUCT} ($3)"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro FindEntryFunction ""
!insertmacro FindEntryFunction "un."

; Copies the control library with the engine beside it into the folder the launcher checks (System32, or
; SysWOW64 for this 32-bit program on 64-bit Windows), registers it, and takes one reference in
; SharedDLLs for this installation (none when a repair finds one taken already). A library that fails to
; register is deleted again, as the registration script does: the launcher then asks at its first start.
Function RegisterControl
  ${If} ${IsWow64}
    StrCpy $3 "$WINDIR\SysWOW64"
  ${Else}
    StrCpy $3 "$SYSDIR"
  ${EndIf}
  StrCpy $4 "$3\${CONTROL}"
  ClearErrors
  ReadRegDWORD $5 HKLM "${SHARED_DLLS}" $4
  ${If} ${Errors}
    StrCpy $5 0
    ; Placed there before by an installation's own registration script, which keeps no count.
    ${If} ${FileExists} $4
      StrCpy $5 1
    ${EndIf}
  ${EndIf}
  SetOverwrite try
  SetOutPath $3
  File "/oname=${ENGINE}" "${SOURCE}\bin\${ENGINE}"
  File "/oname=${CONTROL}" "${SOURCE}\Build\${CONTROL}"
  SetOverwrite on
  ClearErrors
  RegDLL $4
  ${If} ${Errors}
    ${If} $5 == 0
      Delete $4
    ${EndIf}
    DetailPrint "The control library did not register: $4"
    MessageBox MB_OK|MB_ICONEXCLAMATION "控件注册失败，程序首次启动时会再次注册。" /SD IDOK
    SetErrorLevel 2
    Return
  ${EndIf}
  ReadRegDWORD $6 HKLM "${UNINSTALL_ROOT}\$EntryKey" "ControlReference"
  ${If} $6 != 1
    IntOp $5 $5 + 1
    WriteRegDWORD HKLM "${SHARED_DLLS}" $4 $5
  ${EndIf}
  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "ControlFolder" $3
  WriteRegDWORD HKLM "${UNINSTALL_ROOT}\$EntryKey" "ControlReference" 1
FunctionEnd

; Gives back this installation's reference; the last one unregisters and deletes the library and the
; engine beside it.
Function un.ReleaseControl
  ReadRegDWORD $6 HKLM "${UNINSTALL_ROOT}\$EntryKey" "ControlReference"
  ReadRegStr $3 HKLM "${UNINSTALL_ROOT}\$EntryKey" "ControlFolder"
  ${If} $6 != 1
  ${OrIf} $3 == ""
    Return
  ${EndIf}
  StrCpy $4 "$3\${CONTROL}"
  ReadRegDWORD $5 HKLM "${SHARED_DLLS}" $4
  IntOp $5 $5 - 1
  ${If} $5 > 0
    WriteRegDWORD HKLM "${SHARED_DLLS}" $4 $5
    DetailPrint "The control library stays for $5 other installation(s)"
    Return
  ${EndIf}
  DeleteRegValue HKLM "${SHARED_DLLS}" $4
  UnRegDLL $4
  Delete $4
  Delete "$3\${ENGINE}"
FunctionEnd

; The maintenance service: the installation's own launcher run by the service manager as LocalSystem with
; "-service", started on demand by the user's launcher to install a signed update without a UAC prompt.
; ServiceSetup.exe creates it with its access rights (users may start it, only administrators change, stop
; or delete it); the configuration names the installation it serves. Named after the uninstall key, so
; installations side by side each have their own.
!macro ServiceNameFunction UN
Function ${UN}ServiceNameOfEntry
  StrCpy $0 $EntryKey "" 14  ; what follows "VantorixAssist": "" or "-2" ...
  StrCpy $ServiceName "${SERVICE_PREFIX}$0"
FunctionEnd
!macroend
!insertmacro ServiceNameFunction ""
!insertmacro ServiceNameFunction "un."

Function InstallMaintenanceService
  Call ServiceNameOfEntry
  WriteRegStr HKLM "${SERVICE_CONFIG}\$ServiceName" "Installation" "$INSTDIR"
  InitPluginsDir
  File "/oname=$PLUGINSDIR\ServiceSetup.exe" "${SERVICE_HELPER}"
  nsExec::ExecToLog '"$PLUGINSDIR\ServiceSetup.exe" install "$ServiceName" "$INSTDIR\${LAUNCHER}"'
  Pop $0
  ${If} $0 != 0
    ; Without it users are asked for an administrator's consent at each update, as before.
    DetailPrint "The maintenance service was not installed ($0)"
    DeleteRegKey HKLM "${SERVICE_CONFIG}\$ServiceName"
  ${EndIf}
FunctionEnd

Function un.RemoveMaintenanceService
  Call un.ServiceNameOfEntry
  InitPluginsDir
  File "/oname=$PLUGINSDIR\ServiceSetup.exe" "${SERVICE_HELPER}"
  nsExec::ExecToLog '"$PLUGINSDIR\ServiceSetup.exe" remove "$ServiceName"'
  Pop $0
  DeleteRegKey HKLM "${SERVICE_CONFIG}\$ServiceName"
  DeleteRegKey /ifempty HKLM "${SERVICE_CONFIG}"
  DeleteRegKey /ifempty HKLM "Software\Vantorix\VantorixAssist"
  DeleteRegKey /ifempty HKLM "Software\Vantorix"
FunctionEnd

; The launcher through StartAsUser.exe (the shell's token): as the user who is logged on, also when an
; administrator's credentials elevated this setup. Where that is not possible, nothing is started.
Function StartLauncherAsUser
  InitPluginsDir
  File "/oname=$PLUGINSDIR\StartAsUser.exe" "${STARTER}"
  ExecWait '"$PLUGINSDIR\StartAsUser.exe" "$INSTDIR\${LAUNCHER}"' $0
  ${If} $0 != 0
    DetailPrint "The launcher was not started as the user ($0): start it from the Start menu"
  ${EndIf}
FunctionEnd

; An existing installation folder must let only SYSTEM, the Administrators and TrustedInstaller change it;
; a new one is made with the rights of Program Files (read back by the helper).
Function GuardFolder
  InitPluginsDir
  File "/oname=$PLUGINSDIR\FolderRights.exe" "${RIGHTS}"
  ${If} ${FileExists} "$INSTDIR\*.*"
    nsExec::ExecToLog '"$PLUGINSDIR\FolderRights.exe" check "$INSTDIR"'
    Pop $0
    ${If} $0 != 0
      DetailPrint "The folder may be changed by others than the administrators ($0): $INSTDIR"
      MessageBox MB_OK|MB_ICONSTOP "其他用户可以修改该文件夹，安装到这里不安全，请选择其他文件夹：$INSTDIR" /SD IDOK
      SetErrorLevel 4
      Abort
    ${EndIf}
  ${Else}
    CreateDirectory "$INSTDIR"
    nsExec::ExecToLog '"$PLUGINSDIR\FolderRights.exe" protect "$INSTDIR"'
    Pop $0
    ${If} $0 != 0
      RMDir "$INSTDIR"
      DetailPrint "The folder's rights could not be set ($0): $INSTDIR"
      MessageBox MB_OK|MB_ICONSTOP "无法设置安装文件夹的访问权限：$INSTDIR" /SD IDOK
      SetErrorLevel 5
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

Section "!${PRODUCT}" SecMain
  SectionIn RO
  SetShellVarContext all
  ; Never write into a drive's root: "$INSTDIR\bin" of an empty folder would be "\bin".
  StrLen $0 $INSTDIR
  ${If} $0 < 4
    MessageBox MB_OK|MB_ICONSTOP "请选择一个文件夹：$INSTDIR" /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  Call FindEntry
  ${If} $EntryKey == ""
    MessageBox MB_OK|MB_ICONSTOP "已安装的副本过多，无法再安装。" /SD IDOK
    SetErrorLevel 3
    Abort
  ${EndIf}
  Call GuardFolder
  !insertmacro EndInstallationPrograms
  !insertmacro InstallationFiles PutFile
  CreateDirectory "$INSTDIR\update"
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "DisplayName" "$Title"
  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "DisplayIcon" "$INSTDIR\${LAUNCHER},0"
  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_ROOT}\$EntryKey" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_ROOT}\$EntryKey" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_ROOT}\$EntryKey" "NoRepair" 1
  Call RegisterControl
  Call InstallMaintenanceService

  SetOutPath "$INSTDIR"
  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\$Title.lnk" "$INSTDIR\${LAUNCHER}"
SectionEnd

Section "桌面快捷方式" SecDesktop
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  CreateShortcut "$DESKTOP\$Title.lnk" "$INSTDIR\${LAUNCHER}"
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Call un.FindEntry
  !insertmacro EndInstallationPrograms
  ${If} $EntryFound == 1
    Call un.ReleaseControl
    Call un.RemoveMaintenanceService
  ${EndIf}
  !insertmacro InstallationFiles RemoveFile
  ; The launcher's own files: the first-start marker and the update archive with the downloader's side
  ; files (".dl", ".dl.cfg", and their numbered variants "newtemp(2).zip.dl" ...).
  Delete "$INSTDIR\Build\installock.txt"
  Delete "$INSTDIR\update\newtemp.zip"
  Delete "$INSTDIR\update\newtemp.zip.dl"
  Delete "$INSTDIR\update\newtemp.zip.dl.cfg"
  Delete "$INSTDIR\update\newtemp(*).zip"
  Delete "$INSTDIR\update\newtemp(*).zip.dl"
  Delete "$INSTDIR\update\newtemp(*).zip.dl.cfg"
  ; The installation's state (the highest manifest serial accepted) goes with the installation.
  Delete "$INSTDIR\update\install.state"
  Delete "$INSTDIR\update\install.state.new"
  ; The maintenance service's results and the step's log.
  Delete "$INSTDIR\update\results\*.result"
  Delete "$INSTDIR\update\results\*.result.new"
  RMDir "$INSTDIR\update\results"
  ${If} $EntryFound == 1
    Delete "$SMPROGRAMS\${PRODUCT}\$Title.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    Delete "$DESKTOP\$Title.lnk"
    DeleteRegKey HKLM "${UNINSTALL_ROOT}\$EntryKey"
  ${EndIf}
  ; Its own file and the folders last: an uninstaller that is gone has done all of its work. Folders go
  ; only when nothing else is left in them.
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR\bin\Skin"
  RMDir "$INSTDIR\bin"
  RMDir "$INSTDIR\Skin"
  RMDir "$INSTDIR\Build"
  RMDir "$INSTDIR\update"
  RMDir "$INSTDIR"
SectionEnd
