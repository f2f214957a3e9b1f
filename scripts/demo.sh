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
build/release/cli/pravik-convert -y -o "$out" "${args[@]}" "${files[@]}" || true
ls "$out" | head -20
echo "demo: $(ls "$out" | wc -l) files in $out"
