#!/usr/bin/env python3
"""The usage text, the man page and the published schemas describe the same program.

usage: docs_test.py BRZMQTT SOURCE_DIR

- every command of the command schema appears in --help and has an item in the man page;
- every switch of --help is in the man page;
- every command example (--help, the base HELP text, the man page) is valid under the command
  schema, and every event line of the man page under the event schema;
- commands with typical mistakes are refused by the command schema.
"""
import json
import os
import re
import subprocess
import sys

import jsonschema

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_event_lines import describe, reasons  # noqa: E402

brzmqtt, source = sys.argv[1], sys.argv[2]
failures = []


def load(name):
    with open(f"{source}/schema/{name}", encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    return jsonschema.Draft202012Validator(schema)


commands, events = load("commands.schema.json"), load("events.schema.json")


def check(validator, text, where):
    try:
        document = json.loads(text)
    except ValueError as e:
        failures.append(f"{where}: not JSON ({e}): {text}")
        return
    found = reasons(validator, document)
    if found:
        failures.append(f"{where}: {text}\n" + "\n".join("    " + describe(e) for e in found))


def run(args, stdin=""):
    done = subprocess.run([brzmqtt] + args, input=stdin, capture_output=True, text=True, timeout=30)
    if done.returncode != 0:
        failures.append(f"brzmqtt {' '.join(args)}: exit status {done.returncode}")
    return done.stdout


help_text = run(["--help"])
base_help = run([], "HELP\nEXIT\n")

with open(f"{source}/doc/brzmqtt.1", encoding="utf-8") as f:
    page = f.read()


def unescape(roff):
    return (roff.replace("\\-", "-").replace("\\(dq", '"').replace("\\(aq", "'").replace("\\e", "\\")
            .replace("\\(bu", "*"))


def section(name):
    match = re.search(rf"^\.SH {name}\n(.*?)(?=^\.SH )", page, re.M | re.S)
    return match.group(1) if match else ""


def examples(roff):
    """JSON lines of the .EX blocks; a line starting with a blank continues the previous one."""
    found = []
    for block in re.findall(r"^\.EX\n(.*?)^\.EE", roff, re.M | re.S):
        for line in unescape(block).splitlines():
            if line.startswith(" ") and found and not found[-1].endswith("__END__"):
                found[-1] += line
            elif line.startswith("{"):
                found.append(line)
            else:
                found.append("__END__")
    return [e for e in found if e != "__END__"]


# Every command, each under its protocol.
names = set()
for key, definition in commands.schema["$defs"].items():
    const = definition.get("properties", {}).get("message", {}).get("const")
    if const is None:
        continue
    mqtt = definition["properties"]["protocol"] == {"const": "mqtt"}
    names.add((const, mqtt))
assert len(names) >= 21, names
command_items = re.findall(r"^\.TP\n\.B (\S+)$", section("COMMANDS"), re.M)
for name, mqtt in sorted(names):
    pattern = f'"message":"{name}"' + (r'.*"protocol":"mqtt"' if mqtt else r'(?!.*"protocol":"mqtt")')
    if not re.search(pattern, help_text):
        failures.append(f"--help has no example of {name}{' (mqtt)' if mqtt else ''}")
    if name not in command_items:
        failures.append(f"the man page has no COMMANDS item for {name}")

# Every switch.
options = unescape(section("OPTIONS"))
switches = re.findall(r"^  (-{1,2}[a-z.]+)", help_text, re.M)
assert len(switches) >= 14, switches
for switch in switches:
    if not re.search(rf"^\.BI? {re.escape(switch)}\b", options, re.M):
        failures.append(f"the man page's OPTIONS do not describe {switch}")

# Every example.
help_examples = [line[line.index("{"):] for line in help_text.splitlines() if '{"message"' in line]
base_examples = [line[line.index('{"message"'):] for line in base_help.splitlines() if '{"message"' in line]
page_commands = examples(section("COMMANDS")) + [e for e in examples(section("EXAMPLES")) if e.startswith('{"message"')]
page_events = examples(section("EVENT LINES"))
for (where, found) in [("--help", help_examples), ("HELP", base_examples), ("man page", page_commands),
                       ("man page events", page_events)]:
    if len(found) < 5:
        failures.append(f"{where}: only {len(found)} examples found")
for example in help_examples:
    check(commands, example, "--help example")
for example in base_examples:
    check(commands, example, "HELP example")
for example in page_commands:
    check(commands, example, "man page example")
for line in page_events:
    check(events, line, "man page event line")

# The command schema is not a blank cheque: each of these is refused.
REFUSED = [
    '{"message":"publsh", "protocol":"mqtt", "params":{"topic":"t", "text":"x"}}',  # no such command
    '{"message":"subscribe", "params":{"topic":"t"}}',  # an MQTT command without its protocol
    '{"message":"open", "protocol":"mqtt", "params":{"url":"tcp://127.0.0.1:1883"}}',  # and the reverse
    '{"message":"publish", "protocol":"mqtt", "params":{"topic":"a/#", "text":"x"}}',  # wildcard topic
    '{"message":"publish", "protocol":"mqtt", "params":{"topic":"t", "text":"x", "qos":3}}',
    '{"message":"publish", "protocol":"mqtt", "params":{"topic":"t", "text":"x", "hex":"00"}}',  # two payloads
    '{"message":"publish", "protocol":"mqtt", "params":{"topic":"t", "hex":"0"}}',  # odd hex
    '{"message":"subscribe", "protocol":"mqtt", "params":{"topic":"a/#/b"}}',  # '#' not last
    '{"message":"session", "protocol":"mqtt", "params":{"clientid":"c", "cleansesion":false}}',  # typo member
    '{"message":"open", "params":{"url":"tcp://127.0.0.1:1883"}, "url":"tcp://other"}',  # params and top level
    '{"message":"wait", "params":{"count":1}}',  # which event
]
for text in REFUSED:
    if commands.is_valid(json.loads(text)):
        failures.append(f"the command schema accepts {text}")

print(f"{len(names)} commands, {len(switches)} switches, "
      f"{len(help_examples) + len(base_examples) + len(page_commands)} command examples, {len(page_events)} event lines")
for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
