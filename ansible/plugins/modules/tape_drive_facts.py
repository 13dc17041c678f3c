#!/usr/bin/python
# -*- coding: utf-8 -*-

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: tape_drive_facts
short_description: Lists the Vorn KMR-47000 tape drives of a host
version_added: "1.3.0"
description:
  - Runs C(fwupgrade list --json) on the host and returns every KMR-47000 drive it lists
    as the fact C(tape_drives).
  - Nothing is sent to a drive but identification and readiness queries, so the module
    runs the same in check mode.
  - Environment variables the program reads (C(ZURVAX_EMULATION), C(ZURVAX_TRACE)) come
    from the task's C(environment).
options:
  executable:
    description:
      - The fwupgrade program. A bare name is looked up on C(PATH); a value with a slash is
        used as a path.
    type: str
    default: fwupgrade
attributes:
  check_mode:
    description: Can run in check mode and return the same facts as without it.
    support: full
  diff_mode:
    description: Changes nothing, so there is never a difference to show.
    support: none
  facts:
    description: Sets C(ansible_facts.tape_drives).
    support: full
author:
  - Vorn tape firmware team (@vorn-tape)
notes:
  - A host without drives gets an empty list, not a failure.
  - A host where the program cannot open the devices (no access to C(/dev/sg*), an inquiry
    that fails) fails the task with the program's own message, even when it then lists no
    drive, since a host without access is not a host without drives.
seealso:
  - module: vorn.tape.tape_firmware
"""

EXAMPLES = r"""
- name: Read the drives of every tape host
  vorn.tape.tape_drive_facts:

- name: Show the firmware revision of each drive
  ansible.builtin.debug:
    msg: "{{ item.path }} {{ item.serial }} runs {{ item.revision }}"
  loop: "{{ ansible_facts.tape_drives }}"

- name: Use a program outside PATH, on emulated drives
  vorn.tape.tape_drive_facts:
    executable: /opt/vorn/bin/fwupgrade
  environment:
    ZURVAX_EMULATION: /etc/vorn/emulated-drives.json
"""

RETURN = r"""
ansible_facts:
  description: Facts set on the host.
  returned: always
  type: complex
  contains:
    tape_drives:
      description: The host's KMR-47000 drives, in the order the program lists them.
      returned: always
      type: list
      elements: dict
      contains:
        index:
          description: The drive's index in the program's list, usable as C(--device).
          type: int
          sample: 0
        path:
          description: The SCSI path, host adapter, target id and LUN.
          type: str
          sample: "1:5:0"
        serial:
          description: The drive's serial number, what I(drives) of M(vorn.tape.tape_firmware) takes.
          type: str
          sample: "HU1234567"
        product:
          description: The product identification from INQUIRY.
          type: str
          sample: KMR-47000
        revision:
          description: The firmware revision the drive reports.
          type: str
          sample: "0100"
rc:
  description: The program's exit status.
  returned: always
  type: int
  sample: 0
stderr_lines:
  description: >-
    What the program said on standard error besides its no-drive verdict: devices it could
    not open, inquiries that failed. Returned as warnings too when drives were listed.
  returned: always
  type: list
  elements: str
  sample: ["fwupgrade: an inquiry failed: status 10008"]
"""

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vorn.tape.plugins.module_utils.fwupgrade import (
    EXIT_NO_DRIVE,
    EXIT_OK,
    diagnostics,
    find_executable,
    first_line,
    run_json,
)


def drive_fact(drive):
    revision = drive.get("revision_after") or drive.get("revision_before")
    return {
        "index": drive.get("index"),
        "path": drive.get("path"),
        "serial": drive.get("serial"),
        "product": drive.get("product"),
        "revision": revision,
    }


def main():
    module = AnsibleModule(
        argument_spec=dict(executable=dict(type="str", default="fwupgrade")),
        supports_check_mode=True,
    )
    program = find_executable(module, module.params["executable"])
    argv = [program, "list", "--json"]
    rc, document, out, err = run_json(module, argv)
    said = diagnostics(err)
    if document is None or rc not in (EXIT_OK, EXIT_NO_DRIVE) or (rc == EXIT_NO_DRIVE and said):
        module.fail_json(
            msg="fwupgrade list failed (exit status %d): %s" % (rc, "; ".join(said) or first_line(out) or "no output"),
            rc=rc, cmd=argv, stdout=out, stderr=err, stderr_lines=said,
        )
    drives = document.get("drives") or []
    if not isinstance(drives, list):
        module.fail_json(msg="fwupgrade list --json: 'drives' is not a list", rc=rc, cmd=argv, stdout=out)
    for line in said:
        module.warn(line)
    # failed stated outright: Ansible would otherwise fail the task on rc 4 (no drive).
    module.exit_json(
        changed=False,
        failed=False,
        rc=rc,
        stderr_lines=said,
        ansible_facts={"tape_drives": [drive_fact(d) for d in drives if isinstance(d, dict)]},
    )


if __name__ == "__main__":
    main()
