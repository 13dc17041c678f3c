# -*- coding: utf-8 -*-
# Test callback: every task result, one JSON object a line, in the file $RECORD_FILE, so
# that the test decides from what Ansible recorded (status, changed, the module's return
# values, diff) rather than from the text the default callback prints.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
name: record
type: notification
short_description: Writes every task result as a JSON line to $RECORD_FILE
description:
  - For the collection's tests only.
requirements:
  - enabled in ansible.cfg or ANSIBLE_CALLBACKS_ENABLED
"""

import json
import os
import time

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = "notification"
    CALLBACK_NAME = "record"
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self):
        super(CallbackModule, self).__init__()
        self._path = os.environ.get("RECORD_FILE")
        self._play = None

    def _write(self, record):
        if self._path:
            with open(self._path, "a") as out:
                out.write(json.dumps(record, default=str) + "\n")

    def v2_playbook_on_play_start(self, play):
        self._play = play.get_name()

    def v2_playbook_on_task_start(self, task, is_conditional):
        # Where a run's time goes: each task's start, to set against its hosts' results.
        self._write({"task_start": task.get_name(), "play": self._play, "time": time.time()})

    def v2_playbook_on_stats(self, stats):
        for host in sorted(stats.processed):
            self._write({"stats": host, "summary": stats.summarize(host), "time": time.time()})

    def _result(self, result, status):
        task = result._task
        self._write({
            "play": self._play,
            "task": task.get_name(),
            "host": result._host.get_name(),
            "status": status,
            "changed": bool(result._result.get("changed")),
            "result": result._result,
            "time": time.time(),
        })

    def v2_runner_on_ok(self, result):
        self._result(result, "ok")

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._result(result, "ignored" if ignore_errors else "failed")

    def v2_runner_on_skipped(self, result):
        self._result(result, "skipped")

    def v2_runner_on_unreachable(self, result):
        self._result(result, "unreachable")
