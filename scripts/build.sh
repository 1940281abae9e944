#!/usr/bin/env bash
# Configures and builds one preset (default: "default"), or only the targets named after it.
# Installs the dependencies first.
#   scripts/build.sh asan
#   scripts/build.sh default lumarin
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-default}"
shift || true
bash scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build --preset "$preset" --target "$@"
else
  cmake --build --preset "$preset"
fi
