; Runwarden's installer, for one user and without administrator rights.
; makensis /DARCH=x64|x86 /DVERSION=1.0 /DSOURCE=<folder with Runwarden.exe,
; Runwarden.chm and readme.txt> /DOUTFILE=<setup.exe> Runwarden.nsi
;
; Silent: "setup.exe /S" starts Runwarden with Windows as the last page would;
; "/S /NOSTART" does not.

Unicode true
!if "${ARCH}" == "x64"
  Target amd64-unicode
!else
  Target x86-unicode
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh

!define APP "Runwarden"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP}"

Name "${APP}"
OutFile "${OUTFILE}"
RequestExecutionLevel user
InstallDir "$LOCALAPPDATA\Programs\${APP}"
SetCompressor /SOLID lzma
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define MUI_ICON "${SOURCE}\main.ico"
!define MUI_UNICON "${SOURCE}\main.ico"
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_FUNCTION StartProgram
!define MUI_FINISHPAGE_SHOWREADME
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Запускать с Windows"
!define MUI_FINISHPAGE_SHOWREADME_FUNCTION ApplyStartChoice
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"

; The Run value exactly as the program's own menu writes it, into $0: the
; path, in quotes when it holds a blank.
Function OwnCommand
  StrCpy $0 "$INSTDIR\${APP}.exe"
  StrCpy $1 0
  ${Do}
    StrCpy $2 $0 1 $1
    ${If} $2 == " "
      StrCpy $0 '"$0"'
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
  ${LoopUntil} $2 == ""
FunctionEnd

; Ends a running Runwarden (an older one too) and waits until it has gone.
!macro EndRunningProgram
  FindWindow $0 "RunwardenClass" "${APP}"
  ${If} $0 != 0
    System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1)'
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'
    SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${If} $2 != 0
      System::Call 'kernel32::WaitForSingleObject(p r2, i 10000)'
      System::Call 'kernel32::CloseHandle(p r2)'
    ${EndIf}
  ${EndIf}
!macroend

Function ApplyStartChoice
  Call OwnCommand
  WriteRegStr HKCU "${RUN_KEY}" "${APP}" $0
FunctionEnd

; The finish page starts the program before it acts on the choice: the
; choice is made first, so that the program marks it at its start.
Function StartProgram
  ${NSD_GetState} $mui.FinishPage.ShowReadme $0
  ${If} $0 == ${BST_CHECKED}
    Call ApplyStartChoice
  ${EndIf}
  Exec '"$INSTDIR\${APP}.exe"'
FunctionEnd

Section
  !insertmacro EndRunningProgram
  SetOutPath "$INSTDIR"
  File "${SOURCE}\${APP}.exe"
  File "${SOURCE}\${APP}.chm"
  File "${SOURCE}\readme.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${APP}.lnk" "$INSTDIR\${APP}.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${APP}.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0

  ${If} ${Silent}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOSTART" $1
    ${If} ${Errors}
      Call ApplyStartChoice
    ${EndIf}
  ${EndIf}
SectionEnd

Section "Uninstall"
  !insertmacro EndRunningProgram
  ; The Run value goes only when it is the program's own command.
  ReadRegStr $1 HKCU "${RUN_KEY}" "${APP}"
  StrCpy $2 "$INSTDIR\${APP}.exe"
  ${If} $1 S== $2
  ${OrIf} $1 S== '"$2"'
  ${OrIf} $1 S== "$2 -once"
  ${OrIf} $1 S== '"$2" -once'
    DeleteRegValue HKCU "${RUN_KEY}" "${APP}"
  ${EndIf}
  Delete "$INSTDIR\${APP}.exe"
  Delete "$INSTDIR\${APP}.chm"
  Delete "$INSTDIR\readme.txt"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\${APP}.lnk"
  ; Not /r: settings kept beside the program stay with their folder.
  RMDir "$INSTDIR"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
