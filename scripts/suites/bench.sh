#!/usr/bin/env bash
# A smoke run of `make bench`: every figure measured once (the native seal figures, then under
# Wine), no ratio judged, so that a change to the build or the harness cannot break the
# benchmark unseen. A figure that cannot be measured (a program or file missing, a run failing)
# fails. Ends with "bench: N passed, N failed, N skipped" (the PE32 package's figures are
# skipped where this machine cannot run it).
set -uo pipefail
cd "$(dirname "$0")/../.."
BUILD=${BUILD:-build}
mkdir -p "$BUILD/bench"
seal=$BUILD/bench/seal-smoke.txt
rm -f "$seal"
# seal_bench's failure shows as the seal figure failing: its output is missing or empty.
if [ -x "$BUILD/native/seal_bench" ]; then
  "$BUILD/native/seal_bench" "$BUILD/win64/KestraneUpdate.exe" 1 >"$seal" 2>&1 ||
    echo "seal_bench failed: $(tail -3 "$seal")"
else
  echo "$BUILD/native/seal_bench is missing; run make build first"
fi
exec python3 bench/wine_bench.py --smoke --tree-files 2000 --seal "$seal"
