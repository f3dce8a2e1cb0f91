; The sample filter's installer (NSIS): installs the filter's module and
; remove_filter.exe, registers the module with regsvr32, and in its uninstall
; section runs remove_filter.exe before it deletes its own files. Built by
; installers.py, from the folder that holds the two files, with the
; installer's path as OUTFILE.
Unicode true
Name "Sample Filter"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Sample Filter"
RequestExecutionLevel admin

Section
  SetOutPath "$INSTDIR"
  File "sample_filter.ax"
  File "remove_filter.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\sample_filter.ax"'
SectionEnd

; remove_filter.exe deletes the module as it removes the filter, and leaves
; it when a player has it loaded.
Section "Uninstall"
  ExecWait '"$INSTDIR\remove_filter.exe"'
  Delete "$INSTDIR\remove_filter.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
