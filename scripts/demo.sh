#!/usr/bin/env bash
# Builds fogswitch.exe and runs it under Wine on a copy of the sample game folder, with a sample
# ATI adapter registered in a throwaway Wine prefix; shows the registry values and cam.cfg before
# and after. Nothing in the repository or in your own Wine prefix is changed. Wine runs as
# scripts/wine.sh runs it: on a machine that runs no 32-bit programs, with its 32-bit loader
# emulated.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all >&2

work=$(mktemp -d)
export WINEPREFIX=$work/prefix TMPDIR=$work WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT

# Runs a step with its output kept aside; one that fails says which step and why, and ends the demo.
step() {
  local what=$1 status=0
  shift
  "$@" >"$work/step.log" 2>&1 </dev/null || status=$?
  if [[ $status -ne 0 ]]; then
    echo "demo: $what failed (status $status):" >&2
    grep -v '^\s*$' "$work/step.log" | tail -n 2 >&2
    exit 1
  fi
}

# How Wine runs the exe here, tried rather than guessed.
wine=$PWD/scripts/wine.sh
if ! how=$("$wine" --how 2>/dev/null); then
  echo "demo: $how" >&2
  exit 1
fi
echo "Windows program under Wine: $how"
step "Configuring the windows build" cmake --preset windows
step "Building the windows build" cmake --build --preset windows
exe=$PWD/build/windows/fogswitch.exe

mkdir -p "$work/game" "$WINEPREFIX"
cp sample/game/* "$work/game/"
cp sample/adapter.reg "$work/"

echo "Preparing a throwaway Wine prefix..." >&2
step "Starting a Wine server" wineserver -p  # the device map lives only as long as the server
step "Setting up the Wine prefix" "$wine" wineboot -i
step "Registering the sample adapter" \
  sh -c 'cd "$1" && "$2" regedit /S adapter.reg' sh "$work" "$wine"

adapter='HKLM\System\FogswitchSample\Video\0000'
show() {
  echo "== $1: registry values of the sample adapter"
  step "Reading the sample adapter's values" "$wine" reg query "$adapter"
  tr -d '\r' <"$work/step.log" | grep '^    '
  echo "== $1: cam.cfg"
  cat -A "$work/game/cam.cfg"
}

show before
echo "== fogswitch.exe output (no console, so it does not wait for a key)"
step "Running fogswitch.exe" sh -c 'cd "$1/game" && setsid "$2" "$3"' sh "$work" "$wine" "$exe"
tr -d '\r' <"$work/step.log"
echo
show after
