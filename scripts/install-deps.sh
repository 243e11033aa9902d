#!/usr/bin/env bash
# Installs, with apt, whatever the build and the tests need and the machine lacks.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake ninja-build g++-mingw-w64-x86-64-posix wine64 rapidjson-dev googletest \
           osslsigncode gcab openssl faketime python3; do
  have_pkg "$pkg" || need+=("$pkg")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
