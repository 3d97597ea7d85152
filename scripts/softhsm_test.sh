#!/usr/bin/env bash
# Runs the token tests with the library linked against SoftHSM2's module
# instead of the soft token (build-softhsm). The tests make their own
# SoftHSM2 configuration with two fresh tokens in the build tree
# (tests/token/softhsm_init.sh, through SOFTHSM2_CONF); what SoftHSM2
# refuses without a login or lacks (MD2, IDEA, PBE, DES-MAC) is checked to
# reach the caller as the module's own CK_RV.
#   $1  build directory (default build-softhsm)
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-softhsm}
jobs=$(nproc)
command -v softhsm2-util >/dev/null || { echo "softhsm_test: softhsm2-util missing (Debian package softhsm2)" >&2; exit 1; }

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRYCERT_BENCH=OFF \
      -DRYCERT_P11_MODULE=softhsm2 >/dev/null
cmake --build "$dir" -j"$jobs" --target test_token test_token_lifecycle test_token_threads \
      test_token_verify test_token_procedure
(cd "$dir" && ctest --output-on-failure -L token)
