#!/usr/bin/env bash
# Every library a shipped program imports must be one that Windows 10 and 11 always load from the
# system directory (a KnownDLL), or comctl32, which the manifest binds side by side: any other
# name is looked for in the program's own folder first, where another account may have put it.
#   check-imports.sh <objdump> <program>...
set -u
objdump="$1"
shift
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs of Windows 10 and 11, and ntdll,
# which the kernel maps into every process before any search.
known="advapi32 clbcatq combase comdlg32 coml2 difxapi gdi32 gdiplus imagehlp imm32 kernel32 msctf msvcrt
       normaliz nsi ole32 oleaut32 psapi rpcrt4 sechost setupapi shcore shell32 shlwapi user32 wldap32 ws2_32
       wow64 wow64cpu wow64win ntdll"
side_by_side="comctl32"
status=0
for program in "$@"; do
  imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sed 's/\.dll$//')
  [ -n "$imports" ] || [ "${program##*.}" = dll ] || { echo "$program: no import table read"; status=1; }
  for name in $imports; do
    case " $(echo $known) $side_by_side " in
      *" $name "*) ;;
      *) echo "$program imports $name.dll, which Windows would look for in the program's folder first"; status=1 ;;
    esac
  done
  echo "$program: $(echo $imports)"
done
exit $status
