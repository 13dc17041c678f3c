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
  - Runs C(fwupgrade upgrade --accept-agreement --yes --json) with an image file, and
    reports what happened to each drive.
  - In check mode it runs C(fwupgrade check --json) instead, which sends nothing to a
    drive that could change it, reports C(changed) when some drive would be upgraded and
    says which, from which revision to which.
  - When I(sha256) is given, the program is told the digest (C(--sha256)) and refuses an
    image with another one before it touches any drive; the digest it reports for the image
    is compared with I(sha256) as well.
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
      - Exactly one of I(image) and I(src) is given.
    type: path
  src:
    description:
      - Path of the firmware image on the controller, relative to the role's or playbook's
        C(files) folder unless absolute.
      - It is copied, under its own file name, into Ansible's temporary folder on the host
        for this one task and removed with that folder afterwards, so nothing stays on the
        host. Meant for check mode, where no image is staged yet.
      - Not with C(async), which outlives the temporary folder.
    type: path
  sha256:
    description:
      - Expected SHA-256 digest of the image, hexadecimal, optionally prefixed with C(sha256:).
      - Passed to the program as C(--sha256); an image with another digest fails the task
        (exit status 2) before any drive is touched.
    type: str
  revision:
    description:
      - The revision the image installs, when its file name does not tell.
    type: str
  drives:
    description:
      - Serial numbers of the drives to work on, each passed as C(--device serial:S), which
        always means a serial number (never an index, a path or all drives).
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
  action:
    description: An action plugin copies I(src) from the controller.
    support: full
  async:
    description: Runs with C(async), except with I(src).
    support: partial
  check_mode:
    description: >-
      Runs C(fwupgrade check), which writes to no drive; C(changed) means some drive would
      be upgraded, and the message names them.
    support: full
  diff_mode:
    description: Shows each selected drive's firmware revision before and after.
    support: full
author:
  - Vorn tape firmware team (@vorn-tape)
notes:
  - The task fails when the program exits with 1 (a drive failed or came back without the
    new revision), 2 (usage error or bad input, such as an image whose digest is not
    I(sha256)), 4 (no drive matched), and with 3 (a drive was refused) unless
    I(accept_refused) is true. The message is the program's own.
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

- name: What would change (runs fwupgrade check), the image still on the controller
  vorn.tape.tape_firmware:
    src: kmr47000_0200.gbf
    sha256: "{{ release_sha256 }}"
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
  sample: [fwupgrade, upgrade, --image, /var/tmp/fwupgrade/kmr47000_0200.gbf, --sha256, "9f86d0...", --accept-agreement, --yes, --jobs, "1", --json]
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
      description: >-
        The revision it runs now; null when the drive was not written (C(current),
        C(would-upgrade), C(refused)) or did not come back to tell.
      type: str
      returned: always, possibly null
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
  description: The image as the program read it.
  returned: when the program printed its document
  type: dict
  contains:
    path:
      description: The image's path on the host.
      type: str
      sample: /var/tmp/fwupgrade/kmr47000_0200.gbf
    size:
      description: Its size in bytes.
      type: int
      sample: 1048576
    sha256:
      description: The SHA-256 digest of the bytes the program read.
      type: str
      sample: 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08
    revision:
      description: The revision the image installs.
      type: str
      sample: "0200"
diff:
  description: Each drive's revision before and after, one line per drive.
  returned: in diff mode, when the program printed its document
  type: dict
  sample: {before: "1:5:0 HU1234567 0100\n", after: "1:5:0 HU1234567 0200\n"}
msg:
  description: What happened or would happen, per drive that is not simply current.
  returned: always
  type: str
  sample: "would upgrade HU1234567 (1:5:0) from 0100 to 0200"
stdout:
  description: The program's standard output, when it was not a JSON document.
  returned: on failure without a document
  type: str
stderr:
  description: The program's standard error.
  returned: when the program ran
  type: str
"""

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


def build_argv(program, params, digest, check_mode):
    argv = [program, "check" if check_mode else "upgrade", "--image", params["image"]]
    if digest:
        argv += ["--sha256", digest]
    for serial in params["drives"] or []:
        argv += ["--device", "serial:" + serial]
    if params["revision"]:
        argv += ["--revision", params["revision"]]
    if not check_mode:
        argv += ["--accept-agreement", "--yes", "--jobs", str(params["jobs"])]
    argv.append("--json")
    return argv


def who(drive):
    name = drive.get("serial") or "drive %s" % drive.get("index")
    return "%s (%s)" % (name, drive.get("path")) if drive.get("path") else name


def revision_after(drive, image_revision):
    """The revision the drive runs after this task, or would run after an upgrade."""
    result = drive.get("result")
    if result == "would-upgrade":
        return image_revision
    if result in ("upgraded", "attention"):
        return drive.get("revision_after") or "unknown"
    return drive.get("revision_before")


def describe(drives, image_revision):
    """One clause per drive that is not simply current, so the task's message alone says
    which drive to look at and why, or what check mode would do."""
    parts = []
    for drive in drives:
        result = drive.get("result")
        before = drive.get("revision_before")
        if result == "would-upgrade":
            parts.append("would upgrade %s from %s to %s" % (who(drive), before, image_revision))
        elif result == "upgraded":
            parts.append("upgraded %s from %s to %s" % (who(drive), before, drive.get("revision_after")))
        elif result in ("failed", "attention", "refused"):
            reason = drive.get("reason")
            parts.append("%s %s%s" % (who(drive), result, ": %s" % reason if reason else ""))
    return "; ".join(parts)


def diff_of(drives, image_revision):
    def lines(revision_of):
        return "".join("%s %s %s\n" % (d.get("path"), d.get("serial") or "-", revision_of(d)) for d in drives)

    return {
        "before_header": "firmware before",
        "after_header": "firmware after",
        "before": lines(lambda d: d.get("revision_before")),
        "after": lines(lambda d: revision_after(d, image_revision)),
    }


def main():
    module = AnsibleModule(
        argument_spec=dict(
            image=dict(type="path"),
            src=dict(type="path"),
            sha256=dict(type="str"),
            revision=dict(type="str"),
            drives=dict(type="list", elements="str"),
            jobs=dict(type="int", default=1),
            accept_refused=dict(type="bool", default=False),
            executable=dict(type="str", default="fwupgrade"),
        ),
        mutually_exclusive=[("image", "src")],
        required_one_of=[("image", "src")],
        supports_check_mode=True,
    )
    params = module.params
    if params["src"] is not None:
        # The action plugin replaces src by the copy it made on the host.
        module.fail_json(msg="src needs the collection's action plugin, which did not run")
    image = params["image"]
    if params["jobs"] < 1:
        module.fail_json(msg="jobs must be at least 1, got %d" % params["jobs"])
    if params["drives"] is not None and not params["drives"]:
        # An empty list would silently mean "all drives" to the program.
        module.fail_json(msg="drives is empty: leave it out to work on all drives")
    digest = expected_digest(module, params["sha256"]) if params["sha256"] is not None else None

    program = find_executable(module, params["executable"])
    argv = build_argv(program, params, digest, module.check_mode)
    rc, document, out, err = run_json(module, argv)

    if document is None:
        module.fail_json(
            msg="fwupgrade %s exited with status %d (%s): %s"
            % (argv[1], rc, EXIT_MEANING.get(rc, "unexpected exit status"),
               first_line(err) or first_line(out) or "no output"),
            rc=rc, cmd=argv, stdout=out, stderr=err,
        )

    drives = [d for d in document.get("drives") or [] if isinstance(d, dict)]
    image_facts = document.get("image") or {}
    image_revision = image_facts.get("revision")
    results = [d.get("result") for d in drives]
    result = dict(
        changed=("would-upgrade" if module.check_mode else "upgraded") in results,
        rc=rc,
        cmd=argv,
        drives=drives,
        summary=document.get("summary") or {},
        image=image_facts,
        stderr=err,
    )
    if module._diff:
        result["diff"] = diff_of(drives, image_revision)

    if digest and image_facts.get("sha256", "").lower() != digest:
        result["msg"] = "fwupgrade read %s with sha256 %s, expected %s" % (
            image, image_facts.get("sha256"), digest)
        module.fail_json(**result)

    failing = rc in (EXIT_FAILED, EXIT_USAGE, EXIT_NO_DRIVE) or (rc == EXIT_REFUSED and not params["accept_refused"])
    if rc not in EXIT_MEANING:
        failing = True
    told = describe(drives, image_revision)
    if failing:
        meaning = EXIT_MEANING.get(rc, "unexpected exit status")
        detail = told or first_line(err)
        result["msg"] = "fwupgrade %s exited with status %d (%s)%s" % (
            argv[1], rc, meaning, ": %s" % detail if detail else "")
        module.fail_json(**result)

    # Ansible takes a nonzero rc without an explicit failed key as a failure, which would
    # undo accept_refused.
    result["failed"] = False
    if rc == EXIT_REFUSED:
        result["msg"] = "refused accepted: %s" % told
    else:
        result["msg"] = told or "every selected drive already runs %s" % image_revision
    module.exit_json(**result)


if __name__ == "__main__":
    main()
