#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour
# sanitizers) and runs each for the given number of seconds.
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]     targets: onrecv base64 envelope
#
# SECONDS defaults to 60. The corpus grows in $FUZZ_BUILD_DIR/corpus/<target>
# (seeded from fuzz/seeds/<target>); a crash leaves its input in
# $FUZZ_BUILD_DIR/artifacts and makes the script fail. FUZZ_JOBS=N runs
# the targets N at a time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
secs="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(onrecv base64 envelope)
build="${FUZZ_BUILD_DIR:-$root/build-fuzz}"

ORLIN_WITH_FUZZ=1 "$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORLIN_BUILD_FUZZ=ON -DORLIN_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DORLIN_BUILD_TESTS=OFF -DORLIN_BUILD_BENCH=OFF -DORLIN_BUILD_TOOLS=OFF -DORLIN_BUILD_WYLN=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null

mkdir -p "$build/artifacts"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export QT_LOGGING_RULES="*.debug=false"

run() {
  local t="$1" log="$build/fuzz_$1.log"
  mkdir -p "$build/corpus/$t"
  local seeds=()
  [ -d "$root/fuzz/seeds/$t" ] && seeds=("$root/fuzz/seeds/$t")
  if "$build/fuzz/fuzz_$t" -max_total_time="$secs" -dict="$root/fuzz/orlin.dict" -print_final_stats=1 \
      -rss_limit_mb=4096 -timeout=20 -max_len=65536 -artifact_prefix="$build/artifacts/$t-" \
      "$build/corpus/$t" "${seeds[@]}" >"$log" 2>&1; then
    local execs corpus
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    corpus=$(ls "$build/corpus/$t" | wc -l)
    echo "fuzz $t: ${execs:-?} executions in ${secs} s, corpus $corpus, no finding"
  else
    echo "fuzz $t: FINDING (see $log and $build/artifacts/$t-*)"
    grep -m1 -A12 "ERROR\|runtime error\|differ\|deadly signal" "$log" || tail -20 "$log"
    return 1
  fi
}

status=0
jobs="${FUZZ_JOBS:-1}"
if [ "$jobs" -gt 1 ]; then
  pids=()
  for t in "${targets[@]}"; do run "$t" & pids+=($!); done
  for p in "${pids[@]}"; do wait "$p" || status=1; done
else
  for t in "${targets[@]}"; do run "$t" || status=1; done
fi
exit $status
