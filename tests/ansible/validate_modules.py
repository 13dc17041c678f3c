#!/usr/bin/env python3
"""ansible-test's validate-modules on an installed collection, offline.

  validate_modules.py COLLECTIONS_DIR NAMESPACE NAME VERSION

ansible-test sanity wants pip, which this machine lacks; validate-modules itself needs only
voluptuous. Its findings are filtered by the collection's tests/sanity/ignore-2.14.txt as
ansible-test would: every ignore line needs its reason after "#" here, and an ignore that
matches no finding is a finding of its own (the reason it was written for has gone).
Prints every finding left and exits 1 when there is one.
"""
import glob
import json
import os
import subprocess
import sys

VALIDATE = "/usr/lib/python3/dist-packages/ansible_test/_util/controller/sanity/validate-modules/validate.py"


def ignores(path):
    entries, problems = {}, []
    if not os.path.exists(path):
        return entries, problems
    for number, line in enumerate(open(path).read().splitlines(), 1):
        rule, _, reason = line.partition("#")
        parts = rule.split()
        if len(parts) != 2 or not parts[1].startswith("validate-modules:"):
            continue
        if not reason.strip():
            problems.append("%s:%d: ignore without a reason" % (os.path.basename(path), number))
        entries[(parts[0], parts[1].split(":", 1)[1])] = number
    return entries, problems


def main(argv):
    collections, namespace, name, version = argv[1:5]
    root = os.path.join(collections, "ansible_collections", namespace, name)
    modules = sorted(os.path.relpath(p, root) for p in glob.glob(os.path.join(root, "plugins/modules/*.py")))
    if not modules:
        print("validate-modules: no module in %s" % root)
        return 1
    env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=collections, PYTHONPATH=collections)
    # "--arg": validate-modules' option (an unambiguous prefix, as its parser takes) that also
    # checks each module's table of arguments against its documentation.
    run = subprocess.run(
        [sys.executable, VALIDATE, "--format", "json", "--arg",
         "--collection", "ansible_collections/%s/%s" % (namespace, name),
         "--collection-version", version] + modules,
        cwd=root, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, universal_newlines=True)
    if run.returncode not in (0, 3) or not run.stdout.strip().startswith("{"):
        print("validate-modules did not run (status %d): %s" % (run.returncode, run.stderr.strip()[-2000:]))
        return 1
    report = json.loads(run.stdout)
    entries, problems = ignores(os.path.join(root, "tests/sanity/ignore-2.14.txt"))
    used = set()
    for path, found in sorted(report.items()):
        for error in found.get("errors", []):
            key = (path, error["code"])
            if key in entries:
                used.add(key)
                continue
            problems.append("%s:%s:%s: %s: %s" % (path, error["line"], error["column"], error["code"], error["msg"]))
    for key, number in sorted(entries.items()):
        if key not in used:
            problems.append("ignore-2.14.txt:%d: %s %s matches no finding" % (number, key[0], key[1]))
    for problem in problems:
        print(problem)
    print("validate-modules: %d module(s), %d finding(s), %d ignored" % (len(modules), len(problems), len(used)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
