# -*- coding: utf-8 -*-
# The rollout report: what the role left in each host's firmware_outcome, as one row per
# host and drive. The role writes it as JSON and renders it as a Markdown table.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
name: firmware_report
short_description: Rows of a rollout report from the hosts' firmware outcomes
version_added: "1.3.0"
description:
  - Takes the play's hosts and C(hostvars) and returns the report the role
    M(vorn.tape.firmware_rollout) writes: per host and drive the serial number, the revision
    before and after, the result, the reason and the seconds it took.
  - A host without an outcome (the play never got to it because an earlier batch failed,
    or it was unreachable) is listed with the result C(not-run); a host that failed before
    the program told anything, with C(host-failed) and the task's message as reason; a host
    without drives, with C(no-drive).
positional: hostvars
options:
  _input:
    description: The play's hosts, usually C(ansible_play_hosts_all).
    type: list
    elements: str
    required: true
  hostvars:
    description: C(hostvars).
    type: dict
    required: true
author:
  - Vorn tape firmware team (@vorn-tape)
"""

EXAMPLES = r"""
- name: The report
  ansible.builtin.copy:
    content: "{{ ansible_play_hosts_all | vorn.tape.firmware_report(hostvars) | to_nice_json }}"
    dest: rollout-report.json
    mode: "0644"
  delegate_to: localhost
  run_once: true
"""

RETURN = r"""
_value:
  description: C(rows), one per host and drive, and C(summary), how many rows have each result.
  type: dict
"""

ROW_KEYS = ("serial", "path", "revision_before", "revision_after", "result", "reason", "seconds")


def empty_row(host, result, reason=None):
    row = dict((key, None) for key in ROW_KEYS)
    row.update(host=host, result=result, reason=reason)
    return row


def drive_rows(host, outcome):
    drives = outcome.get("drives") or []
    if not drives:
        return [empty_row(host, "host-failed" if outcome.get("failed") else "no-drive", outcome.get("msg"))]
    rows = []
    for drive in drives:
        row = {"host": host}
        for key in ROW_KEYS:
            row[key] = drive.get(key)
        if row["revision_after"] is None and row["result"] in ("current", "refused"):
            # Nothing was written: the drive still runs what it ran.
            row["revision_after"] = row["revision_before"]
        rows.append(row)
    return rows


def firmware_report(hosts, hostvars):
    rows = []
    for host in hosts:
        outcome = None
        if host in hostvars:
            outcome = hostvars[host].get("firmware_outcome")
        if not outcome:
            rows.append(empty_row(host, "not-run"))
            continue
        rows.extend(drive_rows(host, outcome))
    summary = {}
    for row in rows:
        summary[row["result"]] = summary.get(row["result"], 0) + 1
    return {"rows": rows, "summary": summary}


class FilterModule(object):
    def filters(self):
        return {"firmware_report": firmware_report}
