#!/usr/bin/env bash
# Checks Windows builds of the library and the host tool:
#   - a zkdrv.dll exports exactly the eighteen undecorated names;
#   - every file given (DLL or EXE) imports Windows system DLLs only, no MinGW runtime DLL,
#     so that it runs with nothing beside it.
# Usage: check-windows-exports.sh zkdrv.dll [zkhost.exe ...]   (32-bit or 64-bit files)
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: check-windows-exports.sh zkdrv.dll [zkhost.exe ...]" >&2; exit 2; }

expected="BufferInfo Check DisposeDriver Done DriverProc GetDriverInfo GetInput Init InputFinalized InputRequest InputRequestCompleted MakeDriver OutputFinalized OutputRequest OutputRequestCompleted QueryProc SetBufferAddr Version"
# The DLLs every Windows has; anything else would have to be shipped beside the file.
system_dlls="kernel32.dll user32.dll gdi32.dll msvcrt.dll advapi32.dll"

objdump_for() {  # the MinGW objdump that reads this file's format
  local f=$1 tool
  for tool in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump objdump; do
    command -v "$tool" >/dev/null && "$tool" -f "$f" >/dev/null 2>&1 && { echo "$tool"; return; }
  done
  echo "no objdump reads $f" >&2
  return 1
}

status=0
for file in "$@"; do
  objdump=$(objdump_for "$file")
  headers=$("$objdump" -p "$file")
  format=$("$objdump" -f "$file" | awk '/file format/ {print $NF}')
  case "$(basename "$file")" in
    *.dll|*.DLL)
      actual=$(printf '%s\n' "$headers" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
        awk '/\[/ && $NF != "Table" {print $NF}' | sort | tr '\n' ' ' | sed 's/ $//')
      if [ "$actual" != "$expected" ]; then
        echo "export table of $file differs:" >&2
        echo "  expected: $expected" >&2
        echo "  actual:   $actual" >&2
        status=1
      else
        echo "$file ($format) exports the eighteen functions"
      fi
      ;;
  esac
  imports=$(printf '%s\n' "$headers" | awk '/DLL Name:/ {print tolower($3)}' | sort -u | tr '\n' ' ' | sed 's/ $//')
  foreign=
  for dll in $imports; do
    case " $system_dlls " in *" $dll "*) ;; *) foreign="$foreign $dll" ;; esac
  done
  if [ -n "$foreign" ]; then
    echo "$file needs DLLs that are not part of Windows:$foreign" >&2
    status=1
  else
    echo "$file ($format) imports only system DLLs: $imports"
  fi
done
exit $status
