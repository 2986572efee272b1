#!/usr/bin/env python3
"""Checks JSON event lines against the published event schema.

usage: check_event_lines.py SCHEMA LOG...

Every line of the logs is one line brzmqtt printed (the end-to-end tests log them). Every line must
be JSON; of each shape (member names, value types and the values that choose an event's form) the
first lines are checked against the schema. Exits 0 when all are valid, 1 after printing each
offending line with the reason.
"""
import json
import sys

import jsonschema


def reasons(validator, document):
    """The errors of the alternative meant for this line (the one whose event name matches)."""
    errors = list(validator.iter_errors(document))
    if not errors:
        return []
    chosen = [e for e in errors if e.validator != "anyOf"]
    for error in errors:
        if error.validator != "anyOf" or error.path:
            continue
        groups = {}
        for sub in error.context:
            groups.setdefault(sub.relative_schema_path[0], []).append(sub)
        # An alternative for another event fails on the event name itself.
        meant = [g for g in groups.values() if not any(list(e.absolute_path) == ["event"] for e in g)]
        if meant:
            chosen += min(meant, key=len)
        else:
            chosen.append(jsonschema.exceptions.best_match([error]))
    return chosen or errors


# Members whose values choose among alternatives of the schema: they are part of a line's shape.
CHOOSING = {"event", "protocol", "session", "result"}
# Lines of one shape differ only in free texts and numbers; past this many the rest add little and
# a flood test's tens of thousands of publish lines would take minutes.
PER_SHAPE = 300


def shape(value, key=None):
    """The line's structure: member names and value types, with the choosing members' values."""
    if isinstance(value, dict):
        return tuple((k, shape(v, k)) for k, v in value.items())
    if isinstance(value, list):
        return ("list", tuple(sorted({shape(v) for v in value}, key=repr)))
    if key in CHOOSING:
        return ("literal", repr(value))
    return type(value).__name__


def describe(error):
    where = "/".join(str(p) for p in error.absolute_path) or "(line)"
    return f"{where}: {error.message}"


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)

    lines = {}
    for path in argv[2:]:
        try:
            with open(path, encoding="utf-8", errors="surrogateescape") as f:
                for line in f:
                    line = line.rstrip("\n")
                    if line:
                        lines.setdefault(line, None)
        except FileNotFoundError:
            pass

    bad = 0
    checked = 0
    shapes = {}
    for line in lines:
        try:
            document = json.loads(line)
        except ValueError as e:
            found = [f"not JSON: {e}"]
        else:
            key = shape(document)
            shapes[key] = shapes.get(key, 0) + 1
            if shapes[key] > PER_SHAPE:
                continue
            found = [describe(e) for e in reasons(validator, document)]
        checked += 1
        if found:
            bad += 1
            print(f"invalid event line: {line}")
            for reason in found:
                print(f"    {reason}")
    print(f"{len(lines)} distinct event lines, {checked} checked ({PER_SHAPE} at most of each of {len(shapes)} shapes), "
          f"{bad} invalid")
    if not lines:
        print("(no event lines were logged: the end-to-end tests did not run in this session)")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
