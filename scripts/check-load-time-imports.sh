#!/usr/bin/env bash
# check-load-time-imports.sh BINARY DLL...: fails when BINARY imports at load
# time any DLL outside the list (case-insensitive). Libraries bound on first
# use (delay-loaded or looked up at run time) are not load-time imports.
set -euo pipefail
binary=${1:?binary}
shift
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
allowed=" $(echo "$*" | tr '[:upper:]' '[:lower:]') "
imports=$("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' | tr '[:upper:]' '[:lower:]')
[ -n "$imports" ] || { echo "no imports found in $binary"; exit 1; }
bad=0
for dll in $imports; do
  case "$allowed" in
    *" $dll "*) echo "load-time import: $dll" ;;
    *) echo "unexpected load-time import: $dll"; bad=1 ;;
  esac
done
exit $bad
