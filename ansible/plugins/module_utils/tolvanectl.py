# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""Runs tolvanectl for the modules of this collection.

The settings' rules (which rates exist, what a change is, how the records are merged
and written) are tolvanectl's: the modules only turn their options into its flags and
its JSON back into results, so that a playbook and the wizard can never disagree.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os

# tolvanectl's exit code of bad usage: its first line says what was wrong, the usage
# after it is no result of a task.
USAGE = 2
# tolvanectl's exit code of a write the controller committed but that could not be read
# back: the settings were written, so it is a change with a warning, never a failure.
WRITTEN_NOT_READ_BACK = 11

# The options every module takes: how to reach the controller and where tolvanectl is.
LINK_OPTIONS = dict(
    conn=dict(type='str', required=True),
    timeout=dict(type='int'),
    retries=dict(type='int'),
    tolvanectl=dict(type='path'),
)


class Tolvanectl(object):
    """One module's calls of tolvanectl; each call is one process and one session."""

    def __init__(self, module):
        self.module = module
        self.binary = module.params['tolvanectl'] or module.get_bin_path('tolvanectl', required=True)
        if not os.access(self.binary, os.X_OK):
            module.fail_json(msg='tolvanectl is not a program that can be run: %s' % self.binary)

    def link_args(self):
        params = self.module.params
        args = ['--conn', params['conn']]
        for option in ('timeout', 'retries'):
            if params[option] is not None:
                args += ['--' + option, str(params[option])]
        return args

    def run(self, command, args=None):
        """Runs `tolvanectl COMMAND --conn ... ARGS` and answers its JSON object.

        A failure ends the module with tolvanectl's own message and exit code (the
        wizard's text and the cause; for bad usage its one line); where
        tolvanectl still printed its object (a write whose read-back differs), what it
        says is returned with the failure. A write that was committed but not read back
        is returned, with tolvanectl's message as a warning.
        """
        cmd = [self.binary, command] + self.link_args() + list(args or [])
        rc, out, err = self.module.run_command(cmd)
        result = self._parse(out)
        lines = [line for line in err.splitlines() if line.strip()]
        if rc == WRITTEN_NOT_READ_BACK and result is not None:
            self.module.warn(' '.join(lines))
        elif rc != 0:
            said = lines[:1] if rc == USAGE else lines
            failure = dict(msg=' '.join(said) or 'tolvanectl %s ended with exit code %d' % (command, rc),
                           rc=rc, cmd=cmd, stdout=out, stderr=err)
            if result is not None:
                failure.update(report_fields(result, self.module))
            self.module.fail_json(**failure)
        if result is None:
            self.module.fail_json(msg='tolvanectl %s printed no JSON object' % command, rc=rc, cmd=cmd,
                                  stdout=out, stderr=err)
        return result

    @staticmethod
    def _parse(out):
        try:
            result = json.loads(out)
        except ValueError:
            return None
        return result if isinstance(result, dict) else None


def report_fields(report, module):
    """The results a module returns of tolvanectl's write object.

    changed is taken only as a JSON boolean: anything else ("no", 0, null) means that
    tolvanectl answered something this collection does not know, and the task fails.
    """
    changed = report.get('changed')
    if not isinstance(changed, bool):
        module.fail_json(msg='tolvanectl answered something unexpected: "changed" is %s, not true or false'
                         % json.dumps(changed), report=report)
    fields = dict((key, report.get(key)) for key in ('before', 'after', 'read_back', 'changes', 'id', 'model'))
    fields['changed'] = changed
    return fields
