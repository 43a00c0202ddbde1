#!/usr/bin/env bash
# Installs what is missing, builds fogswitch and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native
cmake --preset default
cmake --build --preset default
ctest --preset default
