#!/usr/bin/env bash
# start PREFIX: makes the prefix when missing and keeps one wineserver alive for it.
# stop PREFIX:  ends that wineserver.
set -euo pipefail
cmd=${1:?start or stop}
export WINEPREFIX=${2:?wine prefix}
export WINEDEBUG=-all
WINE=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver

case "$cmd" in
  start)
    mkdir -p "$WINEPREFIX"
    # A server left over from an earlier run would make -p a silent no-op.
    "$SERVER" -k >/dev/null 2>&1 || true
    "$SERVER" -w >/dev/null 2>&1 || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
      "$SERVER" -w >/dev/null 2>&1 || true
      "$WINE" winecfg -v win10 </dev/null >/dev/null 2>&1 || true
      "$SERVER" -w >/dev/null 2>&1 || true
    fi
    setsid "$SERVER" -p </dev/null >/dev/null 2>&1 &
    # The first process after a fresh server starts Wine's services; let it
    # finish with its streams closed so nothing later inherits them.
    for _ in $(seq 1 50); do
      "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 && break
      sleep 0.2
    done
    ;;
  stop)
    "$SERVER" -k >/dev/null 2>&1 || true
    "$SERVER" -w >/dev/null 2>&1 || true
    ;;
  *) echo "usage: $0 start|stop PREFIX" >&2; exit 2 ;;
esac
