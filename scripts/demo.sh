#!/usr/bin/env bash
# Sets up, builds, and converts the sample images of ../shared/corpus with
# pravik-convert into build/demo-out (PNG by default; pass other options through,
# e.g. scripts/demo.sh -f BMP).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
generator=()
if command -v ninja >/dev/null; then generator=(-G Ninja); fi
cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j2

if [ ! -x build/release/cli/pravik-convert ]; then
  echo "demo: the command line pravik-convert is not built yet; the library and its"
  echo "demo: image-model tests are what exists, so they run instead."
  ctest --test-dir build/release -j2 --output-on-failure
  exit 0
fi

samples=../shared/corpus/pillow
out=build/demo-out
mkdir -p "$out"
args=("$@")
[ ${#args[@]} -gt 0 ] || args=(-f PNG)
shopt -s nullglob
files=("$samples"/*.bmp "$samples"/*.gif "$samples"/*.jpg "$samples"/*.png "$samples"/*.tga "$samples"/*.pcx "$samples"/*.ppm)
echo "demo: converting ${#files[@]} sample images into $out"
log=build/demo-convert.log
status=0
build/release/cli/pravik-convert -y -o "$out" "${args[@]}" "${files[@]}" 2>"$log" || status=$?
# One line per file that did not convert; show them grouped by reason.
if grep -q ': not an image file\|: could not be converted\|: skipped' "$log"; then
  echo "demo: files not converted, by reason:"
  grep -v '^pravik-convert: [0-9]* of ' "$log" | sed -n 's/^pravik-convert: [^ ]*: //p' |
    sed 's/^\(not an image file\|could not be converted\) [^(]*(\(.*\))$/\1 (\2)/' | sort | uniq -c | sort -rn | head -20
fi
grep '^pravik-convert: [0-9]* of ' "$log" || true
echo "demo: pravik-convert exited with $status (0: all converted, 1: some failed; full log: $log)"
ls "$out" | head -20
echo "demo: $(ls "$out" | wc -l) files in $out"
