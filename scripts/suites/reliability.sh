#!/usr/bin/env bash
# The smoke subset of `make reliability`: KILLS killed quiet runs (default 10), a few killed
# guarded runs, the kill test against the in-place test build (it must find a torn target),
# a few rounds of copies at once and the faults from outside. Ends with "reliability: N passed, N failed, N skipped".
set -uo pipefail
cd "$(dirname "$0")/../.."
exec python3 tests/reliability/reliability.py --smoke --kills "${KILLS:-10}"
