#!/usr/bin/env bash
# The Windows DLLs under Wine: exports and imports of both DLLs, registration
# of the x86-64 DLL in a fresh 64-bit Wine prefix, the COM tests of the DLL,
# the JSON scenarios through vtsd-host.exe (shared ones and Windows-only ones),
# per-user registration, and unregistration. Ends with the line
#   windows: N passed, M failed
# Only processes started here are stopped, by their id (Xvfb) or by the
# prefix they belong to (this prefix's wineserver).
set -uo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver
# A fresh prefix every run; VTSD_WINE_PREFIX may name another one under build/.
PREFIX=${VTSD_WINE_PREFIX:-$ROOT/build/wine-test}
X64=$ROOT/build/win-x64/bin
X86=$ROOT/build/win-x86/bin
CLSID='{EC47D14C-FAE9-4E53-9420-9D021502E767}'
PACKAGES=(wine64 xvfb python3 binutils-mingw-w64)
# shellcheck source=../../cmake/windows/packages.sh
. "$ROOT/cmake/windows/packages.sh"

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok   $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; }
check() {
  local name=$1
  shift
  if "$@"; then pass "$name"; else fail "$name"; fi
}

# --- the binaries ------------------------------------------------------------

# The DLLs a Windows installation always has; anything else imported would
# have to be shipped beside the driver.
SYSTEM_DLLS="kernel32.dll user32.dll gdi32.dll advapi32.dll ole32.dll oleaut32.dll ws2_32.dll
  msvcrt.dll shell32.dll shlwapi.dll version.dll comctl32.dll comdlg32.dll"
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

wine() { "$WINE" "$@"; }
winpath() { printf 'Z:%s' "$(tr '/' '\\' <<<"$1")"; }

# The default value of a registry key, or nothing when the key is missing.
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
  wine regsvr32 /s /u /n /i:user "$dll" >/dev/null 2>&1 || { echo "  regsvr32 /u /i:user failed"; return 1; }
  unregistered_ok 'HKCU\Software\Classes' || { echo "  per-user keys left behind"; return 1; }
}

# Runs one GoogleTest program under Wine and counts its results.
run_gtest_program() {
  local exe=$1 out ok bad
  local pictures=""
  [ -n "${VTSD_SCREENSHOTS:-}" ] && pictures=$(winpath "$VTSD_SCREENSHOTS")
  out=$(VTSD_DLL=$(winpath "$X64/VemlarTSD.dll") VTSD_SCREENSHOTS=$pictures \
    timeout 300 "$WINE" "$exe" 2>&1)
  ok=$(grep -c '^\[       OK \]' <<<"$out")
  bad=$(grep -c '^\[  FAILED  \] [A-Za-z_0-9/]*\.[A-Za-z_0-9/]* (' <<<"$out")
  passed=$((passed + ok))
  failed=$((failed + bad))
  echo "$(basename "$exe"): $ok passed, $bad failed"
  if [ "$bad" -ne 0 ] || [ "$ok" -eq 0 ]; then
    echo "$out" | grep -vE '^\[ +(RUN|OK) ' | tail -n 60
    [ "$ok" -eq 0 ] && [ "$bad" -eq 0 ] && failed=$((failed + 1))
  fi
}

# The selection window's test program ran with the others above; with
# VTSD_SCREENSHOTS naming a directory it saved pictures of the window there,
# which become PNG files beside them.
run_selection_window_tests() {
  [ -n "${VTSD_SCREENSHOTS:-}" ] || return 0
  mkdir -p "$VTSD_SCREENSHOTS"
  python3 "$ROOT/tests/windows/bmp_to_png.py" "$VTSD_SCREENSHOTS" "$VTSD_SCREENSHOTS" ||
    fail "pictures of the selection window"
  rm -f "$VTSD_SCREENSHOTS"/*.bmp
}

# Counts the scenario results.
run_scenarios() {
  local sim=$ROOT/build/linux/bin/merxa-sim out last n_pass n_fail
  local args=(--host "$WINE $X64/vtsd-host.exe" --wine-paths --platform windows)
  [ -x "$sim" ] && args+=(--sim "$sim")
  out=$(python3 "$ROOT/tests/scenarios/run_scenarios.py" "${args[@]}" \
    "$ROOT"/tests/scenarios/*.jsonl "$ROOT"/tests/windows/scenarios/*.jsonl 2>&1)
  echo "$out"
  last=$(tail -n 1 <<<"$out")
  n_pass=$(sed -n 's/^scenarios: \([0-9]*\) passed.*/\1/p' <<<"$last")
  n_fail=$(sed -n 's/^scenarios: [0-9]* passed, \([0-9]*\) failed.*/\1/p' <<<"$last")
  if [ -z "$n_pass" ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + n_pass))
  failed=$((failed + n_fail))
}

# --- the run -----------------------------------------------------------------

started=$(date +%s)
ensure_packages "${PACKAGES[@]}"
"$ROOT/cmake/windows/build.sh" || { echo "windows: 0 passed, 1 failed"; exit 1; }
if [ ! -x "$ROOT/build/linux/bin/merxa-sim" ]; then
  log "building the Linux tree for the terminal simulator"
  "$ROOT/run.sh" build >/dev/null
fi

for arch in x86:i686 x64:x86_64; do
  dir=${arch%%:*}
  objdump=${arch##*:}-w64-mingw32-objdump
  check "exports of win-$dir/VemlarTSD.dll" exports_ok "$ROOT/build/win-$dir/bin/VemlarTSD.dll" "$objdump"
  check "imports of win-$dir/VemlarTSD.dll are Windows system DLLs" \
    imports_ok "$ROOT/build/win-$dir/bin/VemlarTSD.dll" "$objdump"
done

start_xvfb || { echo "windows: $passed passed, $((failed + 1)) failed"; exit 1; }
export WINEPREFIX=$PREFIX WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=C.UTF-8 LC_ALL=C.UTF-8
rm -rf "$PREFIX"
log "making a fresh 64-bit Wine prefix"
wine wineboot -i >/dev/null 2>&1
WINEPREFIX=$PREFIX "$WINESERVER" -w

DLL=$(winpath "$X64/VemlarTSD.dll")
check "regsvr32 registers the x86-64 DLL" wine regsvr32 /s "$DLL"
check "registration keys" registered_ok "$DLL"

log "GoogleTest programs of the Windows build"
if [ -n "${VTSD_SCREENSHOTS:-}" ]; then
  mkdir -p "$VTSD_SCREENSHOTS"
  # No window manager runs under Xvfb: Wine draws the title bars itself only
  # when told to, and the pictures should show the captions.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
fi
for exe in "$X64"/*_tests.exe; do
  [ -f "$exe" ] && run_gtest_program "$exe"
done
log "the selection window"
run_selection_window_tests
log "scenarios through vtsd-host.exe"
run_scenarios
log "fault matrix of UploadTable and DownloadTable through vtsd-host.exe"
check "fault matrix of UploadTable and DownloadTable through the x86-64 DLL" \
  python3 "$ROOT/tests/hardening/host_fault_matrix.py" --host "$WINE $X64/vtsd-host.exe" --wine-paths \
  --platform windows --sim "$ROOT/build/linux/bin/merxa-sim" --faults "${VTSD_WINE_FAULTS:-close,stall,garbage}" \
  --sample "stall=${VTSD_WINE_STALL_STEP:-4}"

check "per-user registration through regsvr32 /i:user" per_user_ok "$DLL"
check "regsvr32 /u unregisters the DLL" wine regsvr32 /s /u "$DLL"
check "registration keys are gone" unregistered_ok HKCR

echo "Windows tests took $(($(date +%s) - started)) s"
echo "windows: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
