#!/usr/bin/env bash
# Runs every test suite and ends with one line "N passed, N failed, N skipped" over all of
# them. Each suite prints its own "<suite>: N passed, N failed[, N skipped]" line, which this
# script adds up; a suite says itself what it skipped and why.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
LOGS=$BUILD/test-logs
mkdir -p "$LOGS"
total_pass=0
total_fail=0
total_skip=0

# count <suite> <passed> <failed> [<skipped>]
count() {
  echo "$1: $2 passed, $3 failed, ${4:-0} skipped"
  total_pass=$((total_pass + $2))
  total_fail=$((total_fail + $3))
  total_skip=$((total_skip + ${4:-0}))
}

# gtest_counts <suite> <log> <exit status>: reads a GoogleTest summary; a run that crashed
# before its summary counts as one failure.
gtest_counts() {
  local passed failed skipped
  passed=$(grep -oE '^\[  PASSED  \] [0-9]+' "$2" | grep -oE '[0-9]+$' || true)
  failed=$(grep -oE '^\[  FAILED  \] [0-9]+ test' "$2" | grep -oE '[0-9]+' | head -1 || true)
  skipped=$(grep -oE '^\[  SKIPPED \] [0-9]+ test' "$2" | grep -oE '[0-9]+' | head -1 || true)
  passed=${passed:-0}
  failed=${failed:-0}
  skipped=${skipped:-0}
  if [ "$3" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  if [ "$failed" -ne 0 ]; then grep -E '^\[  FAILED  \]|Failure|ERROR' "$2" | head -40; fi
  if [ "$skipped" -ne 0 ]; then grep -E '^\[  SKIPPED \]' "$2" | head -40; fi
  count "$1" "$passed" "$failed" "$skipped"
}

echo "== native unit tests (ASan/UBSan)"
"$BUILD/native/native_tests" --gtest_color=no >"$LOGS/native.log" 2>&1
gtest_counts native "$LOGS/native.log" $?

echo "== fuzz smoke"
bash scripts/fuzz.sh "${FUZZ_SMOKE_SECONDS:-5}" >"$LOGS/fuzz.log" 2>&1
fuzz_rc=$?
grep -E '^(ok|FAILED) ' "$LOGS/fuzz.log" || true
line=$(grep -E '^fuzz: [0-9]+ passed, [0-9]+ failed' "$LOGS/fuzz.log" | tail -1)
if [ -n "$line" ]; then
  count fuzz "$(echo "$line" | awk '{print $2}')" "$(echo "$line" | awk '{print $4}')"
else
  count fuzz 0 $((fuzz_rc == 0 ? 0 : 1))
fi

for suite in scripts/suites/*.sh; do
  [ -e "$suite" ] || continue
  name=$(basename "$suite" .sh)
  echo "== $name"
  bash "$suite" >"$LOGS/$name.log" 2>&1
  rc=$?
  grep -vE "^(ok|PASS) |^$name: [0-9]+ passed" "$LOGS/$name.log" | tail -n 40
  line=$(grep -E "^$name: [0-9]+ passed, [0-9]+ failed" "$LOGS/$name.log" | tail -1)
  if [ -n "$line" ]; then
    passed=$(echo "$line" | awk '{print $2}')
    failed=$(echo "$line" | awk '{print $4}')
    skipped=$(echo "$line" | sed -nE 's/.* ([0-9]+) skipped.*/\1/p')
    if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
    count "$name" "$passed" "$failed" "${skipped:-0}"
  else
    count "$name" 0 1
  fi
done

echo "$total_pass passed, $total_fail failed, $total_skip skipped"
[ "$total_fail" -eq 0 ]
