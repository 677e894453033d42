#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are there.
# Where the kernel runs 32-bit code, it also adds the i386 architecture and wine32, which runs
# the shipped PE32 package in a 64-bit prefix as WoW64 does on 64-bit Windows. A machine that
# cannot, or whose wine32 install fails, still builds and tests everything on the x64 twin.
set -euo pipefail
cd "$(dirname "$0")/.."
packages=(make cmake g++ clang libclang-rt-14-dev clang-format googletest libgtest-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 fonts-wine locales xvfb x11-utils imagemagick osslsigncode openssl python3 python3-pefile
  time)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  $SUDO apt-get update -q >/dev/null
  $SUDO apt-get install -y -q "${missing[@]}" >/dev/null
fi

if ! verdict=$(bash scripts/can-run-32bit.sh); then
  if ! installed wine32:i386; then
    echo "setup: wine32 not installed, ${verdict#no: }; the tests run the x64 twin instead" \
      "of the shipped PE32 package"
  fi
  exit 0
fi
installed wine32:i386 && exit 0
echo "setup: installing wine32:i386 (the kernel runs 32-bit code)"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
if ! { $SUDO apt-get update -q >/dev/null && $SUDO apt-get install -y -q wine32:i386 >/dev/null; }
then
  echo "setup: the wine32:i386 install failed; the tests run the x64 twin instead of the" \
    "shipped PE32 package"
fi
