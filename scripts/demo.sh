#!/usr/bin/env bash
# The main job: set up, build the library, the soft token and the example
# programs, then
#   1. der_demo: a small structure through the DER codec and PEM;
#   2. cert_demo: with keys made and held by the token, a CA certificate,
#      a server certificate signed by it, a request for the server key and
#      a CRL of the CA, all signed through the token, written as PEM files,
#      decoded again, printed and checked with the token's verification;
#   3. OpenSSL: an independent check of the chain, the request and the CRL.
#   scripts/demo.sh [output directory]   (default: <build>/cert-demo)
#   BUILD_DIR   build directory (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target der_demo cert_demo -j"$(nproc)"
out=${1:-$build/cert-demo}

# The soft token keeps imported keys in this folder; a fresh one per run.
RYPKCS11_STORE=$(mktemp -d)
export RYPKCS11_STORE
trap 'rm -rf "$RYPKCS11_STORE"' EXIT

echo "== DER codec"
"./$build/der_demo"

echo
echo "== certificates, request and CRL, signed through the token"
"./$build/cert_demo" "$out"

echo
echo "== OpenSSL"
failed=0
check() {
  echo "\$ $*"
  if ! "$@"; then
    echo "FAILED: $*"
    failed=1
  fi
}
check openssl verify -CAfile "$out/ca.pem" "$out/leaf.pem"
check openssl req -in "$out/leaf-req.pem" -noout -verify
check openssl crl -in "$out/ca.crl.pem" -noout -CAfile "$out/ca.pem"
exit "$failed"
