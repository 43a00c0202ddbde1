#!/usr/bin/env bash
# Builds fogswitch and runs it on a copy of the sample game folder, showing what it changed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh native >&2
cmake --preset default >/dev/null
cmake --build --preset default --target fogswitch >/dev/null

game=$(mktemp -d)
trap 'rm -rf "$game"' EXIT
cp sample/game/* "$game/"
exe=$PWD/build/default/fogswitch

echo "== cam.cfg before"
cat -A "$game/cam.cfg"
echo "== fogswitch output (no terminal, so it does not wait for a key)"
(cd "$game" && setsid "$exe" </dev/null | cat)
echo
echo "== cam.cfg after"
cat -A "$game/cam.cfg"
echo "== changes"
diff <(cat -A sample/game/cam.cfg) <(cat -A "$game/cam.cfg") || true
