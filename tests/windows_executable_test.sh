#!/usr/bin/env bash
# Checks what fogswitch.exe is: a 32-bit console program that imports only DLLs every Windows
# has, with its version resource, and built byte for byte the same in another folder.
# Usage: windows_executable_test.sh EXE SOURCE_DIR SOURCE_DATE_EPOCH
set -euo pipefail
exe=$1 source_dir=$2 epoch=${3:-1192406400}
passes=0 failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [[ "$2" == "$3" ]]; then echo "ok: $1"; passes=$((passes + 1)); else
    echo "FAILED: $1"; echo "  expected: $2"; echo "  actual:   $3"; failures=$((failures + 1)); fi
}

headers=$(i686-w64-mingw32-objdump -p "$exe")
check "PE machine is i386" "file format pei-i386" "$(grep -o 'file format pei-i386' <<<"$headers")"
check "console subsystem" "(Windows CUI)" "$(grep -o '(Windows CUI)' <<<"$headers")"
check "imports" "ADVAPI32.dll KERNEL32.dll msvcrt.dll" \
  "$(grep 'DLL Name:' <<<"$headers" | awk '{print $3}' | sort -f | xargs)"
check "no PE time stamp" "Thu Jan  1 00:00:00 1970" "$(grep -m1 '^Time/Date' <<<"$headers" | cut -f3-)"

version=$(strings -el "$exe")
for text in fogswitch fogswitch.exe 0.04 "Turns fog on for Thief 2 on ATI display adapters"; do
  check "version resource holds '$text'" yes "$(grep -qxF -- "$text" <<<"$version" && echo yes || echo no)"
done
# VS_FIXEDFILEINFO: signature, structure version, then file and product version 0,4,0,0.
check "numeric version 0,4,0,0" yes "$(od -An -tx1 -v "$exe" | tr -d ' \n' |
  grep -q 'bd04effe00000100040000000000000004000000000000' && echo yes || echo no)"

# The same sources built in a folder of another name give the same bytes.
other=$(mktemp -d /tmp/fogswitch-rebuild-XXXXXX)
trap 'rm -rf "$other"' EXIT
cmake -S "$source_dir" -B "$other/some/other/build" -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DFOGSWITCH_BUILD_TESTS=OFF -DFOGSWITCH_SOURCE_DATE_EPOCH="$epoch" >/dev/null
cmake --build "$other/some/other/build" -j2 >/dev/null
check "reproducible build" same "$(cmp -s "$exe" "$other/some/other/build/fogswitch.exe" && echo same || echo different)"

echo "$passes passed, $failures failed"
[[ $failures -eq 0 ]]
