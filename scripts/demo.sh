#!/usr/bin/env bash
# Shows the update package at work under Wine on a sample Kestrane installation (the steps
# are in scripts/demo.py). Builds nothing: `make demo` builds first.
set -euo pipefail
cd "$(dirname "$0")/.."
exec python3 scripts/demo.py "$@"
