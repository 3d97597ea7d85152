#!/usr/bin/env bash
# Builds and runs every test: the plain build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, then a bounded fuzz run.
#   FUZZ_SECONDS   total fuzzing budget shared by all targets (default 120)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

run_ctest() {
  local dir=$1
  shift
  (cd "$dir" && ctest --output-on-failure -j"$jobs" "$@") | tee -a "$log"
}

echo "== plain build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
run_ctest build

echo "== sanitizer build (address, undefined)"
cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRYCERT_SANITIZE=ON \
      -DRYCERT_BENCH=OFF >/dev/null
cmake --build build-san -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest build-san

echo "== token tests against SoftHSM2"
scripts/softhsm_test.sh build-softhsm | tee -a "$log"

echo "== thread test under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRYCERT_BENCH=OFF \
      -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
      -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >/dev/null
cmake --build build-tsan -j"$jobs" --target test_token_threads
TSAN_OPTIONS=halt_on_error=1 run_ctest build-tsan -R '^test_token_threads$'

echo "== fuzz build"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DRYCERT_FUZZ=ON -DRYCERT_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
scripts/fuzz.sh build-fuzz "${FUZZ_SECONDS:-120}" | tee -a "$log"

passed=$(grep -oE '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" |
         awk '{p += $9 - $4} END {print p + 0}')
failed=$(grep -oE '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" |
         awk '{f += $4} END {print f + 0}')
fz=$(grep -oE '^fuzz: [0-9]+ passed, [0-9]+ failed' "$log" | tail -1)
fp=$(echo "$fz" | awk '{print $2}')
ff=$(echo "$fz" | awk '{print $4}')
echo "all: $((passed + fp)) passed, $((failed + ff)) failed"
