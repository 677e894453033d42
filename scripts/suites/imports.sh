#!/usr/bin/env bash
# Every DLL an installer imports statically must be one Windows always loads from the system
# folder (a KnownDLL); anything else is loaded at run time from the system folder only, so a
# DLL planted beside the package is never picked up. Also checks the shipped kind: PE32 GUI.
set -uo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build}
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt|ntdll|comdlg32|shlwapi)\.dll$'
passed=0
failed=0
check() {  # check <name> <condition result 0/1> <detail>
  if [ "$2" -eq 0 ]; then echo "ok $1"; passed=$((passed + 1)); else echo "FAIL $1: $3"; failed=$((failed + 1)); fi
}
for arch in win32:i686 win64:x86_64; do
  dir=${arch%%:*}
  tool=${arch##*:}-w64-mingw32-objdump
  exe=$BUILD/$dir/KestraneUpdate.exe
  if [ ! -f "$exe" ]; then check "$dir installer exists" 1 "$exe missing"; continue; fi
  dlls=$($tool -p "$exe" | awk '/DLL Name:/ {print tolower($3)}' | sort -u)
  bad=$(echo "$dlls" | grep -vE "$allowed" | tr '\n' ' ')
  check "$dir imports only system DLLs ($(echo $dlls | tr '\n' ' '))" $([ -z "$bad" ]; echo $?) "imports $bad"
  header=$($tool -p "$exe")
  if [ "$dir" = win32 ]; then
    grep -q 'Magic.*010b' <<<"$header"; check "$dir is PE32" $? "not a PE32 image"
  else
    grep -q 'Magic.*020b' <<<"$header"; check "$dir is PE32+" $? "not a PE32+ image"
  fi
  grep -qE 'Subsystem.*\(Windows GUI\)' <<<"$header"; check "$dir has the GUI subsystem" $? "wrong subsystem"
done
echo "imports: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
