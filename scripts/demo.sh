#!/usr/bin/env bash
# Builds fogswitch.exe and runs it under Wine on a copy of the sample game folder, with a sample
# ATI adapter registered in a throwaway Wine prefix; shows the registry values and cam.cfg before
# and after. Nothing in the repository or in your own Wine prefix is changed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all >&2
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
exe=$PWD/build/windows/fogswitch.exe

work=$(mktemp -d)
export WINEPREFIX=$work/prefix TMPDIR=$work WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/game" "$WINEPREFIX"
cp sample/game/* "$work/game/"
cp sample/adapter.reg "$work/"

echo "Preparing a throwaway Wine prefix..." >&2
wineserver -p </dev/null >/dev/null 2>&1  # the device map lives only as long as the server
wine wineboot -i </dev/null >/dev/null 2>&1
(cd "$work" && wine regedit /S adapter.reg </dev/null)

adapter='HKLM\System\FogswitchSample\Video\0000'
show() {
  echo "== $1: registry values of the sample adapter"
  wine reg query "$adapter" </dev/null | tr -d '\r' | grep '^    '
  echo "== $1: cam.cfg"
  cat -A "$work/game/cam.cfg"
}

show before
echo "== fogswitch.exe output (no console, so it does not wait for a key)"
(cd "$work/game" && setsid wine "$exe" </dev/null | tr -d '\r')
echo
show after
