#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the Windows cross-build
# need. Idempotent and non-interactive: packages already present are skipped, so
# a second run costs a dpkg query and nothing else.
#
#   scripts/setup.sh            native build + tests
#   scripts/setup.sh --windows  also mingw-w64, Wine and Xvfb for the Windows build
#   scripts/setup.sh --bench    also libvips and hyperfine for bench/compare.sh
set -euo pipefail

want_windows=0
want_bench=0
for arg in "$@"; do
  case "$arg" in
    --windows) want_windows=1 ;;
    --bench) want_bench=1 ;;
    *) echo "setup.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

native=(
  build-essential cmake ninja-build pkg-config python3 ccache
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  zlib1g-dev liblcms2-dev libjpeg62-turbo-dev libpng-dev libopenjp2-7-dev
  libcli11-dev
  # independent readers and writers for the interoperability tests
  imagemagick netpbm libtiff-tools giflib-tools poppler-utils ghostscript libopenjp2-tools
)
windows=(
  g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine xvfb xauth x11-apps
  dpkg-dev nasm
  # the extension's type library (widl), the installer, Wine's own fonts (title
  # bar glyphs, dialog text)
  mingw-w64-tools nsis fonts-wine
)

bench=(libvips-tools hyperfine bc)

pkgs=("${native[@]}")
if [ "$want_windows" = 1 ]; then pkgs+=("${windows[@]}"); fi
if [ "$want_bench" = 1 ]; then pkgs+=("${bench[@]}"); fi

missing=()
for p in "${pkgs[@]}"; do
  [[ "$p" == \#* ]] && continue
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

if [ "$want_windows" = 1 ]; then
  # The Windows dependency build fetches Debian source packages.
  if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
    elif grep -qs '^deb ' /etc/apt/sources.list; then
      sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
        $SUDO tee /etc/apt/sources.list.d/pravik-deb-src.list >/dev/null
    fi
    missing+=(__update__)
  fi
fi

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  real=()
  for p in "${missing[@]}"; do [ "$p" = __update__ ] || real+=("$p"); done
  if [ "${#real[@]}" -gt 0 ]; then
    $SUDO apt-get install -y -qq --no-install-recommends "${real[@]}" >/dev/null
  fi
fi
echo "setup: all packages present"
