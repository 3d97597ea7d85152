#!/usr/bin/env bash
# The main job: set up, build the library and the example programs, then
#   1. der_demo: a small structure through the DER codec and PEM;
#   2. cert_demo: a CA certificate and a server certificate signed by it,
#      written as PEM files, decoded again and printed;
#   3. openssl verify: an independent check that the chain holds.
#   scripts/demo.sh [output directory]   (default: <build>/cert-demo)
#   BUILD_DIR   build directory (default build)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target der_demo cert_demo -j"$(nproc)"
out=${1:-$build/cert-demo}

echo "== DER codec"
"./$build/der_demo"

echo
echo "== certificates"
"./$build/cert_demo" "$out"

echo
echo "== openssl verify -CAfile $out/ca.pem $out/leaf.pem"
openssl verify -CAfile "$out/ca.pem" "$out/leaf.pem"
