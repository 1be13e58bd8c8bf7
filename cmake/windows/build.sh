#!/usr/bin/env bash
# Cross-builds the Windows component and tools for x86 and x86-64:
#   build/win-x86/bin/VemlarTSD.dll, build/win-x64/bin/VemlarTSD.dll (+ vtsd-host.exe)
# SQLite, PCRE2 and pugixml are built from Debian's source packages into
# build/deps/<arch>/{include,lib} and linked statically. Everything built here is
# cached: a second run only rebuilds what changed in the project itself.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
DEPS=$ROOT/build/deps
SRC=$DEPS/src
LOGS=$DEPS/logs
JOBS=${JOBS:-$(nproc)}
PCRE2_VERSION=10.42-1

PACKAGES=(cmake ninja-build g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  binutils-mingw-w64 dpkg-dev tcl nlohmann-json3-dev make googletest)

# shellcheck source=packages.sh
. "$ROOT/cmake/windows/packages.sh"

# Runs a step quietly into a log file; on failure shows the log's tail.
quiet() {
  local name=$1
  shift
  mkdir -p "$LOGS"
  if ! "$@" >"$LOGS/$name.log" 2>&1; then
    log "$name failed; last lines of $LOGS/$name.log:"
    tail -n 40 "$LOGS/$name.log" >&2
    exit 1
  fi
}

# apt-get source needs deb-src entries; they are added next to the Debian
# sources already configured (deb822 .sources stanzas and one-line .list entries).
ensure_deb_src() {
  if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return 0
  fi
  log "adding deb-src entries for the Debian archives"
  local out=/etc/apt/sources.list.d/vtsd-deb-src.sources
  local tmp
  tmp=$(mktemp)
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    # Copy every stanza that names a Debian archive, as a deb-src stanza.
    awk 'BEGIN { RS=""; ORS="\n\n" }
         /URIs:[^\n]*debian/ && /Types:[^\n]*deb/ {
           sub(/Types:[^\n]*/, "Types: deb-src"); print }' "$f" >>"$tmp"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*debian.*\)$/deb-src \1/p' /etc/apt/sources.list >"$tmp.list"
    if [ -s "$tmp.list" ]; then as_root cp "$tmp.list" /etc/apt/sources.list.d/vtsd-deb-src.list; fi
    rm -f "$tmp.list"
  fi
  if [ -s "$tmp" ]; then as_root cp "$tmp" "$out"; fi
  rm -f "$tmp"
  as_root apt-get update -qq
}

# Downloads and unpacks one Debian source package into build/deps/src once.
fetch_source() {
  local pkg=$1 spec=$2
  if [ -f "$SRC/.$pkg.fetched" ]; then return 0; fi
  ensure_deb_src
  log "fetching the $pkg source package"
  mkdir -p "$SRC"
  rm -rf "${SRC:?}/$pkg"-[0-9]*
  (cd "$SRC" && quiet "fetch-$pkg" apt-get source -qq "$spec")
  touch "$SRC/.$pkg.fetched"
}

source_dir() {
  local d
  for d in "$SRC/$1"-[0-9]*; do
    [ -d "$d" ] && { echo "$d"; return 0; }
  done
  log "no unpacked source tree for $1 in $SRC"
  exit 1
}

# The single-file SQLite build is generated once on the build machine; each
# target compiles it.
prepare_sqlite_amalgamation() {
  local dir
  dir=$(source_dir sqlite3)
  if [ -f "$dir/sqlite3.c" ] && [ -f "$dir/sqlite3.h" ]; then return 0; fi
  log "generating sqlite3.c"
  (cd "$dir" && quiet sqlite3-configure ./configure && quiet sqlite3-amalgamation make -j "$JOBS" sqlite3.c)
}

build_sqlite() {
  local arch=$1 prefix=$DEPS/$1
  [ -f "$prefix/lib/libsqlite3.a" ] && [ -f "$prefix/.sqlite3.done" ] && return 0
  prepare_sqlite_amalgamation
  local dir work=$DEPS/$arch/build-sqlite3
  dir=$(source_dir sqlite3)
  log "building SQLite for $arch"
  mkdir -p "$work" "$prefix/lib" "$prefix/include"
  # Extension loading stays off: nothing may load code into the host through SQL.
  quiet "sqlite3-$arch" "$arch-w64-mingw32-gcc-posix" -O2 -c "$dir/sqlite3.c" -o "$work/sqlite3.o" \
    -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION=1 -DSQLITE_DEFAULT_FOREIGN_KEYS=0
  rm -f "$prefix/lib/libsqlite3.a"
  "$arch-w64-mingw32-ar" rcs "$prefix/lib/libsqlite3.a" "$work/sqlite3.o"
  cp "$dir/sqlite3.h" "$prefix/include/"
  [ -f "$dir/sqlite3ext.h" ] && cp "$dir/sqlite3ext.h" "$prefix/include/"
  touch "$prefix/.sqlite3.done"
}

# A CMake-built dependency: configure, build and install into the prefix.
build_cmake_dep() {
  local name=$1 arch=$2 lib=$3
  shift 3
  local prefix=$DEPS/$arch
  [ -f "$prefix/lib/$lib" ] && [ -f "$prefix/.$name.done" ] && return 0
  local dir work=$DEPS/$arch/build-$name
  dir=$(source_dir "$name")
  log "building $name for $arch"
  rm -rf "$work"
  quiet "$name-$arch-configure" cmake -S "$dir" -B "$work" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF "$@"
  quiet "$name-$arch-build" cmake --build "$work" -j "$JOBS"
  quiet "$name-$arch-install" cmake --install "$work"
  [ -f "$prefix/lib/$lib" ] || { log "$name for $arch did not produce lib/$lib"; exit 1; }
  touch "$prefix/.$name.done"
}

build_deps() {
  local arch=$1
  build_sqlite "$arch"
  build_cmake_dep pcre2 "$arch" libpcre2-8.a -DBUILD_STATIC_LIBS=ON -DPCRE2_BUILD_PCRE2_8=ON \
    -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2_32=OFF -DPCRE2_BUILD_PCRE2GREP=OFF \
    -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_JIT=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF \
    -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF
  build_cmake_dep pugixml "$arch" libpugixml.a -DPUGIXML_BUILD_TESTS=OFF
  # The JSON library is header-only; the host harness includes it.
  if [ ! -f "$DEPS/$arch/include/nlohmann/json.hpp" ]; then
    mkdir -p "$DEPS/$arch/include"
    cp -r /usr/include/nlohmann "$DEPS/$arch/include/"
  fi
}

build_project() {
  local arch=$1 dir=$2
  local bdir=$ROOT/build/$dir
  if [ ! -f "$bdir/CMakeCache.txt" ]; then
    log "configuring $dir"
    quiet "configure-$dir" cmake -S "$ROOT" -B "$bdir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-mingw-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DVTSD_DEPS_PREFIX="$DEPS/$arch"
  fi
  log "building $dir"
  cmake --build "$bdir" -j "$JOBS"
}

ensure_packages "${PACKAGES[@]}"
fetch_source sqlite3 sqlite3
fetch_source pcre2 "pcre2=$PCRE2_VERSION"
fetch_source pugixml pugixml
for arch in i686 x86_64; do build_deps "$arch"; done
build_project i686 win-x86
build_project x86_64 win-x64
