#!/usr/bin/env bash
# The progress window under Wine as a user sees it: its own prefix under build/, and Xvfb on
# PROGRESS_DISPLAY (default :16) unless an X server runs there already.
# Prints one line per case and ends with "progress: N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
exec python3 tests/e2e/test_progress.py --build "${BUILD:-build}"
