#!/usr/bin/env bash
# Builds Lumarin and runs it on the simulated Mac. Arguments go to the program, for example
#   scripts/run.sh --headless --virtual-time --run-for 60
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh default
exec build/default/src/lumarin "$@"
