#!/usr/bin/env bash
# The publisher's package build (scripts/package.sh): bad arguments get a clear error and
# leave no package behind; good ones make a sealed package whose resource is named after
# the payload. Ends with "package: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
work=$(mktemp -d /tmp/package-suite-XXXXXX)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

ok() {
  echo "ok $1"
  passed=$((passed + 1))
}
not_ok() {
  echo "FAILED $1: $2"
  failed=$((failed + 1))
}

# package <args...>: runs the package script from the work folder; sets $rc and $output.
package() {
  output=$(cd "$work" && bash "$root/scripts/package.sh" "$@" 2>&1)
  rc=$?
}

printf 'tiny payload\n' >"$work/tiny.dat"
: >"$work/empty.dat"
printf 'x' >"$work/noext"
for name in 1abc.dat a.b.dat kvx.c-k con.dat; do printf 'x' >"$work/$name"; done
# An earlier package at the output path: it must not survive a failed run.
stale() { printf 'MZ an earlier package' >"$work/stale.exe"; }

# name | payload | version | arch | out | guarded | expected words of the error
bad_cases=(
  "no payload given||367|x86|||no PAYLOAD given"
  "missing payload file|missing.dat|367|x86|||does not exist"
  "empty payload file|empty.dat|367|x86|||is empty"
  "payload without extension|noext|367|x86|||cannot name a resource"
  "payload name starting with a digit|1abc.dat|367|x86|||cannot name a resource"
  "payload name with two dots|a.b.dat|367|x86|||cannot name a resource"
  "payload extension with a dash|kvx.c-k|367|x86|||cannot name a resource"
  "payload named after a device|con.dat|367|x86|||reserved device name"
  "no version given|tiny.dat||x86|||no VERSION given"
  "version with letters|tiny.dat|abc|x86|||decimal number from 1 to 65535"
  "negative version|tiny.dat|-1|x86|||decimal number from 1 to 65535"
  "version zero|tiny.dat|0|x86|||decimal number from 1 to 65535"
  "version above 16 bits|tiny.dat|65536|x86|||decimal number from 1 to 65535"
  "version with a fraction|tiny.dat|1.5|x86|||decimal number from 1 to 65535"
  "hexadecimal version|tiny.dat|0x10|x86|||decimal number from 1 to 65535"
  "architecture arm64|tiny.dat|367|arm64|||ARCH must be x86 or x64"
  "architecture in capitals|tiny.dat|367|X86|||ARCH must be x86 or x64"
  "guarded flag 2|tiny.dat|367|x86||2|GUARDED must be 0 or 1"
  "stale package with a bad version|tiny.dat|x|x86|stale.exe||removed the earlier package"
  "stale package with a missing payload|missing.dat|367|x86|stale.exe||removed the earlier package"
)
for row in "${bad_cases[@]}"; do
  IFS='|' read -r name payload version arch out guarded expected <<<"$row"
  stale
  before=$(ls -l "$root/build/packages" 2>/dev/null)
  package "$payload" "$version" "${arch:-x86}" "$out" "${guarded:-0}"
  if [ "$rc" -eq 0 ]; then
    not_ok "$name" "accepted"
  elif ! grep -qF -- "$expected" <<<"$output"; then
    not_ok "$name" "no \"$expected\" in: $output"
  elif ! grep -qF "no package made" <<<"$output"; then
    not_ok "$name" "does not say that no package was made: $output"
  elif [ -n "$out" ] && [ -e "$work/$out" ]; then
    not_ok "$name" "left $out behind"
  elif [ "$(ls -l "$root/build/packages" 2>/dev/null)" != "$before" ]; then
    not_ok "$name" "changed build/packages"
  else
    ok "$name"
  fi
done

# An existing file that is no package is never overwritten or removed.
printf 'notes' >"$work/notes.txt"
package tiny.dat 7 x86 notes.txt 0
if [ "$rc" -ne 0 ] && grep -qF "is not a package" <<<"$output" &&
  [ "$(cat "$work/notes.txt")" = notes ]; then
  ok "a file that is no package is left alone"
else
  not_ok "a file that is no package is left alone" "$output"
fi

# A real package: the summary names what the resource directory holds, and the seal holds.
if [ ! -f src/update/main_win.cc ]; then
  echo "skip a package is made: the installer's entry point is not in this tree yet"
else
  stale
  package tiny.dat 0042 x86 stale.exe 1
  if [ "$rc" -ne 0 ]; then
    not_ok "a package is made" "$output"
  elif ! grep -qE "^package: made $work/stale.exe\$" <<<"$output" ||
    ! grep -qE "resource: +type DAT, name TINY, 13 bytes" <<<"$output" ||
    ! grep -qE "version: +42\$" <<<"$output" || ! grep -qE "guarded: +yes\$" <<<"$output" ||
    ! grep -qE "seal: +verified" <<<"$output"; then
    not_ok "a package is made" "unexpected summary: $output"
  elif ! build/native/kestrane-seal --verify "$work/stale.exe" >/dev/null; then
    not_ok "a package is made" "the package does not verify"
  else
    ok "a package is made, named after its payload, with the version's leading zeros dropped"
  fi

  mkdir -p "$work/out"
  package tiny.dat 9 x86 out 0
  if [ "$rc" -eq 0 ] && [ -f "$work/out/tiny-9-x86.exe" ] &&
    [ "$(ls "$work/out" | wc -l)" -eq 1 ]; then
    ok "an OUT folder gets the default name and no temporary file"
  else
    not_ok "an OUT folder gets the default name and no temporary file" "$output"
  fi
fi

echo "package: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
