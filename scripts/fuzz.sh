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
  # What a run finds goes to a work folder; `make fuzz` (FUZZ_KEEP=1) then merges into the
  # tree's corpus only the inputs that reach code the corpus does not, so it stays small.
  rm -rf "$work/new" && mkdir -p "$work/new"
  dirs=("$OLDPWD/$work/new" "$OLDPWD/$corpus")
  if (cd "$work" && "$OLDPWD/$BUILD/fuzz/$name" -max_total_time="$seconds" -rss_limit_mb=2048 \
        -print_final_stats=1 "${dirs[@]}" >log.txt 2>&1); then
    execs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$work/log.txt" | grep -oE '[0-9]+$')
    kept=""
    if [ "${FUZZ_KEEP:-0}" = 1 ]; then
      before=$(ls "$corpus" | wc -l)
      (cd "$work" && "$OLDPWD/$BUILD/fuzz/$name" -merge=1 "$OLDPWD/$corpus" "$OLDPWD/$work/new" \
        >merge.txt 2>&1)
      kept=", $(($(ls "$corpus" | wc -l) - before)) inputs added to $corpus"
    fi
    echo "ok $name: ${execs:-?} runs in ${seconds}s, no finding$kept"
    passed=$((passed + 1))
  else
    echo "FAILED $name: see $work/log.txt"
    grep -E 'ERROR|SUMMARY|Test unit written' "$work/log.txt" | head -5
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
