#!/usr/bin/env bash
# Builds the libFuzzer targets (build/fuzz, clang with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for the given seconds, starting
# from its seed corpus in tests/fuzz/corpus/<name>/. Findings stop the run
# with a failure; the executions and the coverage of each target are printed.
#   tests/fuzz/run_fuzz.sh [seconds per target]
# VTSD_FUZZ_TARGETS="article_import task_table" runs only the named targets.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
SECONDS_EACH=${1:-10}
BUILD="$ROOT/build/fuzz"
read -r -a TARGETS <<<"${VTSD_FUZZ_TARGETS:-reply_decoder article_import task_table sim_request settings terminal_files}"
FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g -O1"

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=None \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVTSD_BUILD_TESTS=OFF -DVTSD_BUILD_BENCH=OFF -DVTSD_BUILD_FUZZ=ON \
  "-DCMAKE_C_FLAGS=$FLAGS" "-DCMAKE_CXX_FLAGS=$FLAGS" \
  "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-$(nproc)}" --target "${TARGETS[@]/#/fuzz_}"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
summary=()
failed=0
for t in "${TARGETS[@]}"; do
  work="$BUILD/corpus/$t"
  mkdir -p "$work" "$BUILD/findings/$t"
  log="$BUILD/fuzz_$t.log"
  # Big inputs for the import targets (long attribute values), small ones
  # for the decoders, so the short runs stay short.
  max_len=4096
  extra=()
  case "$t" in
    article_import|task_table) max_len=65536 ;;
    # Database images: seeds of a few pages. One allocation of more than
    # 256 MB is a finding. (Long runs still find images of a few KB for which
    # SQLite allocates about 67 MB once while reading the schema before it
    # calls the file corrupt; that stays to be bounded, and the short runs
    # of ./run.sh test must not trip over it by chance.)
    terminal_files) max_len=16384 extra=(-malloc_limit_mb=256) ;;
  esac
  if "$BUILD/bin/fuzz_$t" "$work" "$ROOT/tests/fuzz/corpus/$t" -max_total_time="$SECONDS_EACH" \
      -max_len="$max_len" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$BUILD/findings/$t/" "${extra[@]}" >"$log" 2>&1; then
    status=held
  else
    status=FAILED
    failed=1
    tail -n 60 "$log" >&2
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n1 | cut -d' ' -f2)
  summary+=("$(printf '%-16s %-7s %12s %8s %8s' "$t" "$status" "${execs:-?}" "${cov:-?}" "${ft:-?}")")
done
printf '%-16s %-7s %12s %8s %8s\n' target result executions cov features
printf '%s\n' "${summary[@]}"
exit "$failed"
