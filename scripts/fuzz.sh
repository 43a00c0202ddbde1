#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (default 60 s),
# starting from the seed corpus in fuzz/corpus (left unchanged; new inputs go to a temporary
# folder). A crash leaves its input in build/fuzz/crashes; make it a regular test case.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

scripts/setup.sh all >&2
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

passed=0 failed=0
mkdir -p build/fuzz/crashes
for target in cam_cfg driver_fog; do
  corpus=$(mktemp -d)
  echo "== fuzzing ${target} for ${seconds} s"
  if build/fuzz/fuzz/${target}_fuzz -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix=build/fuzz/crashes/${target}- \
       "$corpus" "fuzz/corpus/$target" 2>build/fuzz/${target}.log; then
    passed=$((passed + 1))
    grep -E '^stat::number_of_executed_units|^Done' build/fuzz/${target}.log || true
  else
    failed=$((failed + 1))
    tail -40 build/fuzz/${target}.log
  fi
  rm -rf "$corpus"
done
echo "fuzz: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
