#!/usr/bin/env bash
# The Native API library for Linux i386: probes whether this machine runs
# 32-bit code (says which in one line); where it does, installs the i386
# cross compiler and Debian's i386 builds of the libraries, builds
# build/linux-i386 (the library and an i386 vtsd-host), checks what the
# library exports and needs, and runs the shared scenarios and a sample of
# the host fault matrix through it. Where it cannot, the same checks are
# counted as skipped. The last line is
#   linux i386: N passed, M failed, K skipped
# With --build it only builds (cross-building needs no 32-bit execution).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../../.." && pwd)
BUILD=$ROOT/build/linux-i386
# shellcheck source=../../../cmake/windows/packages.sh
. "$ROOT/cmake/windows/packages.sh"

PASSED=0 FAILED=0 SKIPPED=0
SCENARIOS=("$ROOT"/tests/scenarios/*.jsonl)

result() {
  echo "linux i386: $PASSED passed, $FAILED failed, $SKIPPED skipped"
  [ "$FAILED" -eq 0 ]
}

# The cross compiler and the i386 libraries, then the build.
build() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture"
    as_root dpkg --add-architecture i386
    as_root apt-get update -qq
  fi
  ensure_packages crossbuild-essential-i386 libc6:i386 libstdc++6:i386 \
    libsqlite3-dev:i386 libpcre2-dev:i386 libpugixml-dev:i386 nlohmann-json3-dev \
    libx11-dev libxft-dev libx11-6:i386 libxft2:i386 libxtst6:i386 xvfb fonts-dejavu-core
  log "building the Linux i386 library and harness"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/toolchain-linux-i386.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVTSD_BUILD_TESTS=OFF -DVTSD_BUILD_BENCH=OFF >/dev/null &&
    cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target VemlarTSDNative vtsd-host
}

if [ "${1:-}" = --build ]; then
  build
  exit
fi

if ! probe_32bit; then
  echo "32-bit code: this machine cannot run it (an i386 program did not return 42); the i386 library's tests are skipped"
  SKIPPED=$((2 + ${#SCENARIOS[@]}))
  result
  exit
fi
echo "32-bit code: this machine runs it (an i386 program returned 42); the i386 library is tested"

if ! build; then
  FAILED=$((2 + ${#SCENARIOS[@]}))
  result
  exit
fi

if python3 "$ROOT/tests/hosts/native/check_library.py" "$BUILD/bin/libVemlarTSDNative.so"; then
  PASSED=$((PASSED + 1))
else
  FAILED=$((FAILED + 1))
fi

log "harness scenarios through the Native API library (Linux i386, its windows on Xvfb)"
out=$("$ROOT/tests/support/with_xvfb.sh" python3 "$ROOT/tests/scenarios/run_scenarios.py" \
  --host "$BUILD/bin/vtsd-host --native $BUILD/bin/libVemlarTSDNative.so" \
  --sim "$ROOT/build/linux/bin/merxa-sim" --technology native "${SCENARIOS[@]}" 2>&1)
echo "$out"
last=$(tail -n 1 <<<"$out")
n_pass=$(sed -n 's/^scenarios: \([0-9]*\) passed.*/\1/p' <<<"$last")
n_fail=$(sed -n 's/^scenarios: [0-9]* passed, \([0-9]*\) failed.*/\1/p' <<<"$last")
n_skip=$(sed -n 's/.* \([0-9]*\) skipped$/\1/p' <<<"$last")
if [ -z "$n_pass" ]; then
  FAILED=$((FAILED + ${#SCENARIOS[@]}))
else
  PASSED=$((PASSED + n_pass)) FAILED=$((FAILED + n_fail)) SKIPPED=$((SKIPPED + n_skip))
fi

# Every fault kind at a sample of points (the x86-64 library runs a denser
# sample, the in-process matrix every point), each retried on the same
# component object with the terminal's files compared by content.
log "host fault matrix through the Native API library (Linux i386, sampled)"
if "$ROOT/tests/support/with_xvfb.sh" python3 "$ROOT/tests/hardening/host_fault_matrix.py" \
  --host "$BUILD/bin/vtsd-host --native $BUILD/bin/libVemlarTSDNative.so" \
  --sim "$ROOT/build/linux/bin/merxa-sim" --platform linux \
  --sampled sparse; then
  PASSED=$((PASSED + 1))
else
  FAILED=$((FAILED + 1))
fi
result
