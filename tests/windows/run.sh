#!/usr/bin/env bash
# The Windows DLLs under Wine: exports and imports of both DLLs; then, in one
# fresh 64-bit Wine prefix, each DLL registered through the registry view of
# its own bitness (both side by side, as on a 64-bit Windows with both 1C
# clients), its COM tests and selection window tests, the JSON scenarios
# through the vtsd-host.exe of the same bitness (shared ones and
# Windows-only ones), the sampled fault matrix, per-user registration, and
# unregistration. The x86 DLL runs only where this machine can execute 32-bit
# code (probed first, said in one line); elsewhere its part is skipped.
# Ends with one line per DLL and a total:
#   windows x86: N passed, M failed, K skipped
#   windows x64: N passed, M failed, K skipped
#   windows: N passed, M failed, K skipped
# VTSD_WINE_SCENARIO_RUNS=N runs the scenarios N times over on each DLL.
# Only processes started here are stopped, by their id (Xvfb) or by the
# prefix they belong to (this prefix's wineserver).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WINE64=/usr/lib/wine/wine64
WINE32=/usr/lib/wine/wine
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
# A fresh prefix every run; VTSD_WINE_PREFIX may name another one under build/.
PREFIX=${VTSD_WINE_PREFIX:-$ROOT/build/wine-test}
CLSID='{EC47D14C-FAE9-4E53-9420-9D021502E767}'
PACKAGES=(wine64 xvfb python3 binutils-mingw-w64)
SCENARIO_RUNS=${VTSD_WINE_SCENARIO_RUNS:-1}
# shellcheck source=../../cmake/windows/packages.sh
. "$ROOT/cmake/windows/packages.sh"

# Results per DLL: ARCH is the one being tested (x86 or x64).
declare -A PASSED=([x86]=0 [x64]=0) FAILED=([x86]=0 [x64]=0) SKIPPED=([x86]=0 [x64]=0)
ARCH=x64
pass() { PASSED[$ARCH]=$((PASSED[$ARCH] + ${2:-1})); echo "ok   [$ARCH] $1"; }
fail() { FAILED[$ARCH]=$((FAILED[$ARCH] + ${2:-1})); echo "FAIL [$ARCH] $1"; }
skip() { SKIPPED[$ARCH]=$((SKIPPED[$ARCH] + ${2:-1})); echo "skip [$ARCH] $1"; }
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

# --- the binaries ------------------------------------------------------------

# The DLLs a Windows installation always has; anything else imported would
# have to be shipped beside the driver.
SYSTEM_DLLS="kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll oleaut32.dll ws2_32.dll
  msvcrt.dll shell32.dll shlwapi.dll version.dll comctl32.dll comdlg32.dll bcrypt.dll"
ENTRY_POINTS="DllCanUnloadNow DllGetClassObject DllInstall DllRegisterServer DllUnregisterServer"

exports_ok() {
  local dll=$1 objdump=$2 table
  table=$("$objdump" -p "$dll") || return 1
  for e in $ENTRY_POINTS; do
    grep -qE "^\s+\[ *[0-9]+\] $e\$" <<<"$table" || { echo "  $dll does not export $e"; return 1; }
  done
  if grep -E '^\s+\[ *[0-9]+\] Dll' <<<"$table" | grep -q '@'; then
    echo "  $dll exports decorated names"
    return 1
  fi
}

NATIVE_EXPORTS="DestroyObject GetAttachType GetClassNames GetClassObject SetPlatformCapabilities"
native_exports_ok() {
  local dll=$1 objdump=$2 names
  names=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^\s*\[ *[0-9]*\] \(.*\)$/\1/p' | sort | tr '\n' ' ' | sed 's/ $//')
  [ "$names" = "$NATIVE_EXPORTS" ] || { echo "  $dll exports: $names"; return 1; }
}

imports_ok() {
  local dll=$1 objdump=$2 name ok=0
  for name in $("$objdump" -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z'); do
    if ! grep -qw -- "$name" <<<"$SYSTEM_DLLS"; then
      echo "  $dll imports $name"
      ok=1
    fi
  done
  return $ok
}

# --- Wine --------------------------------------------------------------------

XVFB_PID=""
cleanup() {
  if [ -d "$PREFIX" ]; then
    # Ends this prefix's wineserver (and with it any process left in it).
    WINEPREFIX=$PREFIX "$WINESERVER" -k >/dev/null 2>&1 || true
  fi
  if [ -n "$XVFB_PID" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
  fi
}
trap cleanup EXIT

start_xvfb() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      kill -0 "$XVFB_PID" 2>/dev/null || break
      sleep 0.1
    done
    if kill -0 "$XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=":$n"
      return 0
    fi
    wait "$XVFB_PID" 2>/dev/null
    XVFB_PID=""
  done
  echo "no free X display for Xvfb" >&2
  return 1
}

# Wine's loader and the build directory of the DLL being tested.
wine() { if [ "$ARCH" = x86 ]; then "$WINE32" "$@"; else "$WINE64" "$@"; fi; }
bin_dir() { if [ "$ARCH" = x86 ]; then echo "$ROOT/build/win-x86/bin"; else echo "$ROOT/build/win-x64/bin"; fi; }
winpath() { printf 'Z:%s' "$(tr '/' '\\' <<<"$1")"; }

# wine32 comes from Debian's i386 architecture.
ensure_wine32() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    log "adding the i386 architecture for wine32"
    as_root dpkg --add-architecture i386
  fi
  ensure_packages wine32:i386
  [ -x "$WINE32" ]
}

# The default value of a registry key, or nothing when the key is missing.
# The reg.exe of the DLL's bitness reads the registry view of that bitness.
reg_default() {
  wine reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^\s*(Default)\s*REG_SZ\s*//p'
}
reg_missing() { ! wine reg query "$1" >/dev/null 2>&1; }

registered_ok() {
  local dll_path=$1
  [ "$(reg_default "HKCR\\CLSID\\$CLSID")" = VemlarTSD ] || { echo "  class key"; return 1; }
  [ "$(reg_default "HKCR\\CLSID\\$CLSID\\InprocServer32")" = "$dll_path" ] ||
    { echo "  InprocServer32 is $(reg_default "HKCR\\CLSID\\$CLSID\\InprocServer32")"; return 1; }
  [ "$(reg_default "HKCR\\CLSID\\$CLSID\\ProgID")" = AddIn.VemlarTSD ] || { echo "  ProgID"; return 1; }
  [ "$(reg_default 'HKCR\AddIn.VemlarTSD')" = VemlarTSD ] || { echo "  ProgID key"; return 1; }
  [ "$(reg_default 'HKCR\AddIn.VemlarTSD\Clsid')" = "$CLSID" ] || { echo "  ProgID class"; return 1; }
  if wine reg query "HKCR\\CLSID\\$CLSID\\InprocServer32" /v ThreadingModel >/dev/null 2>&1; then
    echo "  a threading model is registered"
    return 1
  fi
}

unregistered_ok() {
  local root=$1
  reg_missing "$root\\CLSID\\$CLSID" && reg_missing "$root\\AddIn.VemlarTSD"
}

per_user_ok() {
  local dll=$1
  wine regsvr32 /s /n /i:user "$dll" >/dev/null 2>&1 || { echo "  regsvr32 /i:user failed"; return 1; }
  [ "$(reg_default 'HKCU\Software\Classes\AddIn.VemlarTSD\Clsid')" = "$CLSID" ] ||
    { echo "  no per-user ProgID key"; return 1; }
  [ "$(reg_default "HKCU\\Software\\Classes\\CLSID\\$CLSID\\InprocServer32")" = "$dll" ] ||
    { echo "  the per-user class names another DLL"; return 1; }
  wine regsvr32 /s /u /n /i:user "$dll" >/dev/null 2>&1 || { echo "  regsvr32 /u /i:user failed"; return 1; }
  unregistered_ok 'HKCU\Software\Classes' || { echo "  per-user keys left behind"; return 1; }
}

# Runs one GoogleTest program under Wine and counts its results.
run_gtest_program() {
  local exe=$1 out ok bad
  local pictures=""
  [ -n "${VTSD_SCREENSHOTS:-}" ] && [ "$ARCH" = x64 ] && pictures=$(winpath "$VTSD_SCREENSHOTS")
  out=$(VTSD_DLL=$(winpath "$(bin_dir)/VemlarTSD.dll") VTSD_SCREENSHOTS=$pictures \
    timeout 300 "$(wine_loader)" "$exe" 2>&1)
  ok=$(grep -c '^\[       OK \]' <<<"$out")
  bad=$(grep -c '^\[  FAILED  \] [A-Za-z_0-9/]*\.[A-Za-z_0-9/]* (' <<<"$out")
  echo "$(basename "$exe"): $ok passed, $bad failed"
  [ "$ok" -gt 0 ] && pass "$(basename "$exe") cases" "$ok"
  [ "$bad" -gt 0 ] && fail "$(basename "$exe") cases" "$bad"
  if [ "$bad" -ne 0 ] || [ "$ok" -eq 0 ]; then
    echo "$out" | grep -vE '^\[ +(RUN|OK) ' | tail -n 60
    [ "$ok" -eq 0 ] && [ "$bad" -eq 0 ] && fail "$(basename "$exe") ran no test"
  fi
}
wine_loader() { if [ "$ARCH" = x86 ]; then echo "$WINE32"; else echo "$WINE64"; fi; }

# The selection window's test program ran with the others above; with
# VTSD_SCREENSHOTS naming a directory it saved pictures of the window there,
# which become PNG files beside them.
run_selection_window_tests() {
  [ -n "${VTSD_SCREENSHOTS:-}" ] && [ "$ARCH" = x64 ] || return 0
  mkdir -p "$VTSD_SCREENSHOTS"
  python3 "$ROOT/tests/windows/bmp_to_png.py" "$VTSD_SCREENSHOTS" "$VTSD_SCREENSHOTS" ||
    fail "pictures of the selection window"
  rm -f "$VTSD_SCREENSHOTS"/*.bmp
}

SCENARIOS=("$ROOT"/tests/scenarios/*.jsonl "$ROOT"/tests/windows/scenarios/*.jsonl)

# Runs every scenario through the vtsd-host.exe of the DLL's bitness and
# counts the results: through the registered COM server, or with "native"
# through VemlarTSDNative.dll loaded as the 1C platform loads it.
run_scenarios() {
  local run=$1 technology=${2:-com} sim=$ROOT/build/linux/bin/merxa-sim out last n_pass n_fail
  local host="$(wine_loader) $(bin_dir)/vtsd-host.exe"
  # The runner splits the command the shell's way: the Windows path goes in
  # single quotes, so that its backslashes stay.
  [ "$technology" = native ] && host+=" --native '$(winpath "$(bin_dir)/VemlarTSDNative.dll")'"
  local args=(--host "$host" --wine-paths --platform windows --technology "$technology")
  [ -x "$sim" ] && args+=(--sim "$sim")
  out=$(python3 "$ROOT/tests/scenarios/run_scenarios.py" "${args[@]}" "${SCENARIOS[@]}" 2>&1)
  echo "$out"
  last=$(tail -n 1 <<<"$out")
  n_pass=$(sed -n 's/^scenarios: \([0-9]*\) passed.*/\1/p' <<<"$last")
  n_fail=$(sed -n 's/^scenarios: [0-9]* passed, \([0-9]*\) failed.*/\1/p' <<<"$last")
  if [ -z "$n_pass" ]; then
    fail "$technology scenarios, run $run: the runner gave no result"
    return
  fi
  [ "$n_pass" -gt 0 ] && pass "$technology scenarios, run $run" "$n_pass"
  [ "$n_fail" -gt 0 ] && fail "$technology scenarios, run $run" "$n_fail"
}

# Everything that runs in the DLL after both are registered: the GoogleTest
# programs, the scenarios, the sampled fault matrix.
run_dll_tests() {
  local dir run
  dir=$(bin_dir)
  log "[$ARCH] GoogleTest programs of the Windows build"
  for exe in "$dir"/*_tests.exe; do
    [ -f "$exe" ] && run_gtest_program "$exe"
  done
  run_selection_window_tests
  for run in $(seq "$SCENARIO_RUNS"); do
    log "[$ARCH] scenarios through vtsd-host.exe, run $run of $SCENARIO_RUNS"
    run_scenarios "$run"
    log "[$ARCH] scenarios through vtsd-host.exe --native VemlarTSDNative.dll, run $run of $SCENARIO_RUNS"
    run_scenarios "$run" native
  done
  log "[$ARCH] fault matrix of UploadTable and DownloadTable through vtsd-host.exe"
  # Every fault kind, sampled: the Linux matrix tries every request. A late
  # reply costs the driver's whole exchange limit (half a minute) per point.
  # The x86 DLL runs the same driver logic; its sample is sparser.
  local sampled=sparse
  [ "$ARCH" = x64 ] && sampled=dense
  check "fault matrix of UploadTable and DownloadTable" \
    python3 "$ROOT/tests/hardening/host_fault_matrix.py" --host "$(wine_loader) $dir/vtsd-host.exe" \
    --wine-paths --platform windows --sim "$ROOT/build/linux/bin/merxa-sim" \
    --faults "${VTSD_WINE_FAULTS:-close,stall,garbage,zero,late}" --sampled "$sampled"
}

# What the x86 part would have run, counted as skipped.
skip_x86() {
  local reason=$1 n_programs n_scenarios
  n_programs=$(find "$ROOT/build/win-x86/bin" -maxdepth 1 -name '*_tests.exe' 2>/dev/null | wc -l)
  n_scenarios=$(( ${#SCENARIOS[@]} * SCENARIO_RUNS * 2 ))
  skip "registration through the 32-bit view ($reason)" 2
  skip "GoogleTest programs ($reason)" "$n_programs"
  skip "scenarios ($reason)" "$n_scenarios"
  skip "fault matrix ($reason)"
  skip "per-user registration and unregistration ($reason)" 3
}

result_lines() {
  local a
  for a in x86 x64; do
    echo "windows $a: ${PASSED[$a]} passed, ${FAILED[$a]} failed, ${SKIPPED[$a]} skipped"
  done
  echo "windows: $((PASSED[x86] + PASSED[x64])) passed, $((FAILED[x86] + FAILED[x64])) failed," \
    "$((SKIPPED[x86] + SKIPPED[x64])) skipped"
}

# --- the run -----------------------------------------------------------------

started=$(date +%s)
ensure_packages "${PACKAGES[@]}"
if probe_32bit; then
  echo "32-bit code: this machine runs it (an i386 program returned 42); the x86 DLL is tested too"
  RUN_X86=1
  ensure_wine32 || { echo "wine32 could not be installed"; RUN_X86=0; X86_REASON="no wine32"; }
else
  echo "32-bit code: this machine cannot run it (an i386 program did not return 42); the x86 DLL's tests are skipped"
  RUN_X86=0
  X86_REASON="this machine runs no 32-bit code"
fi
ARCHES=(x64)
[ "$RUN_X86" = 1 ] && ARCHES=(x86 x64)

if ! "$ROOT/cmake/windows/build.sh"; then
  ARCH=x64 fail "the Windows build"
  result_lines
  exit 1
fi
if [ ! -x "$ROOT/build/linux/bin/merxa-sim" ]; then
  log "building the Linux tree for the terminal simulator"
  "$ROOT/run.sh" build >/dev/null
fi

for ARCH in x86 x64; do
  objdump=$([ "$ARCH" = x86 ] && echo i686 || echo x86_64)-w64-mingw32-objdump
  check "exports of win-$ARCH/VemlarTSD.dll" exports_ok "$(bin_dir)/VemlarTSD.dll" "$objdump"
  check "imports of win-$ARCH/VemlarTSD.dll are Windows system DLLs" \
    imports_ok "$(bin_dir)/VemlarTSD.dll" "$objdump"
  check "win-$ARCH/VemlarTSDNative.dll exports the five Native API functions only" \
    native_exports_ok "$(bin_dir)/VemlarTSDNative.dll" "$objdump"
  check "imports of win-$ARCH/VemlarTSDNative.dll are Windows system DLLs" \
    imports_ok "$(bin_dir)/VemlarTSDNative.dll" "$objdump"
done

ARCH=x64
start_xvfb || { fail "no X display"; result_lines; exit 1; }
# A 64-bit prefix; with wine32 present it runs 32-bit programs too and keeps
# the 32-bit registry view beside the 64-bit one, as a 64-bit Windows does.
export WINEPREFIX=$PREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
rm -rf "$PREFIX"
log "making a fresh 64-bit Wine prefix"
"$WINE64" wineboot -i >/dev/null 2>&1
WINEPREFIX=$PREFIX "$WINESERVER" -w
if [ -n "${VTSD_SCREENSHOTS:-}" ]; then
  mkdir -p "$VTSD_SCREENSHOTS"
  # No window manager runs under Xvfb: Wine draws the title bars itself only
  # when told to, and the pictures should show the captions.
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
fi

# Both DLLs registered before either is used: each must be found through its
# own view while the other is registered too.
for ARCH in "${ARCHES[@]}"; do
  check "regsvr32 of this bitness registers the DLL" wine regsvr32 /s "$(winpath "$(bin_dir)/VemlarTSD.dll")"
done
for ARCH in "${ARCHES[@]}"; do
  check "registration keys in this bitness's registry view" \
    registered_ok "$(winpath "$(bin_dir)/VemlarTSD.dll")"
done

for ARCH in "${ARCHES[@]}"; do
  arch_started=$(date +%s)
  run_dll_tests
  echo "[$ARCH] the DLL's tests took $(($(date +%s) - arch_started)) s"
done

for ARCH in "${ARCHES[@]}"; do
  check "per-user registration through regsvr32 /i:user" per_user_ok "$(winpath "$(bin_dir)/VemlarTSD.dll")"
done
# The x86 DLL goes first: the x86-64 one, still registered, must still be
# found by its ProgID (the ProgID keys are shared by both views).
for ARCH in "${ARCHES[@]}"; do
  check "regsvr32 /u unregisters the DLL" wine regsvr32 /s /u "$(winpath "$(bin_dir)/VemlarTSD.dll")"
  check "the class is gone from this view" reg_missing "HKCR\\CLSID\\$CLSID"
  if [ "$ARCH" = x86 ]; then
    ARCH=x64 check "the x86-64 DLL is still registered under its ProgID" \
      registered_ok "$(winpath "$ROOT/build/win-x64/bin/VemlarTSD.dll")"
    ARCH=x86
  else
    check "registration keys are gone" unregistered_ok HKCR
  fi
done
ARCH=x86
[ "$RUN_X86" = 1 ] || skip_x86 "$X86_REASON"

echo "Windows tests took $(($(date +%s) - started)) s"
result_lines
[ $((FAILED[x86] + FAILED[x64])) -eq 0 ]
