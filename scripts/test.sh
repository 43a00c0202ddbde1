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

# Configures, builds and tests one preset, and gives its summary whether or not a test failed.
run() {
  local preset=$1 status=0
  shift
  cmake --preset "$preset" "$@"
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2 || status=$?
  summary "$preset"
  return $status
}

scripts/setup.sh all
run default -DFOGSWITCH_WINDOWS=ON
run asan
