#!/usr/bin/env bash
# Builds Lumarin and runs it on the simulated Mac. Arguments go to the program, for example
#   scripts/run.sh --headless --virtual-time --run-for 60
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the program itself: the tests and benchmarks are scripts/test.sh's.
bash scripts/build.sh default lumarin
exec build/default/src/lumarin "$@"
