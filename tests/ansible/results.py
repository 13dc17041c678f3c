#!/usr/bin/env python3
"""Questions to a record file written by callback/record.py, for run.sh.

  results.py LOG hosts TASK STATUS    hosts with a result of STATUS (ok, changed, failed,
                                      skipped, ignored) for TASK, in the order they came;
                                      "changed" is any ok or failed result that changed
  results.py LOG tasks HOST STATUS [PLAY]
                                      the tasks of HOST with that status (in PLAY only)
  results.py LOG stats HOST KEY       the play recap's count KEY (ok, changed, failures...)
  results.py LOG check TASK HOST EXPR exit 0 when the Python expression EXPR is true of the
                                      last result r of TASK on HOST (missing: exit 1)
"""
import json
import sys


def records(path):
    with open(path) as lines:
        return [json.loads(line) for line in lines if line.strip()]


def status_of(record, wanted):
    if wanted == "changed":
        return record["changed"] and record["status"] in ("ok", "failed", "ignored")
    return record["status"] == wanted


def main(argv):
    log, question = argv[1], argv[2]
    found = records(log)
    if question == "hosts":
        task, wanted = argv[3], argv[4]
        print("\n".join(r["host"] for r in found if r.get("task") == task and status_of(r, wanted)))
        return 0
    if question == "tasks":
        host, wanted = argv[3], argv[4]
        play = argv[5] if len(argv) > 5 else None
        print("\n".join(r["task"] for r in found if r.get("host") == host and status_of(r, wanted)
                        and play in (None, r.get("play"))))
        return 0
    if question == "stats":
        host, key = argv[3], argv[4]
        counts = [r["summary"].get(key) for r in found if r.get("stats") == host]
        print(counts[-1] if counts else "")
        return 0
    if question == "check":
        task, host = argv[3], argv[4]
        # Written over several lines in run.sh: one expression all the same.
        expression = " ".join(line.strip() for line in argv[5].splitlines())
        mine = [r for r in found if r.get("task") == task and r.get("host") == host]
        if not mine:
            print("no result of %r on %s" % (task, host))
            return 1
        r = mine[-1]
        if eval(expression, {}, {"r": r["result"], "record": r}):
            return 0
        print("%s on %s: not %s: %s" % (task, host, expression, json.dumps(r["result"])[:1500]))
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
