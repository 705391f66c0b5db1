#!/usr/bin/env python3
"""Checks JSON summaries against the schema the program ships.

validate_run_summary.py SCHEMA FILE...  prints each fault and exits 1 when
there is one. Beyond the schema it checks what the schema cannot say: the
file is strict UTF-8 JSON without a key twice, and a {"base64": ...} stands
only for bytes that are not UTF-8 text.
"""
import base64
import json
import sys

try:
    import jsonschema
except ImportError:
    sys.exit("validate_run_summary: the Python module jsonschema is missing "
             "(Debian: python3-jsonschema)")


def no_duplicates(pairs):
    keys = [key for key, _ in pairs]
    duplicates = {key for key in keys if keys.count(key) > 1}
    if duplicates:
        raise ValueError(f"keys given twice: {sorted(duplicates)}")
    return dict(pairs)


def base64_faults(node, where):
    if isinstance(node, dict):
        if set(node) == {"base64"} and isinstance(node["base64"], str):
            raw = base64.b64decode(node["base64"], validate=True)
            try:
                raw.decode("utf-8")
                yield f"{where}: base64 for bytes that are UTF-8 text"
            except UnicodeDecodeError:
                pass
        for key, value in node.items():
            yield from base64_faults(value, f"{where}/{key}")
    elif isinstance(node, list):
        for index, value in enumerate(node):
            yield from base64_faults(value, f"{where}/{index}")


def main(schema_path, names):
    with open(schema_path, encoding="utf-8") as f:
        schema = json.load(f)
    jsonschema.Draft202012Validator.check_schema(schema)
    validator = jsonschema.Draft202012Validator(schema)
    faults = []
    for name in names:
        try:
            with open(name, "rb") as f:
                document = json.loads(f.read().decode("utf-8"), object_pairs_hook=no_duplicates)
        except (OSError, ValueError) as error:
            faults.append(f"{name}: {error}")
            continue
        for error in validator.iter_errors(document):
            path = "/".join(str(part) for part in error.absolute_path)
            faults.append(f"{name}: /{path}: {error.message}")
        faults.extend(f"{name}: {fault}" for fault in base64_faults(document, ""))
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit("usage: validate_run_summary.py SCHEMA FILE...")
    sys.exit(main(sys.argv[1], sys.argv[2:]))
