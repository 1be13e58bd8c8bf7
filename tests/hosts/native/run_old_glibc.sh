#!/usr/bin/env bash
# The Linux Native API libraries loaded on an older system: a minimal
# Debian 11 root (glibc 2.31) per architecture, made with debootstrap from
# the package mirror and kept between runs outside the work tree, in which
# each library is loaded with ctypes as the platform loads it
# (load_library.py). The i386 root runs only where this machine runs 32-bit
# code. Where a root cannot be had (no mirror, not root), the step says why
# and counts as skipped, never as failed. The last line is
#   old glibc: N passed, M failed, K skipped
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
# shellcheck source=../../../cmake/windows/packages.sh
. "$ROOT/cmake/windows/packages.sh"

CACHE=${VTSD_OLD_ROOTS:-/var/cache/vtsd}
SUITE=bullseye
MIRROR=http://deb.debian.org/debian
PASSED=0 FAILED=0 SKIPPED=0

# Makes the root for one architecture once; later runs reuse it.
make_root() {
  local arch=$1 dir=$CACHE/debian11-$1
  [ -x "$dir/usr/bin/python3" ] && return 0
  ensure_packages debootstrap || return 1
  rm -rf "$dir.tmp"
  mkdir -p "$CACHE" || return 1
  log "making a Debian 11 root for $arch in $dir (once per machine)"
  if ! debootstrap --variant=minbase --include=python3 --arch="$arch" "$SUITE" "$dir.tmp" "$MIRROR" \
    >"$CACHE/debootstrap-$arch.log" 2>&1; then
    tail -n 3 "$CACHE/debootstrap-$arch.log" >&2
    rm -rf "$dir.tmp"
    return 1
  fi
  mv "$dir.tmp" "$dir"
}

load_in_root() {
  local arch=$1 library=$2 dir=$CACHE/debian11-$1
  if [ ! -f "$library" ]; then
    echo "FAIL $library was not built"
    FAILED=$((FAILED + 1))
    return
  fi
  if ! make_root "$arch"; then
    echo "skipped: no Debian 11 root for $arch (debootstrap from $MIRROR failed)"
    SKIPPED=$((SKIPPED + 1))
    return
  fi
  mkdir -p "$dir/tmp/vtsd"
  cp "$library" "$dir/tmp/vtsd/libVemlarTSDNative.so"
  cp "$ROOT/tests/hosts/native/load_library.py" "$dir/tmp/vtsd/"
  echo "Debian 11 ($arch): $(chroot "$dir" /bin/sh -c 'ldd --version | head -n 1')"
  if chroot "$dir" python3 /tmp/vtsd/load_library.py /tmp/vtsd/libVemlarTSDNative.so; then
    PASSED=$((PASSED + 1))
  else
    FAILED=$((FAILED + 1))
  fi
}

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: loading on Debian 11 needs root for debootstrap and chroot"
  SKIPPED=2
else
  load_in_root amd64 "$ROOT/build/linux/bin/libVemlarTSDNative.so"
  if probe_32bit; then
    load_in_root i386 "$ROOT/build/linux-i386/bin/libVemlarTSDNative.so"
  else
    echo "skipped: this machine cannot run 32-bit code, so the i386 library is not loaded on Debian 11"
    SKIPPED=$((SKIPPED + 1))
  fi
fi
echo "old glibc: $PASSED passed, $FAILED failed, $SKIPPED skipped"
[ "$FAILED" -eq 0 ]
