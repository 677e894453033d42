#!/usr/bin/env bash
# Builds a publisher's update package: one sealed installer carrying PAYLOAD as its resource,
# optionally signed with Authenticode.
#   make package PAYLOAD=path VERSION=n [ARCH=x86|x64] [OUT=file.exe] [GUARDED=1]
#                [SIGN_CERT=cert.pem SIGN_KEY=key.pem | SIGN_PFX=file.pfx] [SIGN_PASS=...]
#                [SIGN_TIMESTAMP=url] [SIGN_CAFILE=roots.pem] [SOURCE_DATE_EPOCH=seconds]
#   bash scripts/package.sh PAYLOAD VERSION [ARCH] [OUT] [GUARDED]   (signing from the
#                                                                     environment)
# PAYLOAD   the file to install; its name gives the resource name and type and the installed
#           file's name, so it must read NAME.EXT with NAME and EXT each a letter followed by
#           letters, digits or underscores (resource compilers take a leading digit for a
#           numeric id), and it must not be empty.
# VERSION   the package version, a decimal number from 1 to 65535 (it is stored as a 16-bit
#           number); leading zeros are dropped.
# ARCH      x86 (default, the shipped kind) or x64.
# OUT       where the package goes: a file, or an existing folder to hold the default name
#           NAME-VERSION-ARCH.exe; default build/packages/NAME-VERSION-ARCH.exe. Its digest
#           goes beside it as OUT.sha256 (the format `sha256sum -c` reads).
# GUARDED   1 for a version-guarded package, 0 (default) for a plain one.
# SIGN_*    sign the sealed package (osslsigncode, SHA-256): a PEM certificate with its key, or
#           a PKCS#12 file; SIGN_PASS the key's password; SIGN_TIMESTAMP an RFC 3161 time-stamp
#           server; SIGN_CAFILE the roots to check the signing certificate's chain against
#           (default: the system's CA certificates; a self-signed certificate is checked
#           against itself, which proves the signature but vouches for no publisher).
# SOURCE_DATE_EPOCH  the PE header's time stamp, in seconds since 1970; without it, the time of
#           the commit the tree comes from, else 0 (never the clock: the same inputs give the
#           same bytes).
# The embedded payload is compared with PAYLOAD byte for byte before sealing, and the
# signature and the seal are verified before the package is placed at OUT. On any failure
# nothing is made; a package of ours left at OUT by an earlier run (one that
# `kestrane-seal --verify` passes) is removed, so that a failed run never leaves an old package
# looking like the new one. Any other file at OUT is left alone.
set -euo pipefail

caller=$PWD
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-2}

payload_arg=${1:-}
version_arg=${2:-}
arch=${3:-x86}
out_arg=${4:-}
guarded=${5:-0}
out=""  # the resolved output path, once known
seal_tool=$root/build/native/kestrane-seal
temps=()  # files removed on every way out
trap 'rm -f -- "${temps[@]}"' EXIT

absolute() {  # absolute <path>: the path resolved against the caller's folder
  case $1 in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$caller/$1" ;;
  esac
}

is_our_package() {  # is_our_package <file>: a file whose seal the sealing tool verifies
  local verdict
  [ -f "$1" ] && [ -x "$seal_tool" ] || return 1
  verdict=$("$seal_tool" --verify "$1" 2>&1) && return 0
  # Packages sealed before the tool wrote the CheckSum keep the linker's: the seal still holds.
  grep -q ': distorted: wrong CheckSum: ' <<<"$verdict"
}

is_digest_of() {  # is_digest_of <digest file> <package>: one line "<sha256>  <package's name>"
  local line
  [ -f "$1" ] && [ "$(wc -l <"$1")" -eq 1 ] && IFS= read -r line <"$1" &&
    [[ $line =~ ^[0-9a-f]{64}\ \ (.*)$ ]] && [ "${BASH_REMATCH[1]}" = "${2##*/}" ]
}

fail() {
  echo "package: $*" >&2
  if [ -n "$out" ] && [ -e "$out" ]; then
    if is_our_package "$out"; then
      rm -f -- "$out"
      echo "package: removed the earlier package $out" >&2
      if is_digest_of "$out.sha256" "$out"; then rm -f -- "$out.sha256"; fi
    else
      echo "package: left $out alone: kestrane-seal --verify does not take it for a package" \
        "of ours" >&2
    fi
  fi
  echo "package: no package made" >&2
  exit 1
}

usage() {
  fail "$1
usage: make package PAYLOAD=path VERSION=n [ARCH=x86|x64] [OUT=file.exe] [GUARDED=1]"
}

# ---- the arguments ----
# A named output file is known before anything else is checked, so that any failure can
# remove an earlier package there; a folder gets the default name once it is known.
if [ -n "$out_arg" ] && [ ! -d "$(absolute "$out_arg")" ]; then
  out=$(absolute "$out_arg")
  case $out in */) fail "OUT $out_arg names a folder that does not exist" ;; esac
fi
[ -n "$payload_arg" ] || usage "no PAYLOAD given"
[ -n "$version_arg" ] || usage "no VERSION given"

case $arch in
  x86) toolchain=mingw-i686 ;;
  x64) toolchain=mingw-x86_64 ;;
  *) usage "ARCH must be x86 or x64, not \"$arch\"" ;;
esac

case $guarded in
  0 | 1) ;;
  *) usage "GUARDED must be 0 or 1, not \"$guarded\"" ;;
esac

if ! [[ $version_arg =~ ^[0-9]{1,5}$ ]]; then
  usage "VERSION must be a decimal number from 1 to 65535, not \"$version_arg\""
fi
version=$((10#$version_arg))
if [ "$version" -lt 1 ] || [ "$version" -gt 65535 ]; then
  usage "VERSION must be a decimal number from 1 to 65535, not \"$version_arg\""
fi

payload=$(absolute "$payload_arg")
file_name=${payload##*/}
if ! [[ $file_name =~ ^([A-Za-z_][A-Za-z0-9_]{0,63})\.([A-Za-z_][A-Za-z0-9_]{0,15})$ ]]; then
  fail "the payload's name \"$file_name\" cannot name a resource: it must read NAME.EXT, each \
part a letter or underscore followed by letters, digits or underscores (NAME up to 64, EXT up \
to 16 characters)"
fi
res_name=${BASH_REMATCH[1]}
res_type=${BASH_REMATCH[2]}
upper_name=${res_name^^}
upper_type=${res_type^^}
# The installed file would be a device on Windows.
if [[ $upper_name =~ ^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])$ ]]; then
  fail "the payload's name \"$file_name\" is a reserved device name on Windows"
fi
case $payload in
  *\"* | *\;* | *$'\n'* | *\\*) fail "the payload's path must not hold quotes, semicolons, backslashes or line breaks: $payload" ;;
esac

default_name="$res_name-$version-$arch.exe"
if [ -z "$out_arg" ]; then
  out="$root/build/packages/$default_name"
elif [ -d "$(absolute "$out_arg")" ]; then
  out="$(absolute "$out_arg")/$default_name"
fi
if [ -e "$out" ] && ! is_our_package "$out"; then
  # Not an earlier package of ours: it is left alone, and the new package goes nowhere.
  existing=$out
  out=""
  fail "$existing exists and is not a package of ours (kestrane-seal --verify does not pass" \
    "it); left alone, choose another OUT"
fi
if [ -e "$out.sha256" ] && ! is_digest_of "$out.sha256" "$out"; then
  existing=$out.sha256
  out=""
  fail "$existing exists and is not the digest of a package; left alone, choose another OUT"
fi
# The version resource names the file as published; only printable ASCII goes there.
original_name=${out##*/}
[[ $original_name =~ ^[\ -~]+$ ]] || original_name=$default_name

# ---- signing, checked before anything is built ----
sign_cert=${SIGN_CERT:-}
sign_key=${SIGN_KEY:-}
sign_pfx=${SIGN_PFX:-}
sign_timestamp=${SIGN_TIMESTAMP:-}
sign_cafile=${SIGN_CAFILE:-}
signing=0
sign_args=()
for name in sign_cert sign_key sign_pfx sign_cafile; do
  [ -n "${!name}" ] || continue
  path=$(absolute "${!name}")
  [ -f "$path" ] && [ -r "$path" ] || fail "${name^^} $path cannot be read"
  printf -v "$name" '%s' "$path"
done
if [ -n "$sign_pfx" ]; then
  [ -z "$sign_cert$sign_key" ] || usage "give SIGN_PFX or SIGN_CERT with SIGN_KEY, not both"
  sign_args=(-pkcs12 "$sign_pfx")
  signing=1
elif [ -n "$sign_cert$sign_key" ]; then
  [ -n "$sign_cert" ] && [ -n "$sign_key" ] || usage "SIGN_CERT and SIGN_KEY go together"
  sign_args=(-certs "$sign_cert" -key "$sign_key")
  signing=1
elif [ -n "$sign_timestamp$sign_cafile${SIGN_PASS:-}" ]; then
  usage "SIGN_TIMESTAMP, SIGN_CAFILE and SIGN_PASS need SIGN_CERT with SIGN_KEY, or SIGN_PFX"
fi
if [ "$signing" = 1 ]; then
  command -v osslsigncode >/dev/null || fail "osslsigncode is missing: run make setup"
  if [ -n "$sign_timestamp" ]; then
    [[ $sign_timestamp =~ ^https?://[^[:space:]]+$ ]] ||
      usage "SIGN_TIMESTAMP must be an http:// or https:// address, not \"$sign_timestamp\""
  fi
fi

[ -e "$payload" ] || fail "the payload $payload does not exist"
[ -f "$payload" ] || fail "the payload $payload is not a regular file"
[ -r "$payload" ] || fail "the payload $payload cannot be read"
[ -s "$payload" ] || fail "the payload $payload is empty"
[ -d "$(dirname "$out")" ] || mkdir -p "$(dirname "$out")" 2>/dev/null ||
  fail "cannot create the folder $(dirname "$out")"

# ---- the header's time stamp ----
# Never the clock, so that the same inputs give the same bytes on any day: SOURCE_DATE_EPOCH
# (the reproducible-builds convention) when set, else the time of the commit the tree comes
# from (not that of a repository around a tree unpacked into it), else 0. The linker takes it from SOURCE_DATE_EPOCH in its environment (CMakeLists.txt).
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  if ! [[ $SOURCE_DATE_EPOCH =~ ^[0-9]{1,10}$ ]] || [ "$((10#$SOURCE_DATE_EPOCH))" -gt 4294967295 ]; then
    usage "SOURCE_DATE_EPOCH must be a whole number of seconds since 1970 that fits the PE \
header's 32 bits (0 to 4294967295), not \"$SOURCE_DATE_EPOCH\""
  fi
  time_stamp=$((10#$SOURCE_DATE_EPOCH))
  stamp_from="SOURCE_DATE_EPOCH"
elif [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$(pwd -P)" ] &&
  commit_time=$(git -C "$root" log -1 --format=%ct 2>/dev/null) &&
  [[ $commit_time =~ ^[0-9]{1,10}$ ]]; then
  time_stamp=$commit_time
  stamp_from="the time of commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null)"
else
  time_stamp=0
  stamp_from="0: no SOURCE_DATE_EPOCH and no git commit"
fi

# ---- what the build needs ----
assets_tool=$root/build/native/kestrane-assets
assets=$root/build/assets
[ -x "$seal_tool" ] || fail "$seal_tool is missing: run make native"
[ -x "$assets_tool" ] || fail "$assets_tool is missing: run make native"
[ -s "$assets/kestrane.ico" ] || fail "$assets/kestrane.ico is missing: run make assets"
[ -f "$root/src/update/main_win.cc" ] ||
  fail "the installer's entry point src/update/main_win.cc is not in this tree yet"

# ---- build, check and seal ----
build=$root/build/package-$arch
mkdir -p "$build"
log=$build/package.log
built=$build/PublisherPackage.exe
rm -f -- "$built"  # a failed build must not hand on an older package
started=$SECONDS
echo "package: building $default_name in $build (log: $log)"
{
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKESTRANE_SEAL_TOOL="$seal_tool" \
    -DKESTRANE_ASSETS_TOOL="$assets_tool" -DKESTRANE_ASSETS_DIR="$assets" \
    -DKESTRANE_PKG_PAYLOAD="$payload" -DKESTRANE_PKG_VERSION="$version" \
    -DKESTRANE_PKG_GUARDED="$guarded" -DKESTRANE_PKG_FILENAME="$original_name" \
    -DKESTRANE_TIME_STAMP="$time_stamp" &&
    cmake --build "$build" --target PublisherPackage -j "$jobs"
} >"$log" 2>&1 || {
  tail -n 30 "$log" >&2
  fail "the build failed (whole log: $log)"
}
[ -f "$built" ] || fail "the build made no $built (log: $log)"

# A linker that took the clock instead would make a package no one can rebuild.
pe_offset=$(od -An -tu4 --endian=little -j 60 -N 4 "$built" | tr -d ' ')
header_stamp=$(od -An -tu4 --endian=little -j $((pe_offset + 8)) -N 4 "$built" | tr -d ' ')
[ "$header_stamp" = "$time_stamp" ] ||
  fail "the linker wrote the time stamp $header_stamp into the PE header, not $time_stamp" \
    "($stamp_from); the package would not rebuild byte for byte"

# The build compared the resource with the payload before sealing; this is the same check
# on the sealed file, whose words the summary repeats.
resource_line=$("$seal_tool" resource "$built" "$upper_type" "$upper_name" "$payload" 2>&1) ||
  fail "$resource_line"
stored_size=$(stat -c %s "$payload")

# ---- sign ----
signed_summary="no"
if [ "$signing" = 1 ]; then
  signed=$build/PublisherPackage-signed.exe
  temps+=("$signed" "$build/signature.pem" "$build/signer.pem" "$build/sign.pass")
  rm -f -- "$signed"
  pass_args=()
  if [ -n "${SIGN_PASS+x}" ]; then
    # Through a private file rather than the command line, where ps would show it.
    (umask 077 && printf '%s' "$SIGN_PASS" >"$build/sign.pass")
    pass_args=(-readpass "$build/sign.pass")
  fi
  timestamp_args=()
  [ -z "$sign_timestamp" ] || timestamp_args=(-ts "$sign_timestamp")
  osslsigncode sign -h sha256 "${sign_args[@]}" "${pass_args[@]}" "${timestamp_args[@]}" \
    -n "Kestrane update" -in "$built" -out "$signed" >"$log.sign" 2>&1 || {
    grep -vE '^[0-9A-F]+:error:' "$log.sign" | tail -n 8 >&2
    fail "signing failed${sign_timestamp:+ (time-stamp server $sign_timestamp)} (log: $log.sign)"
  }
  osslsigncode extract-signature -pem -in "$signed" -out "$build/signature.pem" \
    >/dev/null 2>&1 &&
    openssl pkcs7 -in "$build/signature.pem" -print_certs -out "$build/signer.pem" 2>/dev/null ||
    fail "the signature cannot be read back from the signed package"
  subject=$(openssl x509 -in "$build/signer.pem" -noout -subject -nameopt oneline 2>/dev/null |
    sed 's/^subject= *//')
  issuer=$(openssl x509 -in "$build/signer.pem" -noout -issuer -nameopt oneline 2>/dev/null |
    sed 's/^issuer= *//')
  certificates=$(grep -c 'BEGIN CERTIFICATE' "$build/signer.pem")
  # The signature must match the file and chain up to a root: the given roots, else the
  # system's. A self-signed certificate has no chain; checked against itself, a pass proves
  # that the file is unchanged and signed with that certificate's key, and nothing about who
  # holds it.
  if [ -n "$sign_cafile" ]; then
    trust="chain verified against $sign_cafile"
    ca_args=(-CAfile "$sign_cafile")
  elif osslsigncode verify -in "$signed" >"$log.verify" 2>&1; then
    trust="chain verified against the system's CA certificates"
    ca_args=()
  elif [ "$certificates" = 1 ] && [ -n "$subject" ] && [ "$subject" = "$issuer" ]; then
    trust="self-signed: no authority vouches for the publisher"
    ca_args=(-CAfile "$build/signer.pem")
  else
    tail -n 12 "$log.verify" >&2
    fail "the signing certificate's chain cannot be verified against the system's CA" \
      "certificates; give its root as SIGN_CAFILE=file.pem (log: $log.verify)"
  fi
  osslsigncode verify "${ca_args[@]}" -in "$signed" >"$log.verify" 2>&1 || {
    grep -E 'digest|verification|Error|Failed' "$log.verify" | tail -n 8 >&2
    fail "the signature does not verify (log: $log.verify)"
  }
  grep -qE '^Signature verification: ok' "$log.verify" ||
    fail "osslsigncode verify passed without saying the signature is ok (log: $log.verify)"
  signed_summary="yes: Authenticode SHA-256 by $subject; $trust; "
  signed_summary+=${sign_timestamp:+"time-stamped by $sign_timestamp"}
  [ -n "$sign_timestamp" ] || signed_summary+="no time stamp"
  mv -f -- "$signed" "$built"
fi

seal_line=$("$seal_tool" --verify "$built" 2>&1) || fail "$seal_line"

# ---- place it and its digest ----
temp="$out.tmp.$$"
temps+=("$temp" "$out.sha256.tmp.$$")
cp -- "$built" "$temp" && mv -f -- "$temp" "$out" || fail "cannot write $out"
seal_line=$("$seal_tool" --verify "$out" 2>&1) || {
  rm -f -- "$out"
  fail "the copy at $out does not verify, and was removed: $seal_line"
}
digest=$(sha256sum -- "$out" | cut -d' ' -f1)
printf '%s  %s\n' "$digest" "${out##*/}" >"$out.sha256.tmp.$$" &&
  mv -f -- "$out.sha256.tmp.$$" "$out.sha256" || fail "cannot write $out.sha256"

kind=$(sed -nE 's/.*sealed, verified: (PE32\+?( GUI| console)?),.*/\1/p' <<<"$seal_line")
checksum=$(sed -nE 's/.*(CheckSum 0x[0-9A-F]{8}) right.*/\1/p' <<<"$seal_line")
echo "package: made $out in $((SECONDS - started)) s"
echo "  size:      $(stat -c %s "$out") bytes"
echo "  kind:      $kind ($arch)"
echo "  payload:   $res_name.$res_type as resource $upper_type/$upper_name, $stored_size bytes," \
  "identical to $payload"
echo "  version:   $version"
echo "  guarded:   $([ "$guarded" = 1 ] && echo yes || echo no)"
echo "  signed:    $signed_summary"
echo "  seal:      verified, $checksum right"
echo "  timestamp: $time_stamp ($(date -u -d "@$time_stamp" '+%Y-%m-%d %H:%M:%S UTC'), from" \
  "$stamp_from)"
echo "  sha256:    $digest"
echo "  digest in: $out.sha256 (check with: cd $(dirname "$out") && sha256sum -c ${out##*/}.sha256)"
