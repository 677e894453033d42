#!/usr/bin/env bash
# Benchmarks (`make bench`, after the builds): prints, in one run, each figure of the installer
# next to its reference measured in the same run, as a ratio with its aim:
#   seal verification of the default package  vs  openssl dgst -sha256 of the same file
#   a quiet update run under Wine              vs  Wine's cmd /c copy of the payload
#   the installer's peak memory                vs  the package's size + 16 MiB
#   FolderSizeKiB of 20,000 files under Wine   vs  Wine's cmd /c dir /s of the tree
#   ExtractPayload's write (bench/wine_write.sh) vs  cmd /c copy
# and the start-up table: the quiet run told 6.2 (the prefix's Windows 10) and told 6.1 (a copy
# with its own AppDefaults "win7"), the floor program with the package's imports, an empty
# program. Medians of several runs with their spread. BENCH_RUNS sets the runs (default 7),
# STARTUP_RUNS those of the start-up table (default 15). `make test` runs a smoke of this
# (scripts/suites/bench.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
RUNS=${BENCH_RUNS:-7}
for f in "$BUILD/native/seal_bench" "$BUILD/win32/KestraneUpdate.exe" \
  "$BUILD/win64/KestraneUpdate.exe" "$BUILD/win64/peak_memory.exe" \
  "$BUILD/win64/folder_size_probe.exe" "$BUILD/win64/floor_probe.exe" \
  "$BUILD/win64/startup_probe.exe" "$BUILD/win64/payload_write_probe.exe"; do
  [ -e "$f" ] || { echo "bench: $f is missing; run make build first" >&2; exit 1; }
done
mkdir -p "$BUILD/bench"
echo "== seal verification (native, $(nproc) processors, load $(cut -d' ' -f1-3 /proc/loadavg))"
"$BUILD/native/seal_bench" "$BUILD/win32/KestraneUpdate.exe" "$RUNS" | tee "$BUILD/bench/seal.txt"
echo "== under Wine"
python3 bench/wine_bench.py --runs "$RUNS" --startup-runs "${STARTUP_RUNS:-15}" \
  --seal "$BUILD/bench/seal.txt"
