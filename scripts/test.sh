#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: the plain suite (with the Windows
# program under Wine), then the native suite again under AddressSanitizer and
# UndefinedBehaviorSanitizer. Runs as root or as an ordinary user (with sudo for apt).
set -euo pipefail
cd "$(dirname "$0")/.."

# A test skipped for lack of rights passes in ctest's eyes; say why it was skipped. And say which
# build of the Windows program ran under Wine.
summary() {
  grep -h -o -e "[^ ].* \.\.\. skipped .*" -e "^Windows program under Wine: .*" \
    "build/$1/Testing/Temporary/LastTest.log" || true
}

scripts/setup.sh all

cmake --preset default -DFOGSWITCH_WINDOWS=ON
cmake --build --preset default
ctest --preset default -j2
summary default

cmake --preset asan
cmake --build --preset asan
ctest --preset asan -j2
summary asan
