; The Windows installer: the program folder into Program Files, a Start menu entry, an
; uninstaller, and the installing user's settings folders (%APPDATA%\Mokopon\★MailData), where an
; installed copy keeps vbmail.ini and ★MailData. Made by package.sh: makensis -DSTAGE=... -DOUTFILE=...
; A 64-bit installer for the 64-bit program (and for Wine without its 32-bit part).
Target amd64-unicode
SetCompressor /SOLID lzma
Name "モコポン (Mokopon)"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Mokopon"
RequestExecutionLevel admin
ShowInstDetails nevershow

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Mokopon"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Mokopon"
  SetOutPath "$INSTDIR"
  ; An installed copy keeps its data in the user's folders, not beside the program.
  File /r /x "★MailData" "${STAGE}\*.*"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  SetShellVarContext current
  CreateDirectory "$APPDATA\Mokopon\★MailData"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\モコポン.lnk" "$INSTDIR\mokopon.exe" "" "$INSTDIR\mokopon.exe" 0 \
    SW_SHOWNORMAL "" "デスクトップの子犬がPOP3のメールを確かめます"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "モコポン (Mokopon)"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "1.0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Mokopon developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; The users' settings stay: they are theirs, and a new installation finds them again.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\モコポン.lnk"
  RMDir /r "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
