#!/usr/bin/env bash
# Benchmark, not a test: writes the 17 MB default payload under Wine through the installer's
# write path (ExtractPayload from the program's own resource) and, in the same run, copies the
# same bytes with Wine's own "cmd /c copy"; prints the times side by side and the writer's
# peak memory. Needs `make win64` (build/win64/payload_write_probe.exe, the probe with the
# payload as its resource, and build/assets/kvx.cok).
#
#   bench/wine_write.sh [runs]        (default 5 runs of each)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-build}
RUNS=${1:-5}
PAYLOAD=$ROOT/$BUILD/assets/kvx.cok
PROBE=$ROOT/$BUILD/win64/payload_write_probe.exe
OUT=$ROOT/$BUILD/bench
WINE=/usr/lib/wine/wine64
own_prefix=$([ -z "${WINEPREFIX:-}" ] && echo 1 || echo 0)
export WINEPREFIX=${WINEPREFIX:-$ROOT/$BUILD/wineprefix}
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" WINEDEBUG=-all
for f in "$PAYLOAD" "$PROBE"; do
  [ -s "$f" ] || { echo "missing $f: run make win64 first" >&2; exit 1; }
done
mkdir -p "$OUT" "$WINEPREFIX"

DEST=$OUT/target
rm -rf "$DEST" && mkdir -p "$DEST"
win() { "$WINE" winepath -w "$1" 2>/dev/null; }
WIN_DEST=$(win "$DEST")
WIN_PAYLOAD=$(win "$PAYLOAD")
"$WINE" cmd /c exit >/dev/null 2>&1  # start the prefix's services before timing
# Its own prefix reports Windows 10 as the harness's does (bench/wine_bench.py runs this on
# the harness's prefix).
if [ "$own_prefix" = 1 ]; then
  "$WINE" reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null 2>&1
fi

now_ms() { echo $(( $(date +%s%N) / 1000000 )); }
bytes=$(stat -c %s "$PAYLOAD")
echo "payload: $bytes bytes; $RUNS runs each; times include starting the Wine process"
echo "memory of the probe in KiB: working set and private (pagefile) bytes before the write and"
echo "at their peak; the payload is $(( bytes / 1024 )) KiB"
printf '%-4s %14s %14s %12s %10s %10s %10s %10s\n' run probe_wall_ms probe_write_ms copy_wall_ms \
  ws_before ws_peak pf_before pf_peak
for run in $(seq 1 "$RUNS"); do
  rm -f "$DEST"/kvx.cok "$DEST"/copy.cok
  start=$(now_ms)
  # A failed write says what the probe printed and what the folder held, to be told apart.
  line=$("$WINE" "$PROBE" "$WIN_DEST\\kvx.cok" 2>&1) || {
    code=$?
    echo "run $run: the probe's write failed (exit $code): $line" >&2
    ls -la "$DEST" >&2
    exit 1
  }
  probe_wall=$(( $(now_ms) - start ))
  start=$(now_ms)
  "$WINE" cmd /c copy /b /y "$WIN_PAYLOAD" "$WIN_DEST\\copy.cok" >/dev/null
  copy_wall=$(( $(now_ms) - start ))
  cmp -s "$PAYLOAD" "$DEST/kvx.cok" || { echo "probe wrote different bytes" >&2; exit 1; }
  cmp -s "$PAYLOAD" "$DEST/copy.cok" || { echo "copy wrote different bytes" >&2; exit 1; }
  write_ms=$(sed -n 's/.*write_ms=\([0-9.]*\).*/\1/p' <<<"$line")
  field() { sed -n "s/.* $1=\([0-9]*\).*/\1/p" <<<"$line"; }
  printf '%-4s %14s %14s %12s %10s %10s %10s %10s\n' "$run" "$probe_wall" "$write_ms" \
    "$copy_wall" "$(field before_working_set_kib)" "$(field peak_working_set_kib)" \
    "$(field before_pagefile_kib)" "$(field peak_pagefile_kib)"
done
rm -rf "$DEST"
