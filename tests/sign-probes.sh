#!/bin/sh
# Makes the test certificates and the probe program's copies, in OUT:
# sign-probes.sh OUT PROBE.exe
#   unsigned.exe   the probe as built
#   trusted.exe    signed by a publisher of the test root (root.cer, DER),
#                  which the test makes a trusted root of the prefix
#   untrusted.exe  signed by a publisher of another root, never trusted
#   changed.exe    trusted.exe with one byte of its DOS stub changed after
#                  signing
#   expired.exe    signed by a publisher of the test root whose certificate
#                  ran out
# The certificates are signed with SHA-1: Wine 8 checks a signer's chain
# (its root, its dates) only when the certificate's signature hash fits in
# 20 bytes; with a longer one, every signature whose digest matches is
# trusted.
set -e
out=$1
probe=$2
mkdir -p "$out"
cd "$out"
printf 'basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\nsubjectKeyIdentifier=hash\n' >ca.ext
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\nsubjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n' >leaf.ext
# ca NAME SUBJECT: a self-signed root
ca() {
  openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -subj "$2" -out "$1.csr" 2>/dev/null
  openssl x509 -req -sha1 -in "$1.csr" -signkey "$1.key" -days 3650 -set_serial 1 -extfile ca.ext -out "$1.pem" 2>/dev/null
}
# leaf NAME ROOT SUBJECT DAYS: a code-signing certificate issued by ROOT
leaf() {
  openssl req -new -newkey rsa:2048 -nodes -keyout "$1.key" -subj "$3" -out "$1.csr" 2>/dev/null
  openssl x509 -req -sha1 -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -set_serial 2 -days "$4" -extfile leaf.ext -out "$1.pem" 2>/dev/null
}
# sign LEAF CHAIN OUTPUT: the probe signed by LEAF, the signature carrying CHAIN
sign() {
  rm -f "$3"
  osslsigncode sign -certs "$2" -key "$1.key" -h sha256 -n "Runwarden probe" -in "$probe" -out "$3" >/dev/null
}
ca root "/CN=Runwarden Test Root"
leaf publisher root "/O=Runwarden Tests/CN=Runwarden Test Publisher" 3650
leaf lapsed root "/CN=Runwarden Lapsed Publisher" -1
ca stranger "/CN=Runwarden Stranger Root"
leaf outsider stranger "/CN=Runwarden Outsider" 3650
openssl x509 -in root.pem -outform DER -out root.cer
cat outsider.pem stranger.pem >outsider-chain.pem
cp "$probe" unsigned.exe
sign publisher publisher.pem trusted.exe
sign outsider outsider-chain.pem untrusted.exe
sign lapsed lapsed.pem expired.exe
perl -0777 -pe 's/DOS mode/DOS Mode/' trusted.exe >changed.exe
cmp -s trusted.exe changed.exe && echo "sign-probes.sh: changed.exe is not changed" >&2 && exit 1
exit 0
