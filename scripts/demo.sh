#!/usr/bin/env bash
# The main job: set up, build the library, and run the DER example program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target der_demo -j"$(nproc)"
./build/der_demo
