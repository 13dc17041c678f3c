#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: tape_firmware
short_description: Checks or upgrades the firmware of Vorn KMR-47000 tape drives
version_added: "1.3.0"
description:
  - Runs C(fwupgrade upgrade --accept-agreement --yes --json) with an image file that is
    already on the host, and reports what happened to each drive.
  - In check mode it runs C(fwupgrade check --json) instead, which sends nothing to a
    drive that could change it, and reports C(changed) when some drive would be upgraded.
  - When I(sha256) is given, the image is hashed first and a mismatch fails the task
    before the program is started.
  - Environment variables the program reads (C(ZURVAX_EMULATION), C(ZURVAX_TRACE)) come
    from the task's C(environment).
  - A download can take minutes; run the task with C(async) and C(poll) so that it does
    not depend on one SSH session lasting that long.
options:
  image:
    description:
      - Path of the firmware image on the managed host.
      - Unless I(revision) is given, the program takes the revision the image installs from
        the file name (C(kmr47000_0200.gbf) installs C(0200)).
    type: path
    required: true
  sha256:
    description:
      - Expected SHA-256 digest of I(image), hexadecimal, optionally prefixed with C(sha256:).
      - A file with another digest fails the task with nothing run.
    type: str
  revision:
    description:
      - The revision the image installs, when its file name does not tell.
    type: str
  drives:
    description:
      - Serial numbers of the drives to work on (C(--device) once per serial).
      - All drives of the host when left out.
      - A serial that matches no drive makes the program exit with status 4, which fails the task.
    type: list
    elements: str
  jobs:
    description:
      - How many drives are upgraded at the same time (C(--jobs)). Not used in check mode.
    type: int
    default: 1
  accept_refused:
    description:
      - When true, drives the program refused (not qualified, not ready, below the minimum
        revision, a downgrade, in use; nothing written to them) do not fail the task, as long
        as no drive failed.
    type: bool
    default: false
  executable:
    description:
      - The fwupgrade program. A bare name is looked up on C(PATH); a value with a slash is
        used as a path.
    type: str
    default: fwupgrade
attributes:
  check_mode:
    support: full
    details: Runs C(fwupgrade check); C(changed) means some drive would be upgraded.
author:
  - Vorn tape firmware team
notes:
  - The task fails when the program exits with 1 (a drive failed or came back without the
    new revision), 2 (usage error or bad input), 4 (no drive matched), and with 3 (a drive
    was refused) unless I(accept_refused) is true.
  - C(changed) is true only when a drive was upgraded, so a second run against drives
    that already run the image's revision reports no change.
seealso:
  - module: vorn.tape.tape_drive_facts
"""

EXAMPLES = r"""
- name: Upgrade every drive of the host, in the background
  vorn.tape.tape_firmware:
    image: /var/tmp/fwupgrade/kmr47000_0200.gbf
    sha256: "{{ release_sha256 }}"
  async: 3600
  poll: 15
  register: firmware

- name: Only two drives, two at a time, refused drives tolerated
  vorn.tape.tape_firmware:
    image: /var/tmp/fwupgrade/release.bin
    revision: "0200"
    drives:
      - HU1234567
      - HU7654321
    jobs: 2
    accept_refused: true

- name: What would change (runs fwupgrade check)
  vorn.tape.tape_firmware:
    image: /var/tmp/fwupgrade/kmr47000_0200.gbf
  check_mode: true
  register: preview

- name: On emulated drives
  vorn.tape.tape_firmware:
    image: /tmp/kmr47000_0200.gbf
  environment:
    ZURVAX_EMULATION: /etc/vorn/emulated-drives.json
"""

RETURN = r"""
rc:
  description: The program's exit status.
  returned: when the program ran
  type: int
  sample: 0
cmd:
  description: The command line that was run.
  returned: when the program ran
  type: list
  elements: str
  sample: [fwupgrade, upgrade, --image, /var/tmp/fwupgrade/kmr47000_0200.gbf, --accept-agreement, --yes, --jobs, "1", --json]
drives:
  description: One object per selected drive, as the program's C(--json) document gives them.
  returned: when the program printed its document
  type: list
  elements: dict
  contains:
    index:
      description: The drive's index in the program's list.
      type: int
    path:
      description: The SCSI path C(HA:TID:LUN).
      type: str
    serial:
      description: The drive's serial number.
      type: str
    vendor:
      description: The vendor identification.
      type: str
    product:
      description: The product identification.
      type: str
    revision_before:
      description: The revision the drive ran before.
      type: str
    revision_after:
      description: The revision it runs now, null unless known.
      type: str
    result:
      description: >-
        C(upgraded), C(current) (already at the revision), C(would-upgrade) (check mode),
        C(refused) (nothing written), C(failed) (old firmware still runs) or C(attention)
        (commit sent but the drive did not come back with the revision).
      type: str
    reason:
      description: Why, for a result other than success; null otherwise.
      type: str
    messages:
      description: The messages the program raised for this drive, each with C(caption) and C(text).
      type: list
      elements: dict
    sense:
      description: Decoded sense data of the failure, or null.
      type: dict
    seconds:
      description: Time spent on the drive.
      type: float
  sample:
    - index: 0
      path: "1:5:0"
      serial: HU1234567
      vendor: VORN
      product: KMR-47000
      revision_before: "0100"
      revision_after: "0200"
      result: upgraded
      reason: null
      messages: []
      sense: null
      seconds: 41.2
summary:
  description: How many drives ended with each result.
  returned: when the program printed its document
  type: dict
  sample: {upgraded: 2, current: 1}
image:
  description: The image as the program read it (path, size, sha256, revision).
  returned: when the program printed its document
  type: dict
stdout:
  description: The program's standard output, when it was not a JSON document.
  returned: on failure without a document
  type: str
stderr:
  description: The program's standard error.
  returned: when the program ran
  type: str
"""

import os

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vorn.tape.plugins.module_utils.fwupgrade import (
    EXIT_FAILED,
    EXIT_MEANING,
    EXIT_NO_DRIVE,
    EXIT_OK,
    EXIT_REFUSED,
    EXIT_USAGE,
    find_executable,
    first_line,
    run_json,
)

HEX_DIGITS = set("0123456789abcdef")


def expected_digest(module, text):
    digest = text.strip().lower()
    if digest.startswith("sha256:"):
        digest = digest[len("sha256:"):]
    if len(digest) != 64 or not set(digest) <= HEX_DIGITS:
        module.fail_json(msg="sha256 must be 64 hexadecimal digits, got %r" % text)
    return digest


def build_argv(program, params, check_mode):
    argv = [program, "check" if check_mode else "upgrade", "--image", params["image"]]
    for serial in params["drives"] or []:
        argv += ["--device", serial]
    if params["revision"]:
        argv += ["--revision", params["revision"]]
    if not check_mode:
        argv += ["--accept-agreement", "--yes", "--jobs", str(params["jobs"])]
    argv.append("--json")
    return argv


def describe_problems(drives):
    """One clause per drive that did not end well, so the task's message alone says which
    drive to look at and why."""
    parts = []
    for drive in drives:
        if drive.get("result") in ("failed", "attention", "refused"):
            who = drive.get("serial") or drive.get("path") or "drive %s" % drive.get("index")
            reason = drive.get("reason")
            parts.append("%s %s%s" % (who, drive["result"], ": %s" % reason if reason else ""))
    return "; ".join(parts)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            image=dict(type="path", required=True),
            sha256=dict(type="str"),
            revision=dict(type="str"),
            drives=dict(type="list", elements="str"),
            jobs=dict(type="int", default=1),
            accept_refused=dict(type="bool", default=False),
            executable=dict(type="str", default="fwupgrade"),
        ),
        supports_check_mode=True,
    )
    params = module.params
    image = params["image"]
    if params["jobs"] < 1:
        module.fail_json(msg="jobs must be at least 1, got %d" % params["jobs"])
    if params["drives"] is not None and not params["drives"]:
        # An empty list would silently mean "all drives" to the program.
        module.fail_json(msg="drives is empty: leave it out to work on all drives")
    if not os.path.isfile(image):
        module.fail_json(msg="image %s is not a file on this host" % image)

    # Checked before the program is found or run: a wrong image must never reach a drive.
    if params["sha256"] is not None:
        wanted = expected_digest(module, params["sha256"])
        actual = module.digest_from_file(image, "sha256")
        if actual != wanted:
            module.fail_json(
                msg="image %s has sha256 %s, expected %s: refusing to use it" % (image, actual, wanted),
                image_sha256=actual,
            )

    program = find_executable(module, params["executable"])
    argv = build_argv(program, params, module.check_mode)
    rc, document, out, err = run_json(module, argv)

    if document is None:
        module.fail_json(
            msg="fwupgrade exited with status %d without a JSON document: %s"
            % (rc, first_line(err) or first_line(out) or "no output"),
            rc=rc, cmd=argv, stdout=out, stderr=err,
        )

    drives = document.get("drives") or []
    results = [d.get("result") for d in drives if isinstance(d, dict)]
    if module.check_mode:
        changed = "would-upgrade" in results
    else:
        changed = "upgraded" in results

    result = dict(
        changed=changed,
        rc=rc,
        cmd=argv,
        drives=drives,
        summary=document.get("summary") or {},
        image=document.get("image"),
        stderr=err,
    )

    failing = rc in (EXIT_FAILED, EXIT_USAGE, EXIT_NO_DRIVE) or (rc == EXIT_REFUSED and not params["accept_refused"])
    if rc not in EXIT_MEANING:
        failing = True
    if failing:
        meaning = EXIT_MEANING.get(rc, "unexpected exit status")
        detail = describe_problems(drives) or first_line(err)
        result["msg"] = "fwupgrade %s exited with status %d (%s)%s" % (
            argv[1], rc, meaning, ": %s" % detail if detail else "")
        module.fail_json(**result)

    # Ansible takes a nonzero rc without an explicit failed key as a failure, which would
    # undo accept_refused.
    result["failed"] = False
    if rc == EXIT_OK:
        result["msg"] = "ok"
    else:
        result["msg"] = "refused accepted: %s" % describe_problems(drives)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
