#!/usr/bin/env bash
# The publisher's package build (scripts/package.sh): bad arguments get a clear error and
# leave no package behind, and no file at OUT that is not a package of ours is touched; good
# ones make a sealed package whose resource holds exactly the payload, read back with pefile
# (CheckSum, resource bytes, version resource), with its digest beside it; signed ones verify
# with osslsigncode and the sealing tool. Ends with "package: N passed, N failed, N skipped".
set -uo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
work=$(mktemp -d /tmp/package-suite-XXXXXX)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
skipped=0

ok() {
  echo "ok $1"
  passed=$((passed + 1))
}
not_ok() {
  echo "FAILED $1: $2"
  failed=$((failed + 1))
}
skip() {
  echo "skip $1: $2"
  skipped=$((skipped + 1))
}
seal_tool=$root/build/native/kestrane-seal
# pefile from Debian's python3-pefile; PATH may lead to another python3 first.
pe_python=""
for candidate in python3 /usr/bin/python3; do
  if "$candidate" -c 'import pefile' 2>/dev/null; then
    pe_python=$candidate
    break
  fi
done
# pe_check <package> <payload> <version> <original name>: pefile's reading, or "" when fine.
pe_check() {
  "$pe_python" "$root/scripts/suites/package_pe.py" "$@" 2>&1 | grep -vx ok
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
# An earlier package of ours at the output path must not survive a failed run; anything else
# there (here an unrelated program, which begins like any) must.
printf 'MZ an unrelated program\n' >"$work/program.exe"
stale() {
  if [ -f "$work/ours.exe" ]; then cp "$work/ours.exe" "$work/stale.exe"; else rm -f "$work/stale.exe"; fi
  cp "$work/program.exe" "$work/other.exe"
}

# A real package first: the rows below need an earlier package of ours.
if [ ! -f src/update/main_win.cc ]; then
  echo "skip: the installer's entry point is not in this tree yet"
else
  package tiny.dat 0042 x86 ours.exe 1
  [ "$rc" -eq 0 ] || echo "the first package could not be made: $output"
fi

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
  "earlier package of ours with a bad version|tiny.dat|x|x86|stale.exe||removed the earlier package"
  "earlier package of ours with a missing payload|missing.dat|367|x86|stale.exe||removed the earlier package"
  "unrelated program with a bad version|tiny.dat|x|x86|other.exe||left $work/other.exe alone: kestrane-seal --verify does not take it for a package of ours"
  "unrelated program with a missing payload|missing.dat|367|x86|other.exe||is not a package of ours (kestrane-seal --verify does not pass it); left alone"
  "unrelated program as OUT of a good build|tiny.dat|5|x86|other.exe||is not a package of ours"
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
  elif [ "$out" = stale.exe ] && [ -e "$work/$out" ]; then
    not_ok "$name" "left $out behind"
  elif [ "$out" = other.exe ] && ! cmp -s "$work/other.exe" "$work/program.exe"; then
    not_ok "$name" "changed or removed $out"
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

# A real package: the summary names what it made, the seal holds, the digest file checks, and
# pefile reads the right CheckSum, the payload and the version resource.
if [ ! -f src/update/main_win.cc ]; then
  skip "real packages" "the installer's entry point is not in this tree yet"
else
  stale
  package tiny.dat 0042 x86 stale.exe 1
  name="a package is made, named after its payload, with the version's leading zeros dropped"
  if [ "$rc" -ne 0 ]; then
    not_ok "$name" "$output"
  elif ! grep -qE "^package: made $work/stale.exe in [0-9]+ s\$" <<<"$output" ||
    ! grep -qE "kind: +PE32 GUI \(x86\)\$" <<<"$output" ||
    ! grep -qE "payload: +tiny.dat as resource DAT/TINY, 13 bytes, identical to" <<<"$output" ||
    ! grep -qE "version: +42\$" <<<"$output" || ! grep -qE "guarded: +yes\$" <<<"$output" ||
    ! grep -qE "signed: +no\$" <<<"$output" ||
    ! grep -qE "seal: +verified, CheckSum 0x[0-9A-F]{8} right" <<<"$output" ||
    ! grep -qE "sha256: +$(sha256sum "$work/stale.exe" | cut -c1-64)\$" <<<"$output"; then
    not_ok "$name" "unexpected summary: $output"
  elif ! "$seal_tool" --verify "$work/stale.exe" >/dev/null; then
    not_ok "$name" "the package does not verify"
  elif ! (cd "$work" && sha256sum -c --status stale.exe.sha256); then
    not_ok "$name" "sha256sum -c does not accept stale.exe.sha256: $(cat "$work/stale.exe.sha256")"
  else
    ok "$name"
  fi
  if [ -z "$pe_python" ]; then
    skip "pefile reads the package" "no python3 with pefile (make setup installs python3-pefile)"
  elif problems=$(pe_check "$work/stale.exe" "$work/tiny.dat" 42 stale.exe) && [ -n "$problems" ]; then
    not_ok "pefile reads CheckSum, payload and version resource" "$problems"
  else
    ok "pefile reads the right CheckSum, the payload and the version resource"
  fi

  mkdir -p "$work/out"
  package tiny.dat 9 x86 out 0
  if [ "$rc" -eq 0 ] && [ -f "$work/out/tiny-9-x86.exe" ] &&
    [ "$(ls "$work/out")" = "$(printf 'tiny-9-x86.exe\ntiny-9-x86.exe.sha256')" ]; then
    ok "an OUT folder gets the default name, its digest and no temporary file"
  else
    not_ok "an OUT folder gets the default name, its digest and no temporary file" \
      "$output; $(ls "$work/out")"
  fi

  # The payload replaced by another of the same size with an older time (as cp -p or an
  # archive leaves it) under the same VERSION: the package must carry the new bytes.
  name="a same-size payload with an older time is embedded anew"
  mkdir -p "$work/first" "$work/second"
  head -c 200000 /dev/urandom >"$work/first/stale.dat"
  head -c 200000 /dev/urandom >"$work/second/stale.dat"
  touch -d '2001-01-01 00:00' "$work/second/stale.dat"
  cp "$work/first/stale.dat" "$work/stale.dat"
  package stale.dat 7 x64 replaced.exe 0
  first_rc=$rc
  cp -p "$work/second/stale.dat" "$work/stale.dat"
  package stale.dat 7 x64 replaced.exe 0
  if [ "$first_rc" -ne 0 ] || [ "$rc" -ne 0 ]; then
    not_ok "$name" "$output"
  elif ! "$seal_tool" resource "$work/replaced.exe" DAT STALE "$work/stale.dat" >/dev/null; then
    not_ok "$name" "the package holds other bytes than the second payload"
  elif [ -n "$pe_python" ] &&
    problems=$(pe_check "$work/replaced.exe" "$work/stale.dat" 7 replaced.exe) &&
    [ -n "$problems" ]; then
    not_ok "$name" "pefile: $problems"
  else
    ok "$name"
  fi

  # Rebuilding: the same inputs built again seconds later into another OUT folder under the
  # same file name give the same bytes, for each kind; the header carries the commit's time,
  # never the clock.
  commit_time=$(git log -1 --format=%ct 2>/dev/null || echo 0)
  for kind in "plain x86|x86|0" "GUARDED=1 x86|x86|1" "plain x64|x64|0"; do
    IFS='|' read -r label arch guarded <<<"$kind"
    name="a $label package rebuilt from the same inputs is the same bytes"
    first=$work/rebuild-$arch-$guarded-a
    second=$work/rebuild-$arch-$guarded-b
    mkdir -p "$first" "$second"
    package tiny.dat 12 "$arch" "$first/rebuilt.exe" "$guarded"
    first_output=$output
    first_rc=$rc
    sleep 2
    package tiny.dat 12 "$arch" "$second/rebuilt.exe" "$guarded"
    if [ "$first_rc" -ne 0 ] || [ "$rc" -ne 0 ]; then
      not_ok "$name" "$first_output $output"
    elif ! cmp -s "$first/rebuilt.exe" "$second/rebuilt.exe"; then
      not_ok "$name" "$(cmp -l "$first/rebuilt.exe" "$second/rebuilt.exe" | wc -l) bytes differ," \
        "first at $(cmp "$first/rebuilt.exe" "$second/rebuilt.exe" | sed 's/.*, //')"
    elif ! grep -qE "^  timestamp: $commit_time \([0-9-]+ [0-9:]+ UTC, from the time of commit" \
      <<<"$output"; then
      not_ok "$name" "the summary does not name the commit's time $commit_time: $output"
    elif [ -n "$pe_python" ] &&
      problems=$(pe_check "$second/rebuilt.exe" "$work/tiny.dat" 12 rebuilt.exe "$commit_time") &&
      [ -n "$problems" ]; then
      not_ok "$name" "pefile: $problems"
    else
      ok "$name"
    fi
  done

  name="SOURCE_DATE_EPOCH is the header's time stamp"
  output=$(cd "$work" && SOURCE_DATE_EPOCH=1234567890 \
    bash "$root/scripts/package.sh" tiny.dat 12 x64 epoch.exe 0 2>&1)
  if [ $? -ne 0 ]; then
    not_ok "$name" "$output"
  elif ! grep -qxF "  timestamp: 1234567890 (2009-02-13 23:31:30 UTC, from SOURCE_DATE_EPOCH)" \
    <<<"$output"; then
    not_ok "$name" "unexpected summary: $output"
  elif [ -z "$pe_python" ]; then
    skip "$name" "no python3 with pefile"
  elif problems=$(pe_check "$work/epoch.exe" "$work/tiny.dat" 12 epoch.exe 1234567890) &&
    [ -n "$problems" ]; then
    not_ok "$name" "pefile: $problems"
  else
    ok "$name"
  fi
  for epoch in yesterday -5 4294967296 12345678901; do
    name="SOURCE_DATE_EPOCH=$epoch is refused"
    output=$(cd "$work" && SOURCE_DATE_EPOCH=$epoch \
      bash "$root/scripts/package.sh" tiny.dat 12 x64 bad-epoch.exe 0 2>&1)
    if [ $? -eq 0 ] || [ -e "$work/bad-epoch.exe" ]; then
      not_ok "$name" "a package was made: $output"
    elif ! grep -qF "SOURCE_DATE_EPOCH must be a whole number of seconds" <<<"$output"; then
      not_ok "$name" "unclear error: $output"
    else
      ok "$name"
    fi
  done

  # Signing with throwaway certificates: PEM pair, PKCS#12 with a password; then the ways
  # signing fails, each leaving no package.
  keys=$work/keys
  mkdir -p "$keys"
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Kestrane test publisher" \
    -keyout "$keys/key.pem" -out "$keys/cert.pem" >/dev/null 2>&1
  openssl pkcs12 -export -inkey "$keys/key.pem" -in "$keys/cert.pem" -out "$keys/pub.pfx" \
    -passout pass:s3cret >/dev/null 2>&1
  name="a package signed with a PEM certificate verifies with osslsigncode and the sealing tool"
  output=$(cd "$work" && SIGN_CERT=keys/cert.pem SIGN_KEY=keys/key.pem \
    bash "$root/scripts/package.sh" tiny.dat 3 x64 signed.exe 0 2>&1)
  rc=$?
  if [ "$rc" -ne 0 ]; then
    not_ok "$name" "$output"
  elif ! grep -qE "signed: +yes: Authenticode SHA-256 by CN = Kestrane test publisher; self-signed" \
    <<<"$output"; then
    not_ok "$name" "unexpected summary: $output"
  elif ! osslsigncode verify -CAfile "$keys/cert.pem" -in "$work/signed.exe" >/dev/null 2>&1; then
    not_ok "$name" "osslsigncode verify fails"
  elif ! "$seal_tool" --verify "$work/signed.exe" | grep -q "well-formed entry"; then
    not_ok "$name" "kestrane-seal --verify: $("$seal_tool" --verify "$work/signed.exe" 2>&1)"
  elif ! (cd "$work" && sha256sum -c --status signed.exe.sha256); then
    not_ok "$name" "the digest file does not check"
  elif [ -n "$pe_python" ] && problems=$(pe_check "$work/signed.exe" "$work/tiny.dat" 3 signed.exe) &&
    [ -n "$problems" ]; then
    not_ok "$name" "pefile: $problems"
  else
    ok "$name"
  fi
  name="two signed packages of the same inputs differ only in the signature's place and the CheckSum"
  mkdir -p "$work/signed-again"
  sleep 1  # another signing time
  output=$(cd "$work" && SIGN_CERT=keys/cert.pem SIGN_KEY=keys/key.pem \
    bash "$root/scripts/package.sh" tiny.dat 3 x64 signed-again/signed.exe 0 2>&1)
  if [ $? -ne 0 ]; then
    not_ok "$name" "$output"
  elif [ -z "$pe_python" ]; then
    skip "$name" "no python3 with pefile"
  elif problems=$("$pe_python" "$root/scripts/suites/package_pe.py" --signed-twins \
    "$work/signed.exe" "$work/signed-again/signed.exe" 2>&1 | grep -vx ok); [ -n "$problems" ]; then
    not_ok "$name" "$problems"
  else
    ok "$name"
  fi
  name="a signed package changed afterwards fails both verifications"
  cp "$work/signed.exe" "$work/changed.exe"
  size=$(stat -c %s "$work/changed.exe")
  printf '\x5a' | dd of="$work/changed.exe" bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
  if osslsigncode verify -CAfile "$keys/cert.pem" -in "$work/changed.exe" >/dev/null 2>&1; then
    not_ok "$name" "osslsigncode verify passes"
  elif verdict=$("$seal_tool" --verify "$work/changed.exe" 2>&1) ||
    ! grep -qF "distorted: seal mismatch" <<<"$verdict"; then
    not_ok "$name" "kestrane-seal --verify: $verdict"
  else
    ok "$name"
  fi
  output=$(cd "$work" && SIGN_PFX=keys/pub.pfx SIGN_PASS=s3cret \
    bash "$root/scripts/package.sh" tiny.dat 3 x64 pfx.exe 0 2>&1)
  if [ $? -eq 0 ] && grep -qE "signed: +yes" <<<"$output" &&
    osslsigncode verify -CAfile "$keys/cert.pem" -in "$work/pfx.exe" >/dev/null 2>&1; then
    ok "a package signed from a PKCS#12 file with a password verifies"
  else
    not_ok "a package signed from a PKCS#12 file with a password verifies" "$output"
  fi
  # name | environment | expected words; OUT holds an earlier package of ours, which goes.
  # The time-stamp server is a closed port here: no network reaches a real one.
  sign_failures=(
    "wrong PKCS#12 password|SIGN_PFX=keys/pub.pfx SIGN_PASS=wrong|signing failed"
    "unreachable time-stamp server|SIGN_CERT=keys/cert.pem SIGN_KEY=keys/key.pem SIGN_TIMESTAMP=http://127.0.0.1:9/|time-stamp server http://127.0.0.1:9/"
    "key of another certificate|SIGN_CERT=keys/cert.pem SIGN_KEY=keys/other.pem|signing failed"
    "certificate without a key|SIGN_CERT=keys/cert.pem|SIGN_CERT and SIGN_KEY go together"
    "missing certificate file|SIGN_CERT=keys/none.pem SIGN_KEY=keys/key.pem|cannot be read"
    "time stamp without signing|SIGN_TIMESTAMP=http://127.0.0.1:9/|need SIGN_CERT"
  )
  openssl genrsa -out "$keys/other.pem" 2048 >/dev/null 2>&1
  for row in "${sign_failures[@]}"; do
    IFS='|' read -r name environment expected <<<"$row"
    stale
    output=$(cd "$work" && env $environment bash "$root/scripts/package.sh" tiny.dat 3 x64 \
      stale.exe 0 2>&1)
    rc=$?
    if [ "$rc" -eq 0 ]; then
      not_ok "signing: $name" "accepted: $output"
    elif ! grep -qF -- "$expected" <<<"$output" || ! grep -qF "no package made" <<<"$output"; then
      not_ok "signing: $name" "no \"$expected\" in: $output"
    elif [ -e "$work/stale.exe" ] && [ -f "$work/ours.exe" ]; then
      not_ok "signing: $name" "left a package at OUT"
    else
      ok "signing: $name leaves no package"
    fi
  done
fi

echo "package: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
