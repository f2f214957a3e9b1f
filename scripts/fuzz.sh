#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs one (or all) for a while.
#   scripts/fuzz.sh [TARGET|all] [SECONDS]      e.g. scripts/fuzz.sh bmp 300
# New inputs collect in build/libfuzzer/work-<target>; crashes in
# build/libfuzzer/artifacts-<target>. Copy a crashing input to fuzz/corpus/<target>/
# so that the replay test keeps it fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-all}
seconds=${2:-120}
scripts/setup.sh >/dev/null
CC=clang CXX=clang++ cmake -S . -B build/libfuzzer -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPRAVIK_FUZZ=ON -DPRAVIK_TESTS=OFF >/dev/null
if [ "$target" = all ]; then
  targets=$(ls fuzz/*_fuzz.cpp | sed 's#fuzz/##; s#_fuzz.cpp##')
else
  targets=$target
fi
for t in $targets; do
  cmake --build build/libfuzzer -j2 --target "fuzz_$t" >/dev/null
  work=build/libfuzzer/work-$t
  art=build/libfuzzer/artifacts-$t
  mkdir -p "$work" "$art"
  echo "fuzz: $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
    build/libfuzzer/fuzz/fuzz_$t -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -max_len=1048576 \
      -artifact_prefix="$art/" -print_final_stats=1 "$work" fuzz/corpus/$t ../shared/corpus 2>&1 |
    grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' || true
  echo "fuzz: $t crashes: $(ls "$art" | wc -l)"
done
