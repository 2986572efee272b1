#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#
#   scripts/fuzz.sh [--smoke] [SECONDS] [TARGET...]
#
# SECONDS (or FUZZ_SECONDS) is the time per target, default 60; --smoke runs each for 10 s (for CI).
# TARGETs default to every fuzz_* target of the build. The committed seeds (fuzz/corpus/<target>/) are
# read only; new inputs go to a work corpus under FUZZ_WORK (default /tmp/brz-fuzz), crash and leak
# reproducers to FUZZ_WORK/artifacts/<target>/. Exits non-zero when any target crashes, leaks or times out.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)

SECONDS_PER_TARGET=${FUZZ_SECONDS:-60}
if [[ ${1:-} == "--smoke" ]]; then
  SECONDS_PER_TARGET=10
  shift
fi
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
  SECONDS_PER_TARGET=$1
  shift
fi
BUILD_DIR=${FUZZ_BUILD_DIR:-$ROOT/build-fuzz}
WORK=${FUZZ_WORK:-/tmp/brz-fuzz}
JOBS=${FUZZ_BUILD_JOBS:-2}
RSS_LIMIT_MB=${FUZZ_RSS_LIMIT_MB:-2048}
# Seconds one input may take before it counts as a hang.
INPUT_TIMEOUT=${FUZZ_INPUT_TIMEOUT:-10}

# Warnings as errors belong to the normal build; a clang-only warning must not stop the fuzzing.
CC=${CC:-clang} CXX=${CXX:-clang++} cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DBRZ_FUZZ=ON -DBRZ_TESTS=OFF \
  -DBRZ_BENCH=OFF -DBRZ_WERROR=OFF >/dev/null

if [[ $# -gt 0 ]]; then
  TARGETS=("$@")
else
  # Every executable target named fuzz_*, whether or not it is built yet.
  mapfile -t TARGETS < <(ninja -C "$BUILD_DIR" -t targets all | sed -n 's/^\(fuzz_[a-z0-9_]*\): .*/\1/p' | sort -u)
fi
if [[ ${#TARGETS[@]} -eq 0 ]]; then
  echo "fuzz.sh: no fuzz targets configured" >&2
  exit 1
fi
cmake --build "$BUILD_DIR" --target "${TARGETS[@]}" -j "$JOBS"

failed=()
for target in "${TARGETS[@]}"; do
  corpus="$WORK/corpus/$target"
  artifacts="$WORK/artifacts/$target"
  mkdir -p "$corpus" "$artifacts"
  seeds=()
  [[ -d $ROOT/fuzz/corpus/$target ]] && seeds=("$ROOT/fuzz/corpus/$target")
  log="$WORK/$target.log"
  echo "== $target: ${SECONDS_PER_TARGET}s (log $log)"
  set +e
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1} \
    "$BUILD_DIR/$target" -max_total_time="$SECONDS_PER_TARGET" -rss_limit_mb="$RSS_LIMIT_MB" \
    -timeout="$INPUT_TIMEOUT" -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" "${seeds[@]}" \
    >"$log" 2>&1
  rc=$?
  set -e
  grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$log" | tail -2 || true
  if [[ $rc -ne 0 ]]; then
    echo "!! $target failed (exit $rc); reproducers in $artifacts" >&2
    grep -E "ERROR: |SUMMARY: |==[0-9]+== ?ERROR|timeout|out-of-memory" "$log" | head -5 >&2 || true
    failed+=("$target")
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz.sh: failing targets: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz.sh: all ${#TARGETS[@]} targets clean"
