#!/usr/bin/env bash
# Builds a publisher's update package: one sealed installer carrying PAYLOAD as its resource.
#   make package PAYLOAD=path VERSION=n [ARCH=x86|x64] [OUT=file.exe] [GUARDED=1]
#   bash scripts/package.sh PAYLOAD VERSION [ARCH] [OUT] [GUARDED]
# PAYLOAD   the file to install; its name gives the resource name and type and the installed
#           file's name, so it must read NAME.EXT with NAME and EXT each a letter followed by
#           letters, digits or underscores (resource compilers take a leading digit for a
#           numeric id), and it must not be empty.
# VERSION   the package version, a decimal number from 1 to 65535 (it is stored as a 16-bit
#           number); leading zeros are dropped.
# ARCH      x86 (default, the shipped kind) or x64.
# OUT       where the package goes: a file, or an existing folder to hold the default name
#           NAME-VERSION-ARCH.exe; default build/packages/NAME-VERSION-ARCH.exe.
# GUARDED   1 for a version-guarded package, 0 (default) for a plain one.
# On any failure nothing is made, and a package left at OUT by an earlier run is removed, so
# that a failed run never leaves an old package looking like the new one.
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

absolute() {  # absolute <path>: the path resolved against the caller's folder
  case $1 in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$caller/$1" ;;
  esac
}

is_package() {  # is_package <file>: a regular file that starts like a PE file
  [ -f "$1" ] && [ "$(head -c 2 "$1" 2>/dev/null)" = "MZ" ]
}

fail() {
  echo "package: $*" >&2
  if [ -n "$out" ] && is_package "$out"; then
    rm -f -- "$out"
    echo "package: removed the earlier package $out" >&2
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
if [ -e "$out" ] && ! is_package "$out"; then
  # Not an earlier package: it is left alone, and the new package goes nowhere.
  existing=$out
  out=""
  fail "$existing exists and is not a package; choose another OUT"
fi

[ -e "$payload" ] || fail "the payload $payload does not exist"
[ -f "$payload" ] || fail "the payload $payload is not a regular file"
[ -r "$payload" ] || fail "the payload $payload cannot be read"
[ -s "$payload" ] || fail "the payload $payload is empty"
[ -d "$(dirname "$out")" ] || mkdir -p "$(dirname "$out")" 2>/dev/null ||
  fail "cannot create the folder $(dirname "$out")"

# ---- what the build needs ----
seal_tool=$root/build/native/kestrane-seal
assets=$root/build/assets
[ -x "$seal_tool" ] || fail "$seal_tool is missing: run make native"
[ -s "$assets/kestrane.ico" ] || fail "$assets/kestrane.ico is missing: run make assets"
[ -f "$root/src/update/main_win.cc" ] ||
  fail "the installer's entry point src/update/main_win.cc is not in this tree yet"

# ---- build, seal and check ----
build=$root/build/package-$arch
mkdir -p "$build"
log=$build/package.log
built=$build/PublisherPackage.exe
rm -f -- "$built"  # a failed build must not hand on an older package
{
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DKESTRANE_SEAL_TOOL="$seal_tool" -DKESTRANE_ASSETS_DIR="$assets" \
    -DKESTRANE_PKG_PAYLOAD="$payload" -DKESTRANE_PKG_VERSION="$version" \
    -DKESTRANE_PKG_GUARDED="$guarded" &&
    cmake --build "$build" --target PublisherPackage -j "$jobs"
} >"$log" 2>&1 || {
  tail -n 30 "$log" >&2
  fail "the build failed (whole log: $log)"
}
[ -f "$built" ] || fail "the build made no $built (log: $log)"

"$seal_tool" --verify "$built" >/dev/null 2>"$log.seal" || {
  cat "$log.seal" >&2
  fail "the built package does not carry a valid seal"
}

# The payload resource as the resource directory holds it: type, name and size.
read -r stored_type stored_name stored_size < <(
  x86_64-w64-mingw32-objdump -p "$built" | awk -v type="$upper_type" '
    function entry_name() { match($0, /\]: [^,]*,/); return substr($0, RSTART + 3, RLENGTH - 4) }
    /^The \.rsrc Resource Directory/ { in_rsrc = 1; next }
    !in_rsrc { next }
    /^[0-9a-f]+   Entry: ID: / { found = ""; next }
    /^[0-9a-f]+   Entry: name: / { found = (entry_name() == type) ? type : ""; next }
    found != "" && name == "" && /^[0-9a-f]+     Entry: name: / { name = entry_name(); next }
    found != "" && name != "" && /Leaf: / {
      match($0, /Size: 0x[0-9a-f]+/); print found, name, substr($0, RSTART + 8, RLENGTH - 8); exit
    }'
) || true
[ -n "${stored_size:-}" ] && stored_size=$((16#$stored_size))
payload_size=$(stat -c %s "$payload")
if [ "${stored_type:-}" != "$upper_type" ] || [ "${stored_name:-}" != "$upper_name" ]; then
  fail "the package holds no resource of type $upper_type named $upper_name"
fi
[ "$stored_size" = "$payload_size" ] ||
  fail "the stored resource has $stored_size bytes, the payload $payload_size"

temp="$out.tmp.$$"
cp -- "$built" "$temp" && mv -f -- "$temp" "$out" || {
  rm -f -- "$temp"
  fail "cannot write $out"
}
"$seal_tool" --verify "$out" >/dev/null 2>&1 || fail "the copy at $out does not verify"

echo "package: made $out"
echo "  size:      $(stat -c %s "$out") bytes"
echo "  resource:  type $stored_type, name $stored_name, $stored_size bytes (as stored)"
echo "  installs:  $res_name.$res_type"
echo "  version:   $version"
echo "  guarded:   $([ "$guarded" = 1 ] && echo yes || echo no)"
echo "  arch:      $arch ($([ "$arch" = x86 ] && echo PE32 || echo PE32+))"
echo "  seal:      verified"
