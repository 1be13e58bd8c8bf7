#!/usr/bin/env bash
# One entry point for developers and CI.
#   ./run.sh demo           a whole exchange against the terminal simulator
#   ./run.sh test           every test (Linux suites, harness scenarios, the Native API
#                           libraries, Windows DLLs under Wine)
#   ./run.sh build          the Linux tree only
#   ./run.sh build windows  the Windows DLLs (COM and Native API) and the Windows tools
#   ./run.sh build linux-i386  the Native API library for Linux i386 (cross-built)
#   ./run.sh bench          the benchmarks
#   ./run.sh fuzz [seconds] every fuzz target for that long (default 60 s each)
#   ./run.sh soak           the long soak: reconnect cycles and repeated uploads
#   ./run.sh package        dist/VemlarTSD-<version>.zip for 1C (builds the libraries first)
# Each command installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
JOBS=${JOBS:-$(nproc)}

LINUX_PACKAGES=(cmake ninja-build g++ pkg-config libsqlite3-dev libpcre2-dev libpugixml-dev libx11-dev libxft-dev
  nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev sqlite3 python3
  xvfb libxtst6 fonts-dejavu-core)

log() { printf '==> %s\n' "$*" >&2; }

# Installs the named Debian packages that are not installed yet.
ensure_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
}

build_linux() {
  ensure_packages "${LINUX_PACKAGES[@]}"
  cmake -S "$ROOT" -B "$ROOT/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$ROOT/build/linux" -j "$JOBS"
}

build_windows() {
  if [ -x "$ROOT/cmake/windows/build.sh" ]; then
    "$ROOT/cmake/windows/build.sh"
  else
    log "no Windows build in this tree yet"
  fi
}

test_linux() {
  build_linux
  log "Linux test suites"
  # No suite may reach the desktop's display: the dialog tests start an Xvfb
  # of their own.
  env -u DISPLAY ctest --test-dir "$ROOT/build/linux" --output-on-failure -j "$JOBS"
  if [ -d "$ROOT/tests/scenarios" ]; then
    log "harness scenarios (Linux)"
    python3 "$ROOT/tests/scenarios/run_scenarios.py" --host "$ROOT/build/linux/bin/vtsd-host" \
      --sim "$ROOT/build/linux/bin/merxa-sim"
    log "harness scenarios through the Native API library (Linux x86-64, its windows on Xvfb)"
    "$ROOT/tests/support/with_xvfb.sh" python3 "$ROOT/tests/scenarios/run_scenarios.py" \
      --host "$ROOT/build/linux/bin/vtsd-host --native $ROOT/build/linux/bin/libVemlarTSDNative.so" \
      --sim "$ROOT/build/linux/bin/merxa-sim" --technology native
    log "host fault matrix through the Native API library (Linux x86-64, sampled)"
    # Every fault kind at a sample of points, each retried on the same
    # component object, and the task file on two terminals in turn; the
    # in-process matrix tries every point.
    "$ROOT/tests/support/with_xvfb.sh" python3 "$ROOT/tests/hardening/host_fault_matrix.py" \
      --host "$ROOT/build/linux/bin/vtsd-host --native $ROOT/build/linux/bin/libVemlarTSDNative.so" \
      --sim "$ROOT/build/linux/bin/merxa-sim" --platform linux \
      --sampled dense --two-terminals
  fi
  log "the Native API library for Linux i386"
  "$ROOT/tests/hosts/native/run_i386.sh"
  log "the Linux Native API libraries loaded on an older glibc (Debian 11)"
  "$ROOT/tests/hosts/native/run_old_glibc.sh"
}

# The Linux suites again under AddressSanitizer and UndefinedBehaviorSanitizer;
# any report ends its test program with a failure.
SANITIZE_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
test_sanitizers() {
  ensure_packages "${LINUX_PACKAGES[@]}"
  cmake -S "$ROOT" -B "$ROOT/build/asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVTSD_BUILD_BENCH=OFF \
    -DVTSD_BUILD_NATIVE_LIBRARY=OFF \
    "-DCMAKE_C_FLAGS=$SANITIZE_FLAGS" "-DCMAKE_CXX_FLAGS=$SANITIZE_FLAGS" \
    "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" \
    "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
  cmake --build "$ROOT/build/asan" -j "$JOBS"
  log "Linux test suites under AddressSanitizer and UndefinedBehaviorSanitizer"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions=$ROOT/tests/support/lsan_suppressions.txt \
    ctest --test-dir "$ROOT/build/asan" --output-on-failure -j "$JOBS" --timeout 1500
}

# Every libFuzzer target for the given seconds from its seed corpus.
run_fuzz() {
  ensure_packages "${LINUX_PACKAGES[@]}" clang libclang-rt-14-dev
  log "fuzz targets, ${1}s each"
  "$ROOT/tests/fuzz/run_fuzz.sh" "$1"
}

test_windows() {
  if [ -x "$ROOT/tests/windows/run.sh" ]; then
    build_windows
    log "Windows tests under Wine"
    "$ROOT/tests/windows/run.sh"
  fi
}

# Prints the path of the zip it made; the build's own output goes to stderr.
make_package() {
  if ! build_linux >&2; then
    log "the Linux build failed: no package"
    return 1
  fi
  if ! "$ROOT/tests/hosts/native/run_i386.sh" --build >&2; then
    log "the Linux i386 build failed: no package"
    return 1
  fi
  if ! build_windows >&2; then
    log "the Windows build failed: no package"
    return 1
  fi
  python3 "$ROOT/tools/package/make_package.py" --root "$ROOT"
}

# Makes the package from the Windows build and checks the layout 1C loads.
test_package() {
  log "distribution package"
  python3 -m unittest discover -s "$ROOT/tests/package" -p 'test_*.py'
  local zip
  zip=$(make_package)
  python3 "$ROOT/tests/package/check_package.py" "$zip"
}

# The demo needs only the harness and the simulator.
run_demo() {
  ensure_packages "${LINUX_PACKAGES[@]}"
  cmake -S "$ROOT" -B "$ROOT/build/linux" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$ROOT/build/linux" -j "$JOBS" --target vtsd-host merxa-sim >&2
  python3 "$ROOT/tools/demo/demo.py" --bin "$ROOT/build/linux/bin"
}

run_bench() {
  build_linux
  for b in "$ROOT"/build/linux/bin/bench_*; do
    [ -x "$b" ] || continue
    log "$(basename "$b")"
    "$b"
  done
}

case "${1:-}" in
  demo) run_demo ;;
  test)
    test_linux
    test_sanitizers
    run_fuzz 10
    test_windows
    test_package
    ;;
  build)
    case "${2:-}" in
      windows) build_windows ;;
      linux-i386) "$ROOT/tests/hosts/native/run_i386.sh" --build ;;
      *) build_linux ;;
    esac
    ;;
  bench) run_bench ;;
  fuzz) run_fuzz "${2:-60}" ;;
  soak)
    build_linux
    VTSD_SOAK_CYCLES=1000 VTSD_SOAK_UPLOADS=200 VTSD_SOAK_ARTICLES=10000 \
      "$ROOT/build/linux/bin/hardening_soak"
    ;;
  package) make_package ;;
  *)
    sed -n '2,11p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
