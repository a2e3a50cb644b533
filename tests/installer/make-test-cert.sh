#!/usr/bin/env bash
# A throwaway code-signing certificate for the tests and for trying a
# release: a CA of its own and a leaf for code signing, issued by it.
#   make-test-cert.sh DIR       DIR/ca.pem (trust anchor for verifying),
#                               DIR/codesign.p12 (leaf, key and chain)
# The PKCS#12 file is protected with VELBOX_CODESIGN_PASSWORD when it is set.
# Never for a release that users get: Windows trusts no such CA.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
umask 077
cat >leaf.cnf <<'CNF'
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF
openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 -keyout ca.key -out ca.pem \
  -subj "/CN=Velmora Test Code Signing CA" \
  -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
openssl req -newkey rsa:2048 -nodes -sha256 -keyout leaf.key -out leaf.csr \
  -subj "/CN=Velmora Test Publisher" 2>/dev/null
openssl x509 -req -sha256 -days 3650 -in leaf.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
  -extfile leaf.cnf -out leaf.pem 2>/dev/null
PASS=${VELBOX_CODESIGN_PASSWORD:-} openssl pkcs12 -export -in leaf.pem -inkey leaf.key -certfile ca.pem \
  -name "Velmora Test Publisher" -passout env:PASS -out codesign.p12
rm -f ca.key leaf.key leaf.csr ca.srl
