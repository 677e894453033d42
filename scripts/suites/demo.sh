#!/usr/bin/env bash
# A smoke run of `make demo` (scripts/demo.py, on the builds `make test` made): the demo checks
# each of its steps itself and exits non-zero when one fails, so that a change cannot break the
# demo unseen. Ends with "demo: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build}
log=$BUILD/test-logs/demo-run.log
mkdir -p "$(dirname "$log")"
python3 scripts/demo.py >"$log" 2>&1
rc=$?
if [ "$rc" -eq 0 ] && grep -q '^demo: done$' "$log"; then
  echo "ok make demo ($log)"
  echo "demo: 1 passed, 0 failed"
else
  grep -E 'FAILED|Error|error' "$log" | tail -20
  echo "FAIL make demo: exit code $rc (see $log)"
  echo "demo: 0 passed, 1 failed"
  exit 1
fi
