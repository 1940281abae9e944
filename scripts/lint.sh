#!/usr/bin/env bash
# clang-tidy over the program's and the web service's own sources (warnings are errors, see
# .clang-tidy), using the compile commands of the default preset, which must be configured first.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
test -f build/default/compile_commands.json || cmake --preset default >/dev/null
run-clang-tidy -p build/default -quiet -j 2 "$(pwd)/(src|service)/.*\.cpp" >/tmp/lumarin-tidy.log 2>&1 || {
  grep -E "(warning|error):" /tmp/lumarin-tidy.log | grep -v "^/usr" | sort -u
  echo "lint: clang-tidy found problems"
  exit 1
}
echo "lint: clang-tidy found nothing"
