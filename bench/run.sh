#!/usr/bin/env bash
# Whole-program benchmarks of brzmqtt against mosquitto_pub, mosquitto_sub and paho-mqtt through a
# local mosquitto broker. Builds the program into ${BUILD_DIR:-build} first (BENCH_NO_BUILD=1 skips
# that); arguments go to bench/whole_program.py (--repeat R, --smoke, --quick, --only P1,P3).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
if [[ -z "${BENCH_NO_BUILD:-}" ]]; then
  TARGET=brzmqtt BUILD_DIR="$BUILD_DIR" scripts/build.sh >&2
fi
# Debian's interpreter: it has python3-paho-mqtt (a python3 earlier on PATH may not).
exec /usr/bin/python3 bench/whole_program.py --brzmqtt "$BUILD_DIR/brzmqtt" "$@"
