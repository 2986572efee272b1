#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors, and runs the whole suite with ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build} scripts/build.sh -DBRZ_WERROR=ON "$@"
cd "${BUILD_DIR:-build}"
ctest -j "${CTEST_JOBS:-4}" --output-on-failure --timeout 300
