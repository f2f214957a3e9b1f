#!/usr/bin/env bash
# Builds the codec libraries for the Windows cross-build from Debian's source
# packages, as static libraries with their headers, into a prefix outside the
# source tree:
#
#   cmake/windows-deps.sh [PREFIX]
#
# PREFIX defaults to $PRAVIK_WINDEPS_PREFIX, else $HOME/.cache/pravik-windeps (what
# cmake/PravikDeps.cmake looks in). zlib is not built here: it comes from
# libz-mingw-w64-dev. Needs what `scripts/setup.sh --windows` installs (mingw-w64,
# nasm, dpkg-dev and a deb-src entry).
#
# Idempotent: each library leaves a stamp naming its Debian version and a hash of
# its recipe, the toolchain file and the compiler; a library whose stamp matches
# is skipped, so a second run builds nothing.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
toolchain="$here/mingw-w64-x86_64.cmake"
prefix=${1:-${PRAVIK_WINDEPS_PREFIX:-$HOME/.cache/pravik-windeps}}
host=x86_64-w64-mingw32
jobs=2

# One line per library: name | Debian source package | build system | options.
# Adding a library is one line here. Only the library is built: no shared
# variant, no programs, tests or documentation.
recipes=(
  "lcms2|lcms2|autotools|--without-jpeg --without-tiff --without-zlib --without-pthreads"
  "libjpeg-turbo|libjpeg-turbo|cmake|-DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DWITH_JPEG8=OFF -DWITH_JPEG7=OFF -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DREQUIRE_SIMD=ON"
  "libpng|libpng1.6|cmake|-DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF"
  "openjpeg|openjpeg2|cmake|-DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF -DBUILD_DOC=OFF -DBUILD_JPIP=OFF"
)

log() { echo "windows-deps: $*"; }
die() { echo "windows-deps: $*" >&2; exit 1; }

command -v "$host-gcc-posix" >/dev/null || die "$host-gcc-posix missing: run scripts/setup.sh --windows"
command -v dpkg-source >/dev/null || die "dpkg-source missing: run scripts/setup.sh --windows"

mkdir -p "$prefix/stamps"
# Two builds sharing the cache must not install into it at the same time.
exec 9>"$prefix/.lock"
flock 9

# Whatever changes the output of every library: the toolchain file and the compiler.
toolchain_id=$( { cat "$toolchain"; "$host-gcc-posix" --version | head -1; } | sha256sum | cut -c1-16)

# Versions of a source package that the deb-src entries offer, newest first.
source_versions() {
  local versions v sorted=()
  versions=$(apt-cache showsrc --only-source "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -u)
  for v in $versions; do
    local i=0
    while [ "$i" -lt "${#sorted[@]}" ] && dpkg --compare-versions "${sorted[$i]}" ge "$v"; do
      i=$((i + 1))
    done
    sorted=("${sorted[@]:0:$i}" "$v" "${sorted[@]:$i}")
  done
  printf '%s\n' "${sorted[@]}"
}

# Unpacks source package $1 at version $2 into the current folder (patches applied).
fetch_source() {
  local apt_opts=(-qq)
  # As root apt wants to drop to _apt, which cannot write here.
  if [ "$(id -u)" = 0 ]; then apt_opts+=(-o APT::Sandbox::User=root); fi
  apt-get source "${apt_opts[@]}" "$1=$2" >fetch.log 2>&1
}

build_cmake() {  # src build options...
  local src=$1 build=$2; shift 2
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
        -DCMAKE_INSTALL_LIBDIR=lib "$@"
  cmake --build "$build" -j"$jobs"
  cmake --install "$build"
}

build_autotools() {  # src build options...
  local src=$1 build=$2; shift 2
  mkdir -p "$build"
  (cd "$build" && "$src/configure" --host="$host" --prefix="$prefix" \
     --disable-shared --enable-static CC="$host-gcc-posix" CXX="$host-g++-posix" \
     CFLAGS="-O2" "$@")
  # Library, headers and pkg-config file only: the top level also builds the
  # command-line utilities and the test bed.
  make -C "$build/src" -j"$jobs" install
  make -C "$build/include" install
  make -C "$build" install-pkgconfigDATA
}

for recipe in "${recipes[@]}"; do
  IFS='|' read -r name package kind options <<<"$recipe"
  recipe_id=$(printf '%s|%s' "$recipe" "$toolchain_id" | sha256sum | cut -c1-16)
  stamp="$prefix/stamps/$name"

  mapfile -t versions < <(source_versions "$package")
  [ "${#versions[@]}" -gt 0 ] && [ -n "${versions[0]}" ] ||
    die "no source package $package: is there a deb-src entry? run scripts/setup.sh --windows"
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "${versions[0]} $recipe_id" ]; then
    log "$name ${versions[0]} up to date"
    continue
  fi

  work=$(mktemp -d "${TMPDIR:-/tmp}/pravik-windeps-$name.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  cd "$work"
  # The newest version first; a mirror may list a version it does not serve yet.
  version=""
  for v in "${versions[@]}"; do
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$v $recipe_id" ]; then
      version=$v; break
    fi
    if fetch_source "$package" "$v"; then version=$v; break; fi
    log "$package $v could not be fetched, trying an older version"
  done
  [ -n "$version" ] || { cat fetch.log >&2; die "could not fetch the source package $package"; }
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version $recipe_id" ]; then
    log "$name $version up to date (newer ${versions[0]} not available)"
  else
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -1)
    log "building $name $version"
    start=$(date +%s)
    rm -f "$stamp"
    # shellcheck disable=SC2086 # options are words by design
    if ! "build_$kind" "$src" "$work/build" $options >"$work/build.log" 2>&1; then
      tail -40 "$work/build.log" >&2
      die "building $name $version failed (log above)"
    fi
    echo "$version $recipe_id" >"$stamp"
    log "$name $version built in $(( $(date +%s) - start )) s"
  fi
  cd /
  rm -rf "$work"
  trap - EXIT
done
log "all libraries in $prefix"
