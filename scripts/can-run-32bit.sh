#!/usr/bin/env bash
# Tells whether this machine's kernel runs 32-bit x86 programs, by running one: a 93-byte
# i386 ELF whose only instructions are exit(42). Prints "yes", or "no: <why>", and exits 0 or
# 1. Whether a kernel has 32-bit support varies between machines of the same kind, so it is
# tested each time, never assumed.
set -uo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# ELF header (52 bytes), one PT_LOAD program header (32 bytes) mapping the file at 0x08048000,
# then: xor ebx,ebx; mov bl,42; xor eax,eax; inc eax (sys_exit); int 0x80.
printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0\0\0\0\0\0\0' >"$dir/exit42"
printf '\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0' >>"$dir/exit42"
printf '\61\333\263\52\61\300\100\315\200' >>"$dir/exit42"
chmod +x "$dir/exit42"
error=$("$dir/exit42" 2>&1)
code=$?
if [ "$code" -eq 42 ]; then
  echo yes
  exit 0
fi
case $error in
  *"Exec format error"* | *"cannot execute binary file"*)
    echo "no: the kernel refuses 32-bit programs (Exec format error)" ;;
  *) echo "no: a 32-bit test program ended with code $code${error:+ ($error)}" ;;
esac
exit 1
