#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs the whole suite with ctest.
# In CI (CI=true) or with --sanitizers it then runs the suite again under address+undefined
# sanitizers and the threaded tests under the thread sanitizer, and finishes with a fuzz smoke run.
set -euo pipefail
cd "$(dirname "$0")/.."

SANITIZERS=0
if [ "${CI:-}" = "true" ]; then SANITIZERS=1; fi
for arg in "$@"; do
  case "$arg" in
    --sanitizers) SANITIZERS=1 ;;
    --no-sanitizers) SANITIZERS=0 ;;
    *) echo "unknown argument: $arg" >&2; exit 2 ;;
  esac
done

scripts/deps.sh
JOBS=${JOBS:-2}
CTEST_JOBS=${CTEST_JOBS:-4}

run_suite() {  # build dir, ctest arguments...
  local dir=$1
  shift
  (cd "$dir" && ctest -j "$CTEST_JOBS" --output-on-failure --timeout 300 "$@")
}

# Sanitized programs run 5 to 15 times slower; a time-bounded end-to-end case that misses its
# window there gets up to two more runs (a sanitizer report fails every run alike).
SANITIZED_RETRY=(--repeat until-pass:3)

echo "== build (RelWithDebInfo, -Werror)"
BUILD_DIR=build JOBS=$JOBS scripts/build.sh -DBRZ_WERROR=ON
echo "== tests"
# End-to-end cases drive real brokers and peers within time windows; on a loaded machine one that
# misses its window gets one more run (its failure stays in the log).
run_suite build --repeat until-pass:2

if [ "$SANITIZERS" = 1 ]; then
  # Benchmarks are not built here; the normal build above already runs every end-to-end case. The
  # browser test only repeats there what the remote-control tests show under the sanitizers.
  echo "== address+undefined sanitizer build"
  BUILD_DIR=build-asan JOBS=$JOBS scripts/build.sh -DBRZ_WERROR=ON -DBRZ_SANITIZE=address -DBRZ_BENCH=OFF
  echo "== tests under address+undefined sanitizers"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan "${SANITIZED_RETRY[@]}" -E "${ASAN_EXCLUDE:-Load|packaging_|WebConsole}"

  echo "== thread sanitizer build"
  BUILD_DIR=build-tsan JOBS=$JOBS scripts/build.sh -DBRZ_WERROR=ON -DBRZ_SANITIZE=thread -DBRZ_BENCH=OFF
  echo "== tests under the thread sanitizer"
  # The program ends without joining the threads that serve its connections (by design), so
  # thread-leak reports at exit are not faults.
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:report_thread_leaks=0 \
    run_suite build-tsan "${SANITIZED_RETRY[@]}" -E "${TSAN_EXCLUDE:-Load|packaging_|WebConsole}"

  if [ -x scripts/fuzz.sh ]; then
    echo "== fuzz smoke run"
    scripts/fuzz.sh --smoke
  fi
fi
