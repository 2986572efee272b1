#!/usr/bin/env bash
# `cmake --install` into a DESTDIR and `cpack -G DEB`: the files laid out, the package's control
# fields, and the installed and the packaged binary answering --version and --help.
# usage: install_test.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

expected_files="./usr/bin/brzmqtt
./usr/share/brzmqtt/schema/commands.schema.json
./usr/share/brzmqtt/schema/events.schema.json
./usr/share/doc/brzmqtt/README.md
./usr/share/doc/brzmqtt/copyright
./usr/share/man/man1/brzmqtt.1"

# Checks that a brzmqtt binary answers --version and --help without a banner or a session.
check_binary() {  # label, path
  local label=$1 bin=$2 out err status
  # stdin stays open: a binary that started a session would wait for input until the time-out.
  status=0
  out=$(timeout 10 "$bin" --version 2>"$tmp/err" < <(sleep 20)) || status=$?
  err=$(cat "$tmp/err")
  [ "$status" = 0 ] || fail "$label --version: exit status $status"
  [ -z "$err" ] || fail "$label --version wrote to standard error: $err"
  [[ "$out" =~ ^brzmqtt\ ${version//./\\.}\ \(OpenSSL\ [0-9]+\.[0-9]+\.[0-9]+[a-z0-9.-]*,\ zlib\ [0-9]+\.[0-9]+(\.[0-9]+)*\)$ ]] ||
    fail "$label --version printed: $out"
  status=0
  out=$(timeout 10 "$bin" -server -server.ip 127.0.0.1 -server.port 1 --help 2>"$tmp/err" < <(sleep 20)) || status=$?
  err=$(cat "$tmp/err")
  [ "$status" = 0 ] || fail "$label --help: exit status $status"
  [ -z "$err" ] || fail "$label --help wrote to standard error: $err"
  [ "$(head -n 1 <<<"$out")" = "Usage: brzmqtt [SWITCH]..." ] || fail "$label --help first line: $(head -n 1 <<<"$out")"
  for word in -server.token -server.origin -server.cert -json -details -timestamps -errors -drain \
    '"message":"open"' '"message":"publish"' '"message":"wait"' 'Exit status'; do
    grep -qF -- "$word" <<<"$out" || fail "$label --help does not mention $word"
  done
  if grep -qE 'written by|Server Listening' <<<"$out"; then fail "$label --help printed the banner or started the server"; fi
}

# --- cmake --install into a DESTDIR
DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >"$tmp/install.log" || {
  cat "$tmp/install.log"
  fail "cmake --install failed"
}
files=$(cd "$tmp/root" && find . -type f -o -type l | LC_ALL=C sort)
[ "$files" = "$expected_files" ] || fail "installed files differ:"$'\n'"$files"
[ -x "$tmp/root/usr/bin/brzmqtt" ] || fail "usr/bin/brzmqtt is not executable"
check_binary installed "$tmp/root/usr/bin/brzmqtt"

# --- cpack -G DEB
if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  fail "cpack failed"
fi
arch=$(dpkg --print-architecture)
deb="$tmp/pkg/brzmqtt_${version}_${arch}.deb"
if [ ! -f "$deb" ]; then
  fail "no $(basename "$deb"); found: $(ls "$tmp/pkg")"
else
  field() { dpkg-deb -f "$deb" "$1"; }
  [ "$(field Package)" = brzmqtt ] || fail "Package: $(field Package)"
  [ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
  [ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
  [ "$(field Section)" = net ] || fail "Section: $(field Section)"
  [ -n "$(field Maintainer)" ] || fail "no Maintainer"
  [ "$(field Description | head -n 1)" = "console MQTT 3.1.1 and 5.0 client driven by JSON lines" ] ||
    fail "Description: $(field Description | head -n 1)"
  depends=$(field Depends)
  echo "Depends: $depends"
  # Computed from the binary's shared libraries, each with a minimum version.
  for lib in 'libc6' 'libssl3(t64)?' 'zlib1g' 'libstdc\+\+6'; do
    grep -qE -- "(^|, )$lib \(>= [^)]+\)(,|$)" <<<"$depends" || fail "Depends lacks $lib (>= ...): $depends"
  done
  contents=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | LC_ALL=C sort)
  [ "$contents" = "$expected_files" ] || fail "package files differ:"$'\n'"$contents"
  dpkg-deb -x "$deb" "$tmp/extracted"
  file "$tmp/extracted/usr/bin/brzmqtt" | grep -q ', stripped' || fail "the packaged binary is not stripped"
  check_binary packaged "$tmp/extracted/usr/bin/brzmqtt"
fi

[ "$failures" = 0 ] && echo "install layout, package and binaries checked"
exit $((failures > 0))
