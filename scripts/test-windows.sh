#!/usr/bin/env bash
# Cross-builds for Windows with mingw-w64 and runs the unit tests under Wine,
# headless, in a private Wine prefix. Exits with the tests' status.
#
#   scripts/test-windows.sh [gtest options...]   e.g. --gtest_filter='Pixel*'
#
# Build folder: build/windows. Codec libraries: cmake/windows-deps.sh's cache.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dir=build/windows
start=$(date +%s)
step() { echo "test-windows: $* ($(( $(date +%s) - start )) s)"; }

step "packages"
scripts/setup.sh --windows

step "codec libraries"
# Named here for both the dependency build and CMake, so that they agree even
# where HOME is not set.
home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
deps=${PRAVIK_WINDEPS_PREFIX:-$home/.cache/pravik-windeps}
cmake/windows-deps.sh "$deps"

step "configure and build"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DPRAVIK_WINDEPS_PREFIX="$deps" >/dev/null
cmake --build "$dir" -j2

# Wine: its own prefix for each run, no debug chatter, no crash dialog (it would
# wait for a click that never comes), no display, a fixed locale (the ANSI code
# page follows it), no Mono or Gecko installer prompts.
export WINEPREFIX="$root/$dir/wineprefix" WINEARCH=win64 WINEDEBUG=-all
export LANG=C.UTF-8 LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
stop_wine() { timeout 30 wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

step "Wine prefix"
stop_wine
rm -rf "$WINEPREFIX"
# wineboot's own messages (no 32-bit Wine, no rundll32 for WoW64) are noise
# unless it fails.
if ! { timeout -k 10 180 wine wineboot --init && timeout -k 10 120 wineserver -w; } \
     >"$dir/wineboot.log" 2>&1; then
  cat "$dir/wineboot.log" >&2
  echo "test-windows: could not create the Wine prefix" >&2
  exit 1
fi
timeout -k 10 60 wine reg add 'HKCU\Software\Wine\WineDbg' \
  /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
# Wine's automatic debugger prints a backtrace and then ends the crashed program
# with exit code 0, so a crash would pass. With a debugger that cannot start, the
# program ends with its exception code (0xC0000005 shows as exit code 5).
timeout -k 10 60 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' \
  /v Debugger /t REG_SZ /d pravik-no-debugger /f >/dev/null

step "unit tests under Wine"
report="$dir/unit-tests.xml"
rm -f "$report"
rc=0
timeout -k 10 1200 wine "$dir/tests/pravik_unit_tests.exe" \
  --gtest_output="xml:Z:$root/$report" "$@" || rc=$?
case "$rc" in
  0|1) ;;
  124|137) echo "test-windows: the unit tests timed out under Wine" >&2 ;;
  *) echo "test-windows: the unit tests ended abnormally (exit $rc; 5 is an access violation)" >&2 ;;
esac
stop_wine

# One closing line for whoever reads the log: gtest's summary counts.
if [ -f "$report" ]; then
  attr() { sed -n "s/.*<testsuites[^>]* $1=\"\([0-9]*\)\".*/\1/p" "$report" | head -1; }
  tests=$(attr tests) failures=$(attr failures) disabled=$(attr disabled)
  skipped=$(grep -c 'result="skipped"' "$report" || true)
  echo "wine: $(( tests - failures - disabled - skipped )) passed, $failures failed, $skipped skipped"
elif [ "$rc" = 0 ]; then
  echo "test-windows: no test report written" >&2
  rc=1
fi
step "done, exit $rc"
exit "$rc"
