#!/usr/bin/env bash
# Every header under the given source folder whose name lacks "_win" must compile on its own
# on Linux: Win32 types stay behind "_win" headers, so the portable logic builds and is tested
# natively. Prints one line per failing header and exits non-zero when any fails.
# Usage: check_portable_headers.sh <src folder>
set -uo pipefail
src=${1:?usage: check_portable_headers.sh <src folder>}
failed=0
count=0
while IFS= read -r header; do
  count=$((count + 1))
  if ! out=$(printf '#include "%s"\n' "$header" |
    g++ -std=c++17 -fsyntax-only -I "$src" -x c++ - 2>&1); then
    echo "FAILED ${header#"$src"/} does not compile on its own:"
    printf '%s\n' "$out" | head -n 3
    failed=$((failed + 1))
  fi
done < <(find "$src" -name '*.h' ! -name '*_win.h' | sort)
echo "portable headers: $((count - failed)) of $count compile natively"
[ "$failed" -eq 0 ]
