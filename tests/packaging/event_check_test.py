#!/usr/bin/env python3
"""The event-line check can fail: invalid lines are reported one by one, valid ones pass."""
import os
import subprocess
import sys
import tempfile

checker, schema = sys.argv[1], sys.argv[2]

VALID = [
    '{"event": "connect", "protocol": "mqtt", "params":{"session": "false", "reasoncode": 0, "reasonname": "Connection Accepted"}}',
    '{"event": "publish", "protocol": "mqtt", "params":{"topic": "a\\"b", "text": "x\\ny"}}',
    '{"event": "options", "params":{"watchdog": {"enabled": false, "interval": 10}}}',
]
INVALID = [
    # The session flag is a text in the base line, never a JSON literal.
    '{"event": "connect", "protocol": "mqtt", "params":{"session": false, "reasoncode": 0, "reasonname": "x"}}',
    # Packet identifiers are 16 bits.
    '{"event": "puback", "protocol": "mqtt", "params":{"packetidentifier": 65536, "reasoncode": 0, "reasonname": "Success"}}',
    # An event nobody prints.
    '{"event": "bogus"}',
    # Unescaped quote: the forged line the escaping prevents.
    '{"event": "publish", "protocol": "mqtt", "params":{"topic": "a"b", "text": "x"}}',
    # A member the base line does not have.
    '{"event": "connected", "code": 1}',
]

failures = []


def run(lines):
    with tempfile.NamedTemporaryFile("w", suffix=".log", delete=False) as f:
        f.write("\n".join(lines) + "\n")
    try:
        done = subprocess.run([sys.executable, checker, schema, f.name], capture_output=True, text=True, timeout=60)
    finally:
        os.unlink(f.name)
    return done.returncode, done.stdout + done.stderr


status, out = run(VALID)
if status != 0:
    failures.append(f"valid lines were refused (status {status}):\n{out}")

status, out = run(VALID + INVALID)
if status != 1:
    failures.append(f"invalid lines passed (status {status}):\n{out}")
reported = [l[len("invalid event line: "):] for l in out.splitlines() if l.startswith("invalid event line: ")]
if sorted(reported) != sorted(INVALID):
    failures.append("reported lines differ from the invalid ones:\n" + "\n".join(reported))
if "session" not in out or "65536" not in out:
    failures.append(f"the reasons do not name the offending members:\n{out}")

status, out = run([])
if status != 0:
    failures.append(f"an empty log failed (status {status}):\n{out}")

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
