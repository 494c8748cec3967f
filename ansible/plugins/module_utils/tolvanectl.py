# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""Runs tolvanectl for the modules of this collection.

The settings' rules (which rates exist, what a change is, how the records are merged
and written) are tolvanectl's: a task only turns its options into its flags and its JSON
back into results, so that a playbook and the wizard can never disagree.

One task is one function of the validated options (`settings_task`, `info_task`) over a
`Tolvanectl`, which runs the program with whatever runs processes where the task runs:
the action plugins on the control node (the usual way, no module is sent anywhere), the
modules through AnsibleModule.run_command where a module is run itself.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import datetime
import json
import os
import re

# tolvanectl's exit code of bad usage: its first line says what was wrong, the usage
# after it is no result of a task.
USAGE = 2
# tolvanectl's exit code of a write the controller committed but that could not be read
# back: the settings were written, so it is a change with a warning, never a failure.
WRITTEN_NOT_READ_BACK = 11

# The host variable the inventory plugin tolvane.controller.scan gives each controller it
# found: the connection a task uses when it names none.
CONN_VAR = 'tolvane_conn'

# tolvanectl's words, as its help names them (a test holds these lists, the modules'
# documentation and tolvanectl's help together).
DEVICES = ['ethernet', 'rs232c']
BAUDS = [9600, 19200, 38400, 57600, 115200]
TOKENS = ['open', 'io', 'ethernet', 'com2', 'com3', 'com4']

# The options every module takes: how to reach the controller and where tolvanectl is.
# conn is not required: on a host the inventory plugin found, tolvane_conn stands for it.
LINK_OPTIONS = dict(
    conn=dict(type='str'),
    timeout=dict(type='int'),
    retries=dict(type='int'),
    tolvanectl=dict(type='path'),
)

INFO_OPTIONS = dict(LINK_OPTIONS)

SETTINGS_OPTIONS = dict(
    LINK_OPTIONS,
    device=dict(type='str', choices=DEVICES),
    ip=dict(type='str'),
    mask=dict(type='str'),
    baud=dict(type='int', choices=BAUDS),
    token=dict(type='str', choices=TOKENS),
    # An address, not a secret.
    token_ip=dict(type='str', no_log=False),
    backup=dict(type='bool', default=False),
    backup_dir=dict(type='path', default='~/.local/state/tolvane/backups'),
)

# Option name and tolvanectl's flag, for each option that edits a setting.
SETTING_FLAGS = (
    ('device', '--device'),
    ('ip', '--ip'),
    ('mask', '--mask'),
    ('baud', '--baud'),
    ('token', '--token'),
    ('token_ip', '--token-ip'),
)


class TaskFailed(Exception):
    """Ends a task as failed; result holds msg and whatever else the failure returns."""

    def __init__(self, **result):
        super(TaskFailed, self).__init__(result.get('msg'))
        self.result = result


def locate(given, which):
    """The tolvanectl to run: given (the option tolvanectl), else which('tolvanectl') on the PATH."""
    binary = given or which('tolvanectl')
    if not binary:
        raise TaskFailed(msg='tolvanectl was not found on the PATH; install the package tolvane, put the '
                             'folder of tolvanectl on the PATH, or name it with the option tolvanectl')
    if not os.access(binary, os.X_OK):
        raise TaskFailed(msg='tolvanectl is not a program that can be run: %s' % binary)
    return binary


def failure_text(rc, err):
    """What tolvanectl said of a failure, on one line: for bad usage its first line, not the usage."""
    lines = [line for line in err.splitlines() if line.strip()]
    return ' '.join(lines[:1] if rc == USAGE else lines)


class Tolvanectl(object):
    """One task's calls of tolvanectl; each call is one process and one session.

    params are the task's validated options, with conn already resolved; run_command(cmd)
    answers (rc, stdout, stderr) as text; which(name) answers the program's path on the
    PATH, or None.
    """

    def __init__(self, params, run_command, which):
        if not params.get('conn'):
            raise TaskFailed(msg='no controller to reach: give conn, or run the task on a host that the inventory '
                                 'plugin tolvane.controller.scan found (its %s is used)' % CONN_VAR)
        self.params = params
        self.run_command = run_command
        self.warnings = []
        self.binary = locate(params.get('tolvanectl'), which)

    def link_args(self):
        args = ['--conn', self.params['conn']]
        for option in ('timeout', 'retries'):
            if self.params.get(option) is not None:
                args += ['--' + option, str(self.params[option])]
        return args

    def run(self, command, args=None):
        """Runs `tolvanectl COMMAND --conn ... ARGS`; answers its JSON object and the command.

        A failure raises TaskFailed with tolvanectl's own message and exit code (the
        wizard's text and the cause; for bad usage its one line); where tolvanectl still
        printed its object (a write whose read-back differs), what it says comes with the
        failure. A write that was committed but not read back is answered, with
        tolvanectl's message as a warning.
        """
        cmd = [self.binary, command] + self.link_args() + list(args or [])
        rc, out, err = self.run_command(cmd)
        result = parse_object(out)
        if rc == WRITTEN_NOT_READ_BACK and result is not None:
            self.warnings.append(failure_text(rc, err))
        elif rc != 0:
            failure = dict(msg=failure_text(rc, err) or 'tolvanectl %s ended with exit code %d' % (command, rc),
                           rc=rc, cmd=cmd, stdout=out, stderr=err)
            if result is not None:
                failure.update(report_fields(result, cmd))
            raise TaskFailed(**failure)
        if result is None:
            raise TaskFailed(msg='tolvanectl %s printed no JSON object' % command, rc=rc, cmd=cmd, stdout=out,
                             stderr=err)
        return result, cmd


def parse_object(text):
    """The JSON object text holds, or None."""
    try:
        result = json.loads(text)
    except ValueError:
        return None
    return result if isinstance(result, dict) else None


def report_fields(report, cmd):
    """The results a task returns of tolvanectl's write object.

    changed is taken only as a JSON boolean: anything else ("no", 0, null) means that
    tolvanectl answered something this collection does not know, and the task fails.
    """
    changed = report.get('changed')
    if not isinstance(changed, bool):
        raise TaskFailed(msg='tolvanectl answered something unexpected: "changed" is %s, not true or false'
                         % json.dumps(changed), report=report, cmd=cmd)
    fields = dict((key, report.get(key)) for key in ('before', 'after', 'read_back', 'changes', 'id', 'model'))
    fields.update(changed=changed, cmd=cmd)
    return fields


def backup_path(params):
    """A new backup file's path: the folder (made when missing), the connection and the time."""
    folder = params['backup_dir']
    try:
        os.makedirs(folder, mode=0o700)
    except OSError:
        if not os.path.isdir(folder):
            raise TaskFailed(msg='cannot make the backup folder %s' % folder)
    stamp = datetime.datetime.now(datetime.timezone.utc).strftime('%Y%m%dT%H%M%S.%fZ')
    name = re.sub(r'[^A-Za-z0-9.]', '_', params['conn'])
    return os.path.join(folder, '%s_%s.tvbak' % (name, stamp))


def settings_task(ctl, check_mode, diff):
    """tolvane.controller.comm_settings: what the task returns."""
    params = ctl.params
    args = []
    for option, flag in SETTING_FLAGS:
        if params.get(option) is not None:
            args += [flag, str(params[option])]
    if check_mode:
        args.append('--dry-run')
    elif params.get('backup'):
        args += ['--backup', backup_path(params)]

    report, cmd = ctl.run('write', args)
    result = report_fields(report, cmd)
    result['reboot_required'] = result['changed'] and not check_mode
    result['backup_path'] = report.get('backup')
    if diff:
        header = params['conn']
        result['diff'] = dict(before=report.get('before'), after=report.get('after'),
                              before_header=header, after_header=header)
    return result


def info_task(ctl, check_mode, diff):  # pylint: disable=unused-argument
    """tolvane.controller.comm_settings_info: what the task returns; it never changes anything."""
    settings, cmd = ctl.run('read')
    identity = dict((key, settings.pop(key, None)) for key in ('id', 'model'))
    return dict(changed=False, settings=settings, cmd=cmd, **identity)


def run_module(module, task):
    """Runs task where the module itself runs, and ends the module with its result."""
    try:
        ctl = Tolvanectl(module.params, module.run_command, module.get_bin_path)
        result = task(ctl, module.check_mode, module._diff)  # pylint: disable=protected-access
    except TaskFailed as failure:
        module.fail_json(**failure.result)
    for warning in ctl.warnings:
        module.warn(warning)
    module.exit_json(**result)
