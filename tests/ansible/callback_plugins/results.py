# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""A stdout callback for the tests: every task's result per host, and the recap, as one
JSON object at the end ({"tasks": [{"name", "hosts": {host: result}}], "stats": ...})."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

from ansible.plugins.callback import CallbackBase


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'stdout'
    CALLBACK_NAME = 'results'

    def __init__(self):
        super(CallbackModule, self).__init__()
        self.tasks = []

    def v2_playbook_on_task_start(self, task, is_conditional):
        self.tasks.append(dict(name=task.get_name(), hosts={}))

    def v2_playbook_on_handler_task_start(self, task):
        self.tasks.append(dict(name=task.get_name(), hosts={}))

    def _record(self, result, **status):
        if not self.tasks:  # an ad-hoc command has no task start
            self.tasks.append(dict(name=result._task.get_name(), hosts={}))
        self.tasks[-1]['hosts'][result._host.get_name()] = dict(result._result, **status)

    def v2_runner_on_ok(self, result):
        self._record(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result, failed=True)

    def v2_runner_on_skipped(self, result):
        self._record(result, skipped=True)

    def v2_runner_on_unreachable(self, result):
        self._record(result, unreachable=True)

    def v2_playbook_on_stats(self, stats):
        summary = dict((host, stats.summarize(host)) for host in sorted(stats.processed))
        self._display.display(json.dumps(dict(tasks=self.tasks, stats=summary), default=str))
