#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-bench), runs rycert_bench once and
# writes bench/RESULTS.md: each BM_<what>/ours/... beside its peer
# BM_<what>/<peer>/..., with the machine and the date.
#   Extra arguments go to rycert_bench (e.g. --benchmark_filter=Base64).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DRYCERT_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)" --target rycert_bench

json=$(mktemp)
trap 'rm -f "$json"' EXIT
build-bench/rycert_bench --benchmark_format=json "$@" >"$json"
python3 scripts/bench_report.py "$json" --nproc "$(nproc)" >bench/RESULTS.md
echo "bench: wrote bench/RESULTS.md"
