#!/usr/bin/env bash
# Installs what is missing, builds, starts a local mosquitto broker (TCP 1883, WebSocket 9001) when
# nothing listens there yet, and runs brzmqtt in the foreground; arguments go to brzmqtt.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
TARGET=brzmqtt scripts/build.sh >&2

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

BROKER_PID=""
if ! listening 1883 && ! listening 9001; then
  conf=$(mktemp /tmp/brzmqtt-mosquitto.XXXXXX.conf)
  chmod 644 "$conf"
  cat >"$conf" <<CONF
user root
allow_anonymous true
persistence false
listener 1883 127.0.0.1
listener 9001
protocol websockets
bind_interface lo
CONF
  mosquitto -c "$conf" >/tmp/brzmqtt-mosquitto.log 2>&1 &
  BROKER_PID=$!
  trap 'kill "$BROKER_PID" 2>/dev/null; rm -f "$conf"' EXIT
  for _ in $(seq 50); do listening 1883 && break; sleep 0.1; done
fi

echo 'hint: {"message":"open", "params":{"url":"tcp://127.0.0.1:1883"}}  (or ws://127.0.0.1:9001/mqtt; HELP lists the commands)' >&2
status=0
build/brzmqtt "$@" || status=$?
exit $status
