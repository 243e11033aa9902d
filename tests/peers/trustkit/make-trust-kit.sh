#!/usr/bin/env bash
# Builds the trust test kit: a test root and an unlisted root, code-signing
# certificates (valid, expired, without the code-signing usage, an unlisted
# name), signed, tampered and unsigned copies of a sample library, signed
# doubles of the validation library and of a COM server, list files and
# cabinets with and without a list file inside; signed, unsigned and tampered
# copies of the bus library double, and signed copies of a family library
# double with and without all of its exports; a rogue time-stamping authority
# under a root of its own that nothing trusts, and a timestamp from it; a
# timestamp whose own signature is broken, and one made under the test root
# by a certificate not meant for time stamping; signed and unsigned copies of
# the marking library, and a signed library that imports it.
#
# usage: make-trust-kit.sh OUTDIR SAMPLE.dll VALIDATION.dll COMSERVER.dll BUS.dll FAMILY.dll INCOMPLETE.dll MARK.dll
#        IMPORTER.dll
# Nothing here is shipped; the keys are made fresh for every build folder.
set -euo pipefail
out=${1:?out dir}; sample=${2:?sample dll}; validation=${3:?validation dll}; comserver=${4:?com server dll}
bus=${5:?bus library dll}; family=${6:?family library dll}; incomplete=${7:?incomplete family library dll}
mark=${8:?marking library dll}; importer=${9:?importing library dll}
surgery=$(cd "$(dirname "$0")" && pwd)/signature-surgery.py
mkdir -p "$out"
cd "$out"
rm -rf work && mkdir work

# Certificates are dated relative to a fixed past so that the expired signer
# and its timestamp are stable whatever day the kit is built.
cat > work/ext.cnf <<'EOF'
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[serveronly]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF

key() { openssl genrsa -out "work/$1.key" 2048 2>/dev/null; }

# root NAME CN
root() {
  key "$1"
  faketime '2019-01-01 00:00:00' openssl req -new -x509 -key "work/$1.key" -out "$1.crt" \
    -subj "/CN=$2" -days 10950 -sha256 -extensions ca -config work/ext.cnf 2>/dev/null
}

# leaf NAME CN ISSUER EXTENSION SERIAL START DAYS
leaf() {
  key "$1"
  openssl req -new -key "work/$1.key" -out "work/$1.csr" -subj "/CN=$2" 2>/dev/null
  faketime "$6" openssl x509 -req -in "work/$1.csr" -CA "$3.crt" -CAkey "work/$3.key" \
    -set_serial "$5" -days "$7" -sha256 -extfile work/ext.cnf -extensions "$4" \
    -out "$1.crt" 2>/dev/null
}

root root "Halvex Test Root"
root otherroot "Halvex Other Test Root"
root rogueroot "Halvex Rogue Time Root"
leaf signer "Halvex Test Signer" root codesign 0x5EA1AB01 '2020-01-01 00:00:00' 7300
leaf stranger "Halvex Stranger" root codesign 0x5EA1AB02 '2020-01-01 00:00:00' 7300
leaf othersigner "Halvex Test Signer" otherroot codesign 0x5EA1AB03 '2020-01-01 00:00:00' 7300
leaf expired "Halvex Test Signer" root codesign 0x5EA1AB04 '2020-01-01 00:00:00' 365
leaf nousage "Halvex Test Signer" root serveronly 0x5EA1AB05 '2020-01-01 00:00:00' 7300
leaf tsa "Halvex Test Timestamps" root tsa 0x5EA1AB06 '2019-06-01 00:00:00' 7300
leaf roguetsa "Halvex Test Timestamps" rogueroot tsa 0x5EA1AB07 '2019-06-01 00:00:00' 7300
leaf tsanousage "Halvex Test Timestamps" root codesign 0x5EA1AB08 '2019-06-01 00:00:00' 7300

for c in root otherroot signer; do
  openssl x509 -in "$c.crt" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g' > "$c.sha1"
done
cat tsa.crt root.crt > work/tsa-chain.pem
cat roguetsa.crt rogueroot.crt > work/rogue-tsa-chain.pem

# sign IN OUT CERT [extra osslsigncode arguments...]
sign() {
  local in=$1 outfile=$2 cert=$3; shift 3
  local issuer=root
  [ "$cert" = othersigner ] && issuer=otherroot
  rm -f "$outfile"
  osslsigncode sign -certs "$cert.crt" -key "work/$cert.key" -ac "$issuer.crt" \
    -n "Halvex test" -h sha256 "$@" -in "$in" -out "$outfile" >/dev/null
}

cp "$sample" sample-unsigned.dll
sign "$sample" sample-signed.dll signer
sign "$sample" sample-stranger.dll stranger
sign "$sample" sample-other-root.dll othersigner
sign "$sample" sample-expired.dll expired
sign "$sample" sample-no-usage.dll nousage
# A timestamp inside the expired certificate's validity; the token's own
# signing time comes from the clock, hence faketime.
faketime '2020-06-01 12:00:00' osslsigncode sign -certs expired.crt -key work/expired.key \
  -ac root.crt -n "Halvex test" -h sha256 -TSA-certs work/tsa-chain.pem -TSA-key work/tsa.key \
  -TSA-time 1591012800 -in "$sample" -out work/expired-ts.dll >/dev/null
mv work/expired-ts.dll sample-expired-ts.dll
# The same timestamp made by the rogue authority: well formed, for the right
# signature value, but its signer chains to no trusted root.
faketime '2020-06-01 12:00:00' osslsigncode sign -certs expired.crt -key work/expired.key \
  -ac root.crt -n "Halvex test" -h sha256 -TSA-certs work/rogue-tsa-chain.pem -TSA-key work/roguetsa.key \
  -TSA-time 1591012800 -in "$sample" -out work/expired-rogue-ts.dll >/dev/null
mv work/expired-rogue-ts.dll sample-expired-rogue-ts.dll
# That timestamp moved onto a signature of other content: it vouches for
# another signature value, so it must not count.
sign "$validation" work/expired-other.dll expired
osslsigncode extract-signature -in sample-expired-ts.dll -out work/expired-ts.p7 >/dev/null
osslsigncode extract-signature -in work/expired-other.dll -out work/expired-other.p7 >/dev/null
python3 "$surgery" graft work/expired-ts.p7 work/expired-other.p7 work/moved-ts.p7
python3 "$surgery" embed "$validation" work/moved-ts.p7 sample-moved-timestamp.dll

# The same timestamp with its own signature value damaged (the token is the
# last thing in the message).
python3 "$surgery" damage work/expired-ts.p7 work/broken-ts.p7
python3 "$surgery" embed "$sample" work/broken-ts.p7 sample-expired-broken-ts.dll
# The same time-stamp content signed again as a token, once by the real
# authority (a control: such a token counts) and once by a certificate under
# the test root that lacks the time-stamping usage.
python3 "$surgery" tstinfo work/expired-ts.p7 work/tstinfo.der
token() { # CERT OUT
  faketime '2020-06-01 12:00:00' openssl cms -sign -binary -nodetach -nosmimecap -md sha256 \
    -in work/tstinfo.der -econtent_type 1.2.840.113549.1.9.16.1.4 -signer "$1.crt" -inkey "work/$1.key" \
    -certfile root.crt -outform DER -out "$2"
}
token tsa work/token-tsa.der
token tsanousage work/token-nousage.der
python3 "$surgery" retoken work/expired-ts.p7 work/token-tsa.der work/retoken-tsa.p7
python3 "$surgery" embed "$sample" work/retoken-tsa.p7 sample-expired-token-ts.dll
python3 "$surgery" retoken work/expired-ts.p7 work/token-nousage.der work/retoken-nousage.p7
python3 "$surgery" embed "$sample" work/retoken-nousage.p7 sample-expired-token-no-ts-usage.dll

# One changed byte in the DOS stub's text: the file still loads, its hash no longer matches.
cp sample-signed.dll sample-tampered.dll
python3 "$surgery" tamper sample-tampered.dll

# The bus library double as the test set-up installs it, and the copies the
# loader must refuse.
sign "$bus" bus-signed.dll signer
cp "$bus" bus-unsigned.dll
cp bus-signed.dll bus-tampered.dll
python3 "$surgery" tamper bus-tampered.dll
sign "$family" family-signed.dll signer
sign "$incomplete" family-incomplete-signed.dll signer

# A signer that carries the valid certificate but whose signature value is
# damaged: it cannot speak for the content it claims.
osslsigncode extract-signature -in sample-signed.dll -out work/signer.p7 >/dev/null
python3 "$surgery" damage work/signer.p7 work/forged.p7
python3 "$surgery" embed "$sample" work/forged.p7 sample-forged-signature.dll

# Two signers over the same content: an unlisted name first, then the valid signer.
osslsigncode extract-signature -in sample-stranger.dll -out work/stranger.p7 >/dev/null
python3 "$surgery" merge work/stranger.p7 work/signer.p7 work/two.p7
python3 "$surgery" embed "$sample" work/two.p7 sample-two-signers.dll
# The same with the second signer's signature value damaged: a forged extra
# signer that carries a copied valid certificate.
python3 "$surgery" damage work/two.p7 work/forged-second.p7
python3 "$surgery" embed "$sample" work/forged-second.p7 sample-forged-second.dll

# The marking library: its DllMain leaves a mark, so a test sees that its
# code ran.
cp "$mark" mark-unsigned.dll
sign "$mark" mark-signed.dll signer
# A signed library that imports the marking library by its own file name.
sign "$importer" importer-signed.dll signer

sign "$validation" Drellin.dll signer
sign "$validation" Drellin-expired.dll expired
cp "$validation" Drellin-unsigned.dll
sign "$comserver" comserver-signed.dll signer
cp "$comserver" comserver-unsigned.dll
sign "$comserver" comserver-stranger.dll stranger
cp comserver-signed.dll comserver-tampered.dll
python3 "$surgery" tamper comserver-tampered.dll

# List files. The signature block is a stand-in the tests' verifier accepts:
# nothing on this platform can sign or check a script file.
root_sha=$(cat root.sha1); other_sha=$(cat otherroot.sha1)
list() { # FILE VERSION ROOTS...
  local f=$1 v=$2; shift 2
  { echo "/* trusted signers */"; echo "[VER]"; echo "$v"; echo "[ORG]"; echo "Halvex Test Signer"
    echo "[SHA]"; for r in "$@"; do echo "$r"; done
    echo "// SIG // Begin signature block"; echo "// SIG // halvex-test-signature"; echo "// SIG // End signature block"; } > "$f"
}
list list-v8-root.js 8 "$root_sha"
list list-v9-both.js 9 "$root_sha" "$other_sha"
mkdir -p work/cab-with work/cab-without
cp list-v9-both.js work/cab-with/trusted.js
cp sample-unsigned.dll work/cab-with/payload.dll
cp sample-unsigned.dll work/cab-without/payload.dll
rm -f work/with.cab work/without.cab
(cd work/cab-with && gcab -c -n ../with.cab trusted.js payload.dll)
(cd work/cab-without && gcab -c -n ../without.cab payload.dll)
cp work/without.cab cabinet-unsigned-without-list.cab
cp work/with.cab cabinet-unsigned-with-list.cab
sign work/with.cab cabinet-other-root-with-list.cab othersigner
sign work/with.cab cabinet-signed-with-list.cab signer

# The extended root bundle: the host's roots and both test roots.
cat /etc/ssl/certs/ca-certificates.crt root.crt otherroot.crt > root-bundle.crt
touch kit.stamp
