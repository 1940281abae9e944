#!/usr/bin/env bash
# Builds Lumarin and runs it on the simulated Mac. Arguments go to the program, for example
#   scripts/run.sh --headless --virtual-time --run-for 60
# Without arguments and without a display it runs the built-in scenario for a minute of
# virtual time and tells what happened, then where the report and the pictures are.
set -euo pipefail
cd "$(dirname "$0")/.."
# Only the program itself: the tests and benchmarks are scripts/test.sh's.
bash scripts/build.sh default lumarin
if [ $# -eq 0 ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  mkdir -p build/run
  exec build/default/src/lumarin --headless --virtual-time --run-for 60 --story \
    --report build/run/report.json --snapshot build/run/pictures
fi
exec build/default/src/lumarin "$@"
