#!/usr/bin/env bash
# Builds one preset (default: "default"; "asan" for AddressSanitizer + UBSan) and runs every
# test of it. Installs the dependencies first.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
bash scripts/build.sh "$preset"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" -j 2
