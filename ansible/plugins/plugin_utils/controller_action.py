# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""The action plugins' one way of running a task of this collection on the control node,
and how the control node runs and finds tolvanectl (the inventory plugin's too).

A controller runs no Python and is reached from the control node, as network devices
are: the task runs tolvanectl right here, without sending a module to any host, so an
inventory needs neither ansible_connection=local nor a Python interpreter for it.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import subprocess

from ansible.module_utils.common.process import get_bin_path
from ansible.plugins.action import ActionBase
from ansible_collections.tolvane.controller.plugins.module_utils.tolvanectl import CONN_VAR, TaskFailed, Tolvanectl


def run_command(cmd):
    """tolvanectl's exit code, standard output and standard error; it bounds its own waits."""
    try:
        done = subprocess.run(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              check=False)
    except OSError as e:  # executable, yet not a program this system can start
        return 127, '', 'cannot run %s: %s' % (cmd[0], e)
    return (done.returncode, done.stdout.decode('utf-8', 'replace'), done.stderr.decode('utf-8', 'replace'))


def which(name):
    try:
        return get_bin_path(name)
    except ValueError:
        return None


class ControllerAction(ActionBase):
    """Runs TASK (a function of module_utils.tolvanectl) with the task's options in OPTIONS."""

    OPTIONS = {}
    TASK = None

    _supports_check_mode = True
    _supports_async = False

    def run(self, tmp=None, task_vars=None):
        result = super(ControllerAction, self).run(tmp, task_vars)
        del tmp  # nothing is put on any host
        params = self.validate_argument_spec(argument_spec=self.OPTIONS)[1]
        if not params.get('conn') and CONN_VAR in (task_vars or {}):
            params['conn'] = self._templar.template(task_vars[CONN_VAR])
        try:
            ctl = Tolvanectl(params, run_command, which)
            result.update(type(self).TASK(ctl, self._task.check_mode, self._task.diff))
        except TaskFailed as failure:
            result.update(failure.result, failed=True)
            result.setdefault('changed', False)
            return result
        if ctl.warnings:
            result['warnings'] = result.get('warnings', []) + ctl.warnings
        return result
