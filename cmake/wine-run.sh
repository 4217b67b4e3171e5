#!/bin/bash
# Runs a Windows test program under Wine in the build tree's private prefix (CMAKE_CROSSCOMPILING_EMULATOR).
# A program that Wine cannot start, or a GoogleTest program that ran no test, fails here: Wine itself
# may exit 0 for a program it never ran.
set -u
exe=$1; shift
dir=$(cd "$(dirname "$exe")" && pwd)
build=$dir
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
[ -f "$build/CMakeCache.txt" ] || { echo "wine-run: no build tree above $exe" >&2; exit 2; }

. "$(dirname "$(readlink -f "$0")")/../scripts/wine-env.sh" "$build"
tw_wine_prefix_init || exit 2

tw_display own_xvfb || exit 2

out=$(mktemp)
wine "$exe" "$@" 2>&1 | tee "$out"
rc=${PIPESTATUS[0]}
if [ -n "$own_xvfb" ]; then
  timeout 30 wineserver -w
  kill "$own_xvfb" 2>/dev/null
fi
if [ "$rc" = 0 ] && [ "${TW_EXPECT_GTEST:-0}" = 1 ] && ! grep -Eq '^\[  PASSED  \] [1-9][0-9]* test' "$out"; then
  echo "wine-run: $(basename "$exe") exited 0 but ran no test under Wine" >&2
  rc=3
fi
rm -f "$out"
exit "$rc"
