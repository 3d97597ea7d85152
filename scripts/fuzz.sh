#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a share of one time budget.
#   scripts/fuzz.sh <build-dir> <total-seconds>
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
budget=${2:-120}
targets=()
for f in fuzz/fuzz_*.cpp; do
  targets+=("$(basename "$f" .cpp)")
done
n=${#targets[@]}
per=$(( budget / n ))
[ "$per" -ge 5 ] || per=5
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0
failed=0
for t in "${targets[@]}"; do
  corpus="$work/$t"
  mkdir -p "$corpus"
  if [ -d "fuzz/seeds/$t" ]; then cp -r "fuzz/seeds/$t/." "$corpus/"; fi
  echo "fuzz: $t for ${per}s"
  if "$build/$t" -max_total_time="$per" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
       -artifact_prefix="$work/" "$corpus" >"$work/$t.log" 2>&1; then
    grep -E 'stat::number_of_executed_units' "$work/$t.log" || true
    passed=$((passed + 1))
  else
    echo "fuzz: $t FAILED"
    tail -n 60 "$work/$t.log"
    mkdir -p fuzz-out
    cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* fuzz-out/ 2>/dev/null || true
    failed=$((failed + 1))
  fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
