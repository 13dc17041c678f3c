#!/usr/bin/env python3
"""Checks a JSON document against a JSON Schema, offline.

    validate_json.py SCHEMA FILE      (FILE "-" reads standard input)

Exit status 0 when the document is valid; 1 with the first error on stderr when it is not;
2 when the schema or the file cannot be read or parsed. Needs python3-jsonschema.
"""

import json
import sys

try:
    import jsonschema
except ImportError:
    sys.exit("validate_json.py: python3-jsonschema is not installed (scripts/install-deps.sh)")


def load(path):
    try:
        if path == "-":
            return json.load(sys.stdin)
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as error:
        print("%s: %s" % (path, error), file=sys.stderr)
        sys.exit(2)


def where(error):
    return "/" + "/".join(str(part) for part in error.absolute_path)


def document_order(error):
    return [(0, part, "") if isinstance(part, int) else (1, 0, str(part)) for part in error.absolute_path]


def main():
    if len(sys.argv) != 3:
        print("usage: validate_json.py SCHEMA FILE", file=sys.stderr)
        return 2
    schema = load(sys.argv[1])
    document = load(sys.argv[2])
    validator_class = jsonschema.validators.validator_for(schema)
    try:
        validator_class.check_schema(schema)
    except jsonschema.exceptions.SchemaError as error:
        print("%s: not a valid schema: %s" % (sys.argv[1], error.message), file=sys.stderr)
        return 2
    errors = sorted(validator_class(schema).iter_errors(document), key=document_order)
    if errors:
        # Of the alternatives of a oneOf, best_match names the one most likely meant.
        first = jsonschema.exceptions.best_match(errors[:1])
        print("%s: at %s: %s" % (sys.argv[2], where(first), first.message), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
