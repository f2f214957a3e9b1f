#!/usr/bin/env bash
# Sets up, builds and runs every test.
#   scripts/test.sh             Release build in build/release
#   scripts/test.sh --sanitize  ASan + UBSan build in build/sanitize
set -euo pipefail
cd "$(dirname "$0")/.."

type=Release
dir=build/release
for arg in "$@"; do
  case "$arg" in
    --sanitize) type=Sanitize; dir=build/sanitize ;;
    --debug) type=Debug; dir=build/debug ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

scripts/setup.sh
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE="$type" >/dev/null
cmake --build "$dir" -j2
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$dir" -j2 --output-on-failure --timeout 600
