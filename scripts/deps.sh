#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need; only missing ones.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libssl-dev zlib1g-dev openssl ca-certificates
  libgtest-dev libgmock-dev libbenchmark-dev
  mosquitto mosquitto-clients
  python3 python3-websockets python3-paho-mqtt
  tinyproxy microsocks dante-server
  python3-jsonschema  # event lines and examples checked against the published schemas
  groff man-db        # the man page is rendered with warnings on
  dpkg-dev            # dpkg-shlibdeps computes the Debian package's Depends
  file                # the packaged binary is checked to be stripped
  # the web console test: a real browser, headless, driven by selenium
  chromium chromium-driver python3-selenium
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
