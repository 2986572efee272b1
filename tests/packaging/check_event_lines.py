#!/usr/bin/env python3
"""Checks JSON event lines against the published event schema.

usage: check_event_lines.py SCHEMA LOG...

Every line of the logs is one line brzmqtt printed (the end-to-end tests log them). Exits 0 when
every distinct line is valid, 1 after printing each offending line with the reason.
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
    for line in lines:
        try:
            document = json.loads(line)
        except ValueError as e:
            found = [f"not JSON: {e}"]
        else:
            found = [describe(e) for e in reasons(validator, document)]
        if found:
            bad += 1
            print(f"invalid event line: {line}")
            for reason in found:
                print(f"    {reason}")
    print(f"{len(lines)} distinct event lines checked, {bad} invalid")
    if not lines:
        print("(no event lines were logged: the end-to-end tests did not run in this session)")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
