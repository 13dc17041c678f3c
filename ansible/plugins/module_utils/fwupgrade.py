# -*- coding: utf-8 -*-
# Running fwupgrade and reading its --json document, shared by the modules of vorn.tape.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# The program's exit statuses.
EXIT_OK = 0
EXIT_FAILED = 1
EXIT_USAGE = 2
EXIT_REFUSED = 3
EXIT_NO_DRIVE = 4

EXIT_MEANING = {
    EXIT_OK: "every selected drive upgraded, current or would upgrade",
    EXIT_FAILED: "a drive failed or needs attention",
    EXIT_USAGE: "usage error or bad input",
    EXIT_REFUSED: "a drive was refused, none failed",
    EXIT_NO_DRIVE: "no drive matched",
}

# The line the program ends a scan with when it lists no drive at all. Any other line it
# writes to standard error is something it could not do (open a device, read an inquiry),
# which is why a host without access is not a host without drives.
NO_DRIVE_LINE = "fwupgrade: no drive found"


def find_executable(module, executable):
    """A bare name is looked up on PATH; anything with a slash is taken as a path, so that a
    relative build path is not silently replaced by some other fwupgrade found on PATH."""
    if os.sep in executable:
        path = os.path.abspath(os.path.expanduser(executable))
        if not os.path.isfile(path) or not os.access(path, os.X_OK):
            module.fail_json(msg="fwupgrade program %s is not an executable file" % path)
        return path
    found = module.get_bin_path(executable)
    if not found:
        module.fail_json(msg="fwupgrade program %r not found on PATH (set option executable)" % executable)
    return found


def run_json(module, argv):
    """Runs the program and returns (rc, document or None, stdout, stderr).

    The document is None when stdout is not one JSON object: a usage error prints only a
    line on stderr, and a crash prints nothing useful at all."""
    rc, out, err = module.run_command(argv, check_rc=False)
    document = None
    try:
        parsed = json.loads(out) if out.strip() else None
        if isinstance(parsed, dict):
            document = parsed
    except ValueError:
        document = None
    return rc, document, out, err


def diagnostics(err):
    """The program's lines on standard error, without its no-drive verdict."""
    return [line.strip() for line in (err or "").splitlines() if line.strip() and line.strip() != NO_DRIVE_LINE]


def first_line(text):
    for line in (text or "").splitlines():
        if line.strip():
            return line.strip()
    return ""
