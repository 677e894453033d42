#!/usr/bin/env bash
# What the shipped installers carry, read from the files themselves with objdump:
#   - every DLL imported statically is one Windows always loads from the system folder (a
#     KnownDLL); anything else, version.dll and comctl32.dll above all, is loaded at run time
#     from the system folder only, so that a DLL planted beside the package is never picked up;
#     the list is exactly what the package needs: the C runtime, kernel, user interface,
#     registry and shell, and COM (ole32, oleaut32) to reach the desktop shell;
#   - PE32 (i686) or PE32+ (x86_64), GUI subsystem;
#   - the manifest (resource type 24, id 1) asks for administrator rights and common controls
#     6.0 and names no supported systems, so that the version query reports 6.2 for every later
#     Windows and the system's own version record tells them apart;
#   - the icon (types 3 and 14) and the payload resource COK/KVX holding build/assets/kvx.cok.
# Control programs built here (a static import of version.dll and comctl32.dll, no resources;
# a manifest that asks too little and names systems) must fail the same checks, so that each
# check is seen to be able to fail.
set -uo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build}
PAYLOAD=$BUILD/assets/kvx.cok
allowed='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|msvcrt)\.dll$'
passed=0
failed=0
check() {  # check <name> <condition result 0/1> <detail>
  if [ "$2" -eq 0 ]; then echo "ok $1"; passed=$((passed + 1)); else echo "FAIL $1: $3"; failed=$((failed + 1)); fi
}

# resources <objdump -p output>: one line per resource, "<type>/<name>/<language> <rva> <size>"
# with numeric ids as #<hex> and rva and size in hex, read from objdump's resource tree.
resources() {
  awk '
    /^The .rsrc Resource Directory section/ { on = 1; next }
    on && /^ (String table|Resources start)/ { on = 0 }
    on && /Entry:|Leaf:/ {
      match($0, /^[0-9a-f]+ +/); depth = RLENGTH
      if ($0 ~ /Leaf:/) {
        a = $0; sub(/.*Addr: 0x/, "", a); sub(/,.*/, "", a)
        s = $0; sub(/.*Size: 0x/, "", s); sub(/,.*/, "", s)
        print names, a, s; next
      }
      v = $0
      if (v ~ /Entry: name:/) sub(/.*\]: /, "", v); else sub(/.*ID: 0x0*/, "#", v)
      sub(/, Value:.*/, "", v)
      for (d in level) if (d + 0 >= depth) delete level[d]
      level[depth] = v
      names = ""
      for (d = 0; d <= depth; d++) if (d in level) names = names (names == "" ? "" : "/") level[d]
    }' <<<"$1"
}

# resource_bytes <exe> <objdump tool> <rva hex> <size hex> <out>: copies a resource's bytes out
# of the file, through the section that holds its address.
resource_bytes() {
  local exe=$1 tool=$2 rva=$((16#$3)) size=$((16#$4)) out=$5 base idx name length vma rest
  local offset=""
  base=$((16#$($tool -p "$exe" | awk '/^ImageBase/ {print $2}')))
  while read -r idx name length vma _ rest; do
    [[ $name == .* && $length =~ ^[0-9a-f]+$ ]] || continue
    vma=$((16#$vma - base))
    if ((rva >= vma && rva < vma + 16#$length)); then
      offset=$((16#${rest%% *} + rva - vma))
      break
    fi
  done < <($tool -h "$exe")
  [ -n "$offset" ] || return 1
  dd if="$exe" of="$out" bs=1M iflag=skip_bytes,count_bytes skip="$offset" count="$size" status=none
}

# inspect <label> <exe> <objdump tool> <PE32|PE32+>: runs every check on one program.
inspect() {
  local label=$1 exe=$2 tool=$3 kind=$4 header dlls bad list manifest line
  header=$($tool -p "$exe")
  dlls=$(awk '/DLL Name:/ {print tolower($3)}' <<<"$header" | sort -u)
  bad=$(grep -vE "$allowed" <<<"$dlls" | tr '\n' ' ')
  check "$label imports only system DLLs ($(echo $dlls))" $([ -z "$bad" ]; echo $?) "imports $bad"
  if [ "$kind" = PE32 ]; then
    grep -q 'Magic.*010b' <<<"$header"; check "$label is PE32" $? "not a PE32 image"
  else
    grep -q 'Magic.*020b' <<<"$header"; check "$label is PE32+" $? "not a PE32+ image"
  fi
  grep -qE 'Subsystem.*\(Windows GUI\)' <<<"$header"; check "$label has the GUI subsystem" $? "wrong subsystem"

  list=$(resources "$header")
  manifest=$BUILD/imports-check/manifest.xml
  rm -f "$manifest"
  line=$(grep -E '^#18/#1/' <<<"$list" | head -1)
  if [ -n "$line" ]; then resource_bytes "$exe" "$tool" $(cut -d' ' -f2,3 <<<"$line") "$manifest"; fi
  [ -s "$manifest" ]; check "$label has a manifest (type 24, id 1)" $? "no manifest resource"
  touch "$manifest"
  grep -qE 'requestedExecutionLevel +level="requireAdministrator"' "$manifest"
  check "$label manifest asks for administrator rights" $? "no requireAdministrator"
  tr -d '\n' <"$manifest" | grep -qE 'name="Microsoft\.Windows\.Common-Controls" +version="6\.0\.0\.0"'
  check "$label manifest asks for common controls 6.0" $? "no Common-Controls 6.0.0.0 dependency"
  ! grep -qiE 'supportedOS|compatibility' "$manifest"
  check "$label manifest names no supported systems" $? "a compatibility section would hide the real version"
  grep -qE '^#3/' <<<"$list" && grep -qE '^#e/' <<<"$list"
  check "$label has an icon" $? "no icon and icon group resources"

  line=$(grep -E '^COK/KVX/' <<<"$list" | head -1)
  rm -f "$BUILD/imports-check/payload"
  if [ -n "$line" ]; then
    resource_bytes "$exe" "$tool" $(cut -d' ' -f2,3 <<<"$line") "$BUILD/imports-check/payload"
  fi
  [ -n "$line" ] && cmp -s "$BUILD/imports-check/payload" "$PAYLOAD"
  check "$label carries the payload as COK/KVX" $? "no COK/KVX resource with the bytes of $PAYLOAD"
}

mkdir -p "$BUILD/imports-check"
for arch in win32:i686:PE32 win64:x86_64:PE32+; do
  IFS=: read -r dir cpu kind <<<"$arch"
  exe=$BUILD/$dir/KestraneUpdate.exe
  if [ ! -f "$exe" ]; then check "$dir installer exists" 1 "$exe missing"; continue; fi
  inspect "$dir" "$exe" "$cpu-w64-mingw32-objdump" "$kind"
done

# The controls: every check above must reject them, or it could not catch a fault.
controls=$BUILD/imports-check/controls
mkdir -p "$controls"
cat >"$controls/control.c" <<'EOF'
#include <windows.h>
#include <commctrl.h>
int WINAPI WinMain(HINSTANCE a, HINSTANCE b, LPSTR c, int d) {
  InitCommonControls();
  return (int)GetFileVersionInfoSizeA("x", NULL);
}
EOF
cat >"$controls/weak.manifest" <<'EOF'
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3"><security><requestedPrivileges>
    <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
  </requestedPrivileges></security></trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>
    <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
  </application></compatibility>
</assembly>
EOF
echo '1 24 "weak.manifest"' >"$controls/weak.rc"
x86_64-w64-mingw32-gcc -mwindows -o "$controls/imports.exe" "$controls/control.c" -lversion -lcomctl32 &&
  (cd "$controls" && x86_64-w64-mingw32-windres weak.rc -O coff -o weak.res) &&
  x86_64-w64-mingw32-gcc -mconsole -o "$controls/weak.exe" "$controls/control.c" \
    "$controls/weak.res" -lversion -lcomctl32
check "control programs build" $? "mingw could not build them"
# A check is shown able to fail when at least one control fails it.
rejected=""
for control in imports weak; do
  [ -f "$controls/$control.exe" ] || continue
  rejected+=$(passed=0 failed=0; inspect "control" "$controls/$control.exe" \
    x86_64-w64-mingw32-objdump PE32 | sed -n 's/^FAIL control \([^:(]*[^:( ]\).*/\1/p')$'\n'
done
while read -r name; do
  grep -qxF "$name" <<<"$rejected"
  check "a control fails \"$name\"" $? "no control program fails this check"
done < <(passed=0 failed=0; inspect "control" "$controls/imports.exe" \
  x86_64-w64-mingw32-objdump PE32 | sed -n 's/^[a-zA-Z]* control \([^:(]*[^:( ]\).*/\1/p')
echo "imports: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
