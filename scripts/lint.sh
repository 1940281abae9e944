#!/usr/bin/env bash
# clang-tidy over the program's and the web service's own sources (warnings are errors, see
# .clang-tidy), using the compile commands of the default preset in a folder of their own.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# Its own configuration (the `lint` preset, build/lint): file by file rather than in unity
# batches, so compile_commands.json names each source, and without precompiled headers: clang
# cannot read the compiler's, and without them a file that leans on a header it does not
# include fails here.
cmake --preset lint >/dev/null
run-clang-tidy -p build/lint -quiet -j 2 "$(pwd)/(src|service)/.*\.cpp" >/tmp/lumarin-tidy.log 2>&1 || {
  grep -E "(warning|error):" /tmp/lumarin-tidy.log | grep -v "^/usr" | sort -u
  echo "lint: clang-tidy found problems"
  exit 1
}
echo "lint: clang-tidy found nothing"
