#!/usr/bin/env bash
# The test suite under the sanitizers, each in a build directory of its own:
#   asan: address + undefined behaviour (leak check on), in $ASAN_BUILD_DIR
#   tsan: thread,                                         in $TSAN_BUILD_DIR
#
#   scripts/sanitize.sh [--short|--full] [asan] [tsan]
#
# --short (the CI run): the library's unit tests, the 40000-message stress
#   run and the 1000-round Init/Exit/ReleaseInterface check; under tsan also
#   the stress run with ORLIN_TSAN_STRESS_MESSAGES (default 200000) and the
#   tools built with it: a whole print job end to end and the file fault test
#   (console, printer and plug-in each with their own threads).
# --full: every test of the project (transport plug-in over a real broker,
#   tools, end to end) and the 1000000-message stress run under both.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
mode=short
kinds=()
for a in "$@"; do
  case "$a" in
    --short) mode=short ;;
    --full) mode=full ;;
    asan|tsan) kinds+=("$a") ;;
    *) echo "usage: $0 [--short|--full] [asan] [tsan]" >&2; exit 2 ;;
  esac
done
[ ${#kinds[@]} -gt 0 ] || kinds=(asan tsan)

"$root/scripts/install-deps.sh"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

status=0
for kind in "${kinds[@]}"; do
  if [ "$kind" = asan ]; then
    build="${ASAN_BUILD_DIR:-$root/build-asan}"; flags="address,undefined"
  else
    build="${TSAN_BUILD_DIR:-$root/build-tsan}"; flags="thread"
  fi
  extra=(-DORLIN_BUILD_BENCH=OFF)
  if [ "$mode" = short ] && [ "$kind" = asan ]; then
    extra+=(-DORLIN_BUILD_TOOLS=OFF -DORLIN_BUILD_WYLN=OFF)
  else
    extra+=(-DORLIN_BUILD_TOOLS=ON -DORLIN_BUILD_WYLN=ON)
  fi
  echo "== $kind ($mode) in $build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORLIN_SANITIZE="$flags" "${extra[@]}" >/dev/null
  cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 || { tail -30 "$build/build.log"; exit 1; }
  cd "$build"
  if [ "$mode" = full ]; then
    ctest --output-on-failure -j"$(nproc)" --timeout 3600 || status=1
  else
    ctest --output-on-failure -j"$(nproc)" --timeout 900 -L unit || status=1
    if [ "$kind" = tsan ]; then
      ORLIN_STRESS_MESSAGES="${ORLIN_TSAN_STRESS_MESSAGES:-200000}" "$build/tests/bin/orlin_stress" || status=1
      ctest --output-on-failure --no-tests=error --timeout 900 -L 'e2e|file_faults' || status=1
    fi
  fi
  cd "$root"
done
exit $status
