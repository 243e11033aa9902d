#!/usr/bin/env bash
# Fails unless a module library exports exactly CreateObject, ReleaseObject,
# GetVersionStr and GetVersionNum, unmangled, and imports no mingw runtime DLL.
set -euo pipefail
library=${1:?module library}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
dump=$("$objdump" -p "$library")
exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
  | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort | tr '\n' ' ')
expected="CreateObject GetVersionNum GetVersionStr ReleaseObject "
if [ "$exports" != "$expected" ]; then
  echo "exports of $library: $exports"
  echo "expected: $expected"
  exit 1
fi
if printf '%s\n' "$dump" | grep -iE 'DLL Name: *(libstdc\+\+|libgcc|libwinpthread|libssp)'; then
  echo "mingw runtime import in $library"
  exit 1
fi
echo "$library: $exports"
