#!/usr/bin/env bash
# Signs one file with the trust kit's valid signer, as make-trust-kit.sh signs
# its own libraries; for doubles built outside the kit.
#
# usage: sign-with-kit.sh KITDIR IN OUT
set -euo pipefail
kit=${1:?kit dir}; in=${2:?input}; out=${3:?output}
rm -f "$out"
osslsigncode sign -certs "$kit/signer.crt" -key "$kit/work/signer.key" -ac "$kit/root.crt" \
  -n "Halvex test" -h sha256 -in "$in" -out "$out" >/dev/null
