#!/usr/bin/env bash
# Checks that a Windows build of the library exports exactly the eighteen undecorated names
# and needs no MinGW runtime DLL beside it.
set -euo pipefail
dll=${1:?usage: check-windows-exports.sh zkdrv.dll}
objdump=$(command -v i686-w64-mingw32-objdump || command -v objdump)

expected="BufferInfo Check DisposeDriver Done DriverProc GetDriverInfo GetInput Init InputFinalized InputRequest InputRequestCompleted MakeDriver OutputFinalized OutputRequest OutputRequestCompleted QueryProc SetBufferAddr Version"
actual=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/\[/ && $NF != "Table" {print $NF}' | sort | tr '\n' ' ' | sed 's/ $//')
if [ "$actual" != "$expected" ]; then
  echo "export table of $dll differs:" >&2
  echo "  expected: $expected" >&2
  echo "  actual:   $actual" >&2
  exit 1
fi
runtime=$("$objdump" -p "$dll" | awk '/DLL Name:/ {print $3}' | grep -iE 'libgcc|libstdc|libwinpthread' || true)
if [ -n "$runtime" ]; then
  echo "$dll needs MinGW runtime DLLs: $runtime" >&2
  exit 1
fi
echo "$dll exports the eighteen functions: $actual"
