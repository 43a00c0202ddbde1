#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the plain suite (with the Windows
# program under Wine), then the native suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all

cmake --preset default -DFOGSWITCH_WINDOWS=ON
cmake --build --preset default
ctest --preset default -j2

cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j2
