#!/usr/bin/env bash
# The one command: installs what is missing, configures, builds and runs every test.
# Extra arguments go to ctest (for example: -R Registry).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

prefix="$root/build/wineprefix"
# build/wine-run notes here each test program it started a second time.
restarts="$root/build/wine-run-restarts.txt"
rm -f "$restarts"
finish() {
  local rc=$?
  scripts/wine-session.sh stop "$prefix"
  if [ -s "$restarts" ]; then
    echo "check: $(wc -l <"$restarts") test program(s) ended at start-up without writing anything and were started a second time:"
    sed 's/^/check:   /' "$restarts"
  fi
  exit "$rc"
}
trap finish EXIT
scripts/wine-session.sh start "$prefix"
ctest --preset default "$@"
