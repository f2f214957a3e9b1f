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

# One line per library: name | Debian package | build system | files it must
# install | options. Adding a library is one line here. Only the library is built: no shared
# variant, no programs, tests or documentation. "copy" takes a header-only
# library from its installed -dev package (paths under /usr), so that the cross
# build finds it without seeing the rest of /usr/include.
recipes=(
  "lcms2|lcms2|autotools|lib/liblcms2.a include/lcms2.h|--without-jpeg --without-tiff --without-zlib --without-pthreads"
  "libjpeg-turbo|libjpeg-turbo|cmake|lib/libjpeg.a include/jpeglib.h include/jconfig.h|-DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DWITH_JPEG8=OFF -DWITH_JPEG7=OFF -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DREQUIRE_SIMD=ON"
  "libpng|libpng1.6|cmake|lib/libpng16.a include/png.h|-DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF"
  "openjpeg|openjpeg2|cmake|lib/libopenjp2.a include/openjpeg-2.5/openjpeg.h|-DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF -DBUILD_DOC=OFF -DBUILD_JPIP=OFF"
  "cli11|libcli11-dev|copy|include/CLI/CLI.hpp|include/CLI share/cmake/CLI11"
)

log() { echo "windows-deps: $*"; }
die() { echo "windows-deps: $*" >&2; exit 1; }

command -v "$host-gcc-posix" >/dev/null || die "$host-gcc-posix missing: run scripts/setup.sh --windows"
command -v dpkg-source >/dev/null || die "dpkg-source missing: run scripts/setup.sh --windows"

mkdir -p "$prefix/stamps"
# Two builds sharing the cache must not install into it at the same time.
exec 9>"$prefix/.lock"
flock 9

# Whatever changes the output of every library: this script, the toolchain file
# and the compiler.
toolchain_id=$( { cat "$here/windows-deps.sh" "$toolchain"; "$host-gcc-posix" --version | head -1; } | sha256sum | cut -c1-16)

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
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
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

copy_installed() {  # paths under /usr...
  local path
  for path in "$@"; do
    rm -rf "${prefix:?}/$path"
    mkdir -p "$(dirname "$prefix/$path")"
    cp -r "/usr/$path" "$prefix/$path"
  done
}

# True when the stamp names this version and recipe and the files are there.
is_current() {  # version
  local f
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$1 $recipe_id" ] || return 1
  # shellcheck disable=SC2086
  for f in $provides; do [ -e "$prefix/$f" ] || return 1; done
}

check_installed() {  # name files...
  local name=$1 f missing=(); shift
  for f in "$@"; do [ -e "$prefix/$f" ] || missing+=("$f"); done
  [ "${#missing[@]}" = 0 ] || die "$name installed no ${missing[*]} in $prefix"
}

for recipe in "${recipes[@]}"; do
  IFS='|' read -r name package kind provides options <<<"$recipe"
  recipe_id=$(printf '%s|%s' "$recipe" "$toolchain_id" | sha256sum | cut -c1-16)
  stamp="$prefix/stamps/$name"

  if [ "$kind" = copy ]; then
    version=$(dpkg-query -W -f='${Version}' "$package" 2>/dev/null) ||
      die "$package is not installed: run scripts/setup.sh --windows"
    if is_current "$version"; then
      log "$name $version up to date"
    else
      # shellcheck disable=SC2086 # options are words by design
      copy_installed $options
      # shellcheck disable=SC2086
      check_installed "$name" $provides
      echo "$version $recipe_id" >"$stamp"
      log "$name $version copied"
    fi
    continue
  fi

  mapfile -t versions < <(source_versions "$package")
  if [ -z "${versions[0]:-}" ]; then
    die "no source package $package: is there a deb-src entry? run scripts/setup.sh --windows"
  fi
  if is_current "${versions[0]}"; then
    log "$name ${versions[0]} up to date"
    continue
  fi

  work=$(mktemp -d "${TMPDIR:-/tmp}/pravik-windeps-$name.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  cd "$work"
  # The newest version first; a mirror may list a version it does not serve yet.
  version=""
  for v in "${versions[@]}"; do
    if is_current "$v"; then
      version=$v; break
    fi
    if fetch_source "$package" "$v"; then version=$v; break; fi
    log "$package $v could not be fetched, trying an older version"
  done
  [ -n "$version" ] || { cat fetch.log >&2; die "could not fetch the source package $package"; }
  if is_current "$version"; then
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
    # shellcheck disable=SC2086
    check_installed "$name" $provides
    echo "$version $recipe_id" >"$stamp"
    log "$name $version built in $(( $(date +%s) - start )) s"
  fi
  cd /
  rm -rf "$work"
  trap - EXIT
done
log "all libraries in $prefix"
