#!/usr/bin/env bash
# Builds the native program and runs the benchmark, which prints its figures and ratios.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native >&2
cmake --preset default >/dev/null
cmake --build --preset default --target fogswitch fogswitch_empty fogswitch_bench >/dev/null
build/default/bench/fogswitch_bench build/default/fogswitch build/default/bench/fogswitch_empty
