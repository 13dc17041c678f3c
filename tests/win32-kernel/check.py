#!/usr/bin/env python3
"""What the Windows program did to the kernel's drives (tests/win32-kernel/run-vm.sh).

  check.py --images DIR    writes the two images the guest offers into DIR
  check.py OUT DIR         judges what the guest copied into OUT, DIR holding the images

Decides from what the program and the library recorded: the JSON documents, the library's
call trace (ZURVAX_TRACE, one line per call with its status), the image each drive's
handler recorded and the state drive A keeps. One line per check, "WINK PASS <name>" or
"WINK FAIL <name>: <why>"; the exit status is 1 when any check failed.
"""
import json
import os
import re
import sys

CHUNK = 8192
SIZE = 5 * CHUNK + 1234
SERIAL_A = "KMRWINE01"
SERIAL_B = "KMRWINE02"
# The library's own status for a claim that holds nothing (ZurvaxStatus.h).
CLAIMED_WITHOUT_LOCK = 0x00010010
# A refused image: ILLEGAL REQUEST, invalid field in parameter list.
INVALID_FIELD_IN_PARAMETER_LIST = 0x2600


def image(magic):
    """An image in the drive's format: magic, revision, then a payload pattern."""
    header = (magic + "0200").encode()
    body = bytes((i * 7 + i // CHUNK) & 0xFF for i in range(len(header), SIZE))
    return header + body


IMAGES = {"good.gbf": image("KMR47000-FW:"), "rejected.gbf": image("KMR47000-XX:")}

failures = 0


def check(name, passed, why):
    global failures
    if passed:
        print(f"WINK PASS {name}")
    else:
        failures += 1
        print(f"WINK FAIL {name}: {why}")


def read(path, binary=False):
    try:
        with open(path, "rb" if binary else "r", errors=None if binary else "replace") as f:
            return f.read()
    except OSError:
        return None


def document(out, step):
    text = read(os.path.join(out, step + ".json"))
    try:
        return json.loads(text) if text else None
    except ValueError:
        return None


def trace(out, step):
    """The trace as (call, index, rest, status) tuples."""
    calls = []
    for line in (read(os.path.join(out, f"trace-{step}.txt")) or "").splitlines():
        found = re.match(r"(\w+) (\d+)(.*) -> ([0-9a-fA-F]+)$", line)
        if found:
            calls.append((found[1], int(found[2]), found[3], int(found[4], 16)))
    return calls


def drive(doc, serial):
    for entry in (doc or {}).get("drives", []):
        if entry.get("serial") == serial:
            return entry
    return None


def commits(calls, index):
    return [c for c in calls if c[0] == "WriteBuffer" and c[1] == index and " mode=5 " in c[2]]


def claims(calls, index):
    return [c[3] for c in calls if c[0] == "ClaimDevice" and c[1] == index]


def judge(out, files):
    status = {s: (read(os.path.join(out, s + ".status")) or "").strip()
              for s in ("list", "rejected", "upgrade")}
    for step, err in ((s, read(os.path.join(out, s + ".err")) or "") for s in status):
        if err.strip():
            print(f"WINK INFO {step} standard error: " + " | ".join(err.strip().splitlines()[:5]))

    listed = document(out, "list")
    a, b = drive(listed, SERIAL_A), drive(listed, SERIAL_B)
    check("list/json", listed is not None and status["list"] == "0",
          f"exit {status['list']}, document {read(os.path.join(out, 'list.json'))!r}")
    check("list/both-drives-with-serials", a is not None and b is not None,
          f"drives {(listed or {}).get('drives')}")
    check("list/identity",
          all(d and d["vendor"] == "VORN" and d["product"] == "KMR-47000"
              and d["revision_before"] == "0100" for d in (a, b)),
          f"drives {(listed or {}).get('drives')}")
    check("list/distinct-paths", a is not None and b is not None and a["path"] != b["path"],
          f"paths {a and a['path']} {b and b['path']}")

    rejected = drive(document(out, "rejected"), SERIAL_A)
    calls = trace(out, "rejected")
    check("rejected/failed", rejected is not None and rejected["result"] == "failed",
          f"record {rejected}")
    refused = commits(calls, rejected["index"]) if rejected else []
    check("rejected/commit-refused",
          len(refused) == 1 and refused[0][3] == INVALID_FIELD_IN_PARAMETER_LIST,
          f"commits {refused}")

    upgrade = document(out, "upgrade")
    good, bad = drive(upgrade, SERIAL_A), drive(upgrade, SERIAL_B)
    calls = trace(out, "upgrade")
    check("upgrade/upgraded",
          good is not None and good["result"] == "upgraded" and good["revision_after"] == "0200",
          f"record {good}")
    taken = read(os.path.join(out, "record1", "image0.bin"), binary=True)
    check("upgrade/image-received", taken == read(os.path.join(files, "good.gbf"), binary=True),
          "the drive took no image" if taken is None else
          f"the drive took {len(taken)} bytes that differ from the file")
    state = read(os.path.join(out, "a-state.json")) or ""
    check("upgrade/firmware-kept", '"revision": "0200"' in state, f"kept state {state!r}")
    if good is not None:
        sent = commits(calls, good["index"])
        check("upgrade/one-commit", len(sent) == 1 and sent[0][3] == 0, f"commits {sent}")
        # Wine answers IOCTL_SCSI_GET_ADDRESS with ERROR_NOT_SUPPORTED on the tape node, so
        # the claim cannot hold it, and says so.
        check("upgrade/claim-says-no-lock", claims(calls, good["index"]) == [CLAIMED_WITHOUT_LOCK],
              f"claims {claims(calls, good['index'])}")
        for message in good.get("messages", []):
            print("WINK INFO upgrade message: " + message["text"].splitlines()[0])

    check("corrupt/failed", bad is not None and bad["result"] == "failed", f"record {bad}")
    if bad is not None:
        check("corrupt/no-commit", commits(calls, bad["index"]) == [],
              f"commits {commits(calls, bad['index'])}")
    check("corrupt/no-image-taken", not os.path.exists(os.path.join(out, "record2", "image0.bin")),
          "drive B took an image")
    check("upgrade/exit-says-failed", status["upgrade"] not in ("0", ""),
          f"exit {status['upgrade']} with one drive failed")
    print(f"WINK INFO {failures} checks failed")
    return 1 if failures else 0


def main(argv):
    if len(argv) == 3 and argv[1] == "--images":
        for name, data in IMAGES.items():
            with open(os.path.join(argv[2], name), "wb") as f:
                f.write(data)
        return 0
    if len(argv) == 3:
        return judge(argv[1], argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
