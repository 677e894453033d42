#!/usr/bin/env bash
# Runs every libFuzzer target for the given number of seconds over its corpus in the tree
# (tests/fuzz/corpus/<target>), adding what it finds new. Ends with "fuzz: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
BUILD=${BUILD:-build}
passed=0
failed=0
for src in tests/fuzz/*_fuzz.cc; do
  [ -e "$src" ] || continue
  name=$(basename "$src" .cc)
  corpus=tests/fuzz/corpus/$name
  work=$BUILD/fuzz-work/$name
  mkdir -p "$corpus" "$work"
  # A smoke run keeps what it finds outside the tree; `make fuzz` (FUZZ_KEEP=1) adds it.
  dirs=("$OLDPWD/$corpus")
  if [ "${FUZZ_KEEP:-0}" != 1 ]; then
    rm -rf "$work/new" && mkdir -p "$work/new"
    dirs=("$OLDPWD/$work/new" "$OLDPWD/$corpus")
  fi
  if (cd "$work" && "$OLDPWD/$BUILD/fuzz/$name" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -print_final_stats=1 "${dirs[@]}" >log.txt 2>&1); then
    execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$work/log.txt" | grep -oE '[0-9]+$')
    echo "ok $name: ${execs:-?} runs in ${seconds}s, no finding"
    passed=$((passed + 1))
  else
    echo "FAILED $name: see $work/log.txt"
    grep -E 'ERROR|SUMMARY|Test unit written' "$work/log.txt" | head -5
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
