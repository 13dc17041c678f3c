# -*- coding: utf-8 -*-
# The action side of vorn.tape.tape_firmware: with src, the image travels from the
# controller into Ansible's temporary folder on the host for this one task, so that check
# mode can run the program's own check without staging anything that stays behind.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os

from ansible.errors import AnsibleActionFail, AnsibleError
from ansible.module_utils.common.text.converters import to_text
from ansible.plugins.action import ActionBase
from ansible.utils.vars import merge_hash


class ActionModule(ActionBase):

    TRANSFERS_FILES = True

    def run(self, tmp=None, task_vars=None):
        self._supports_check_mode = True
        self._supports_async = True
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp

        args = self._task.args.copy()
        src = args.pop("src", None)
        wrap_async = self._task.async_val and not self._connection.has_native_async
        try:
            if src is not None:
                if self._task.async_val:
                    raise AnsibleActionFail("src cannot be used with async: the temporary copy "
                                            "goes with the task's temporary folder; stage the image and use image")
                if args.get("image") is not None:
                    raise AnsibleActionFail("parameters are mutually exclusive: image|src")
                try:
                    local = self._find_needle("files", src)
                except AnsibleError as e:
                    raise AnsibleActionFail(to_text(e))
                tmpdir = self._connection._shell.tmpdir
                # The file name is kept: the program reads the revision from it.
                remote = self._connection._shell.join_path(tmpdir, os.path.basename(local))
                self._transfer_file(local, remote)
                self._fixup_perms2((tmpdir, remote), execute=False)
                args["image"] = remote
            result = merge_hash(result, self._execute_module(
                module_name="vorn.tape.tape_firmware", module_args=args, task_vars=task_vars,
                wrap_async=wrap_async))
        except AnsibleActionFail as e:
            result.update(e.result)
        finally:
            if not wrap_async:
                self._remove_tmp_path(self._connection._shell.tmpdir)
        return result
