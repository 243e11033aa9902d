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
trap 'scripts/wine-session.sh stop "$prefix"' EXIT
scripts/wine-session.sh start "$prefix"
ctest --preset default "$@"
