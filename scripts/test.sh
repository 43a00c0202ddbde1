#!/usr/bin/env bash
# Installs what is missing, builds fogswitch and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all
cmake --preset default -DFOGSWITCH_WINDOWS=ON
cmake --build --preset default
ctest --preset default
