#!/usr/bin/env python3
"""Checks the program's description of every record kind's fields against
doc/records.schema.json, field by field and order by order: each kind's keys
in the order of its `required` list, each value of the kind and nullability
the schema allows, and CSV's header row as the schema's columns.

  check_fields.py PRINT_FIELDS"""
import argparse
import subprocess
import sys

from run_case import SCHEMA, csv_columns, load_schema


def value_of(prop, defs):
    """(kind of value, nullable) of a schema property."""
    nullable = False
    if "oneOf" in prop:
        options = [o for o in prop["oneOf"] if o.get("type") != "null"]
        nullable = len(options) != len(prop["oneOf"])
        prop = options[0]
    if "$ref" in prop:
        name = prop["$ref"].rsplit("/", 1)[1]
        return {"source": "text", "offset": "unsigned", "u32": "unsigned", "i32": "signed",
                "guid": "guid", "timestamp": "timestamp", "time": "time"}[name], nullable
    if "const" in prop:
        return "name", nullable
    if "enum" in prop:
        values = [v for v in prop["enum"] if v is not None]
        nullable = nullable or len(values) != len(prop["enum"])
        return ("unsigned" if all(isinstance(v, int) for v in values) else "name"), nullable
    types = prop["type"] if isinstance(prop["type"], list) else [prop["type"]]
    nullable = nullable or "null" in types
    kind = [t for t in types if t != "null"][0]
    if kind == "string":
        return ("hex" if prop.get("pattern", "").startswith("^([0-9a-f]{2})*$")
                or prop.get("pattern", "").startswith("^[0-9a-f]{64}$") else "text"), nullable
    if kind == "array":
        return "text_list", nullable
    return {"integer": "unsigned", "boolean": "boolean"}[kind], nullable


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("print_fields")
    args = ap.parse_args()
    printed = subprocess.run([args.print_fields], stdout=subprocess.PIPE, text=True,
                             check=True).stdout.splitlines()
    program = {}
    for line in printed:
        kind, rest = line.split(" ", 1)
        if kind == "csv":
            csv_row = rest.rstrip("\r").split(",")
            continue
        key, value, *null = rest.split()
        program.setdefault(kind, []).append((key, value, bool(null)))
    schema = load_schema()
    defs = schema["$defs"]
    failures = []
    kinds = [d for d, v in defs.items() if "required" in v]
    if list(program) != kinds:
        failures.append(f"record kinds: the program has {list(program)}, the schema {kinds}")
    for kind in kinds:
        want = [(key, *value_of(defs[kind]["properties"][key], defs)) for key in defs[kind]["required"]]
        got = program.get(kind, [])
        for i in range(max(len(want), len(got))):
            w = want[i] if i < len(want) else None
            g = got[i] if i < len(got) else None
            if w != g:
                failures.append(f"{kind}, field {i + 1}: the program has {g}, the schema {w}")
    if csv_row != csv_columns():
        failures.append(f"CSV columns: the program has {csv_row}, the schema gives {csv_columns()}")
    print("\n".join(failures) if failures else f"every field of {len(kinds)} record kinds matches {SCHEMA}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
