#!/usr/bin/env bash
# Configures and builds into ${BUILD_DIR:-build}; extra arguments go to cmake's configure step.
# TARGET limits the build to one target (scripts/run.sh builds only the program).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja "$@" >/dev/null
cmake --build "$BUILD_DIR" -j "${JOBS:-2}" ${TARGET:+--target "$TARGET"}
