#!/usr/bin/env bash
# Cross-builds for Windows with mingw-w64 and runs the unit tests under Wine,
# headless, in a private Wine prefix; then, under Xvfb, the Explorer extension,
# the converter driven through its window and the installer
# (tests/windows). Exits with the tests' status.
#
#   scripts/test-windows.sh [gtest options...]   e.g. --gtest_filter='Pixel*'
#   PRAVIK_WINDOWS_FILTER='Converter.*' scripts/test-windows.sh   (the second run's filter)
#
# A screenshot of the converter's window is kept in build/windows/artifacts/.
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
# "wine reg add" now and then fails while the previous wineserver is still
# going away: try again before giving up.
wine_reg() {
  local attempt
  for attempt in 1 2 3; do
    timeout -k 10 60 wine reg add "$@" /f >/dev/null && return 0
    sleep 2
  done
  echo "test-windows: wine reg add $1 failed" >&2
  return 1
}

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
wine_reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
# Wine's automatic debugger prints a backtrace and then ends the crashed program
# with exit code 0, so a crash would pass. With a debugger that cannot start, the
# program ends with its exception code (0xC0000005 shows as exit code 5).
wine_reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ /d pravik-no-debugger
# Wine's own fonts (title bar glyphs, dialog fonts) where its font loader looks
# in this prefix.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true

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

# ---- the Windows programs under a display --------------------------------------------------
# The extension, the converter driven through its window, and the installer,
# in one test executable under Xvfb. Windows live in a virtual desktop of the
# screen's size, so that they get title bars (no window manager runs).
step "extension, converter and installer under Wine and Xvfb"
gui_report="$dir/windows-tests.xml"
artifacts="$dir/artifacts"
rm -f "$gui_report" "$artifacts/window.png" "$artifacts/window.request"
mkdir -p "$artifacts"
gui_rc=0
if [ ! -f "$dir/tests/windows/pravik_windows_tests.exe" ]; then
  echo "test-windows: pravik_windows_tests.exe was not built" >&2
  gui_rc=1
else
  wine_reg 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
  wine_reg 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
  stop_wine
  # The tests ask for a screenshot of the converter's window through a file;
  # a watcher beside them takes it with xwd.
  export PRAVIK_SCREENSHOT_DIR="Z:$root/$artifacts" PRAVIK_ARTIFACTS="$root/$artifacts"
  export PRAVIK_GUI_TESTS="$root/$dir/tests/windows/pravik_windows_tests.exe"
  export PRAVIK_GUI_REPORT="Z:$root/$gui_report" PRAVIK_GUI_FILTER="${PRAVIK_WINDOWS_FILTER:-*}"
  timeout -k 10 600 xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    ( while :; do
        if [ -f "$PRAVIK_ARTIFACTS/window.request" ]; then
          rm -f "$PRAVIK_ARTIFACTS/window.request"
          xwd -root -silent | xwdtopnm 2>/dev/null | pnmtopng >"$PRAVIK_ARTIFACTS/window.png.part" &&
            mv "$PRAVIK_ARTIFACTS/window.png.part" "$PRAVIK_ARTIFACTS/window.png"
        fi
        sleep 0.2
      done ) &
    watcher=$!
    rc=0
    timeout -k 10 480 wine "$PRAVIK_GUI_TESTS" --gtest_output="xml:$PRAVIK_GUI_REPORT" \
      --gtest_filter="$PRAVIK_GUI_FILTER" || rc=$?
    kill "$watcher" 2>/dev/null || true
    # The wine server keeps this display: end it before Xvfb goes.
    timeout 30 wineserver -k 2>/dev/null || true
    exit "$rc"' || gui_rc=$?
  case "$gui_rc" in
    0|1) ;;
    124|137) echo "test-windows: the Windows program tests timed out" >&2 ;;
    *) echo "test-windows: the Windows program tests ended abnormally (exit $gui_rc)" >&2 ;;
  esac
  if [ -f "$artifacts/window.png" ]; then
    echo "test-windows: screenshot of the converter window: $artifacts/window.png"
  elif [ "$gui_rc" = 0 ]; then
    echo "test-windows: no screenshot of the converter window was taken" >&2
  fi
fi
stop_wine
if [ "$gui_rc" != 0 ] && [ "$rc" = 0 ]; then rc=$gui_rc; fi

# One closing line for whoever reads the log: gtest's summary counts of both runs.
passed=0 failed=0 skipped_all=0
for r in "$report" "$gui_report"; do
  if [ ! -f "$r" ]; then
    echo "test-windows: no test report $r written" >&2
    [ "$rc" != 0 ] || rc=1
    continue
  fi
  attr() { sed -n "s/.*<testsuites[^>]* $1=\"\([0-9]*\)\".*/\1/p" "$r" | head -1; }
  tests=$(attr tests) failures=$(attr failures) disabled=$(attr disabled)
  skipped=$(grep -c 'result="skipped"' "$r" || true)
  passed=$(( passed + tests - failures - disabled - skipped ))
  failed=$(( failed + failures ))
  skipped_all=$(( skipped_all + skipped ))
done
echo "wine: $passed passed, $failed failed, $skipped_all skipped"
step "done, exit $rc"
exit "$rc"
