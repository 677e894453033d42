#!/usr/bin/env bash
# Windows-side tests under Wine: windows_tests.exe (GoogleTest), then the end-to-end tests of
# tests/e2e. Ends with "wine: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
exec python3 tests/e2e/run.py "$@"
