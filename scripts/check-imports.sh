#!/usr/bin/env bash
# Fails when a binary of the build imports a mingw runtime DLL: Windows has none
# of them, so every program and library must carry its runtime statically.
set -euo pipefail
build=${1:?build folder}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
bad=0
count=0
while IFS= read -r -d '' binary; do
  count=$((count + 1))
  if "$objdump" -p "$binary" | grep -iE 'DLL Name: *(libstdc\+\+|libgcc|libwinpthread|libssp)' >/dev/null; then
    echo "mingw runtime import in $binary:"
    "$objdump" -p "$binary" | grep 'DLL Name'
    bad=1
  fi
done < <(find "$build" -path "$build/wineprefix" -prune -o \( -name '*.exe' -o -name '*.dll' \) -type f -print0)
echo "checked $count binaries"
[ "$count" -gt 0 ] || { echo "no binaries found under $build"; exit 1; }
exit $bad
