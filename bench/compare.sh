#!/usr/bin/env bash
# Whole batches against ImageMagick (mogrify) and libvips, on the same machine
# in one run, on large photo-like images written by ImageMagick.
#   bench/compare.sh [CASE...]     default: every case
# Cases: bmp-pxm pxm-bmp tga-pcx pcx-tga jpg-gif pxm-gif jpg-png png-jpg
# Prints seconds per tool and the ratio other/pravik (above 1: we are faster).
# pravik-convert runs with -j 1 and -j 2; ImageMagick with its default threads.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --bench >/dev/null
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j2 --target pravik-convert >/dev/null
pc=$PWD/build/release/cli/pravik-convert

files=${BENCH_FILES:-8}
size=${BENCH_SIZE:-3000x2000}
work=build/bench-compare
mkdir -p "$work/src"

# Sources: fractal plasma with grain, the same every run.
if [ ! -f "$work/src/.done-$files-$size" ]; then
  rm -rf "$work/src" && mkdir -p "$work/src"
  for i in $(seq 1 "$files"); do
    convert -seed "$i" -size "$size" plasma:fractal -blur 0x2 -attenuate 0.3 +noise Gaussian "$work/src/p$i.ppm"
    for ext in bmp tga pcx png; do convert "$work/src/p$i.ppm" "$work/src/p$i.$ext"; done
    convert "$work/src/p$i.ppm" -quality 90 "$work/src/p$i.jpg"
  done
  touch "$work/src/.done-$files-$size"
fi

# Best of BENCH_RUNS runs (default 2), so a stray cold cache does not decide.
seconds() {
  local best="" t0 t1 t
  for _ in $(seq 1 "${BENCH_RUNS:-2}"); do
    t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s.%N)
    t=$(echo "$t1 - $t0" | bc)
    if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" = 1 ]; then best=$t; fi
  done
  echo "$best"
}
ratio() { echo "scale=2; $1 / $2" | bc; }

run_case() {
  local from=$1 to=$2 pcfmt=$3 pcopts=$4 imopts=$5 vipsext=$6
  local out=$work/out-$from-$to
  rm -rf "$out" && mkdir -p "$out/pc1" "$out/pc2" "$out/im" "$out/vips"
  local srcs=("$work"/src/*."$from")
  local t1 t2 tim tv=""
  t1=$(seconds "$pc" -y -j 1 --quiet -f "$pcfmt" $pcopts -o "$out/pc1" "${srcs[@]}")
  t2=$(seconds "$pc" -y -j 2 --quiet -f "$pcfmt" $pcopts -o "$out/pc2" "${srcs[@]}")
  tim=$(seconds mogrify -path "$out/im" -format "$to" $imopts "${srcs[@]}")
  if [ -n "$vipsext" ]; then
    tv=$(seconds bash -c 'for f in "$@"; do b=$(basename "${f%.*}"); vips copy "$f" "'"$out/vips"'/$b.'"$vipsext"'"; done' _ "${srcs[@]}")
  fi
  printf '%-8s pravik -j1 %6.2f s  -j2 %6.2f s | ImageMagick %6.2f s (x%s) ' "$from-$to" "$t1" "$t2" "$tim" "$(ratio "$tim" "$t1")"
  if [ -n "$tv" ]; then printf '| libvips %6.2f s (x%s)' "$tv" "$(ratio "$tv" "$t1")"; fi
  printf '   [%d files of %s]\n' "${#srcs[@]}" "$size"
}

cases=("$@")
[ ${#cases[@]} -gt 0 ] || cases=(bmp-pxm pxm-bmp tga-pcx pcx-tga jpg-gif pxm-gif jpg-png png-jpg)
for c in "${cases[@]}"; do
  case "$c" in
    bmp-pxm) run_case bmp ppm PXM "" "" "" ;;
    pxm-bmp) run_case ppm bmp BMP "" "" "" ;;
    tga-pcx) run_case tga pcx PCX "" "" "" ;;
    pcx-tga) run_case pcx tga TGA "" "" "" ;;
    jpg-gif) run_case jpg gif GIF "" "" "gif" ;;
    pxm-gif) run_case ppm gif GIF "" "" "gif" ;;
    # zlib level 6 with filtered rows on every side (-q 40 maps to level 6 with
    # Paeth; ImageMagick cannot force Paeth on true colour, -quality 65 is
    # level 6 with adaptive filters; its -quality 64 writes unfiltered rows)
    jpg-png) run_case jpg png PNG "-q 40" "-quality 65" "png[compression=6,filter=paeth]" ;;
    png-jpg) run_case png jpg JPEG "-q 90" "-quality 90" "jpg[Q=90]" ;;
    *) echo "compare.sh: unknown case $c" >&2; exit 2 ;;
  esac
done
