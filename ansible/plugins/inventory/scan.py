# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
name: scan
short_description: Finds a cell's robot controllers, named by their ids
version_added: 1.0.0
description:
  - Runs C(tolvanectl scan --json) over address ranges and serial ports and makes a host of
    each controller that answers, named by the id it answers with, so that an inventory
    finds the same controllers wherever they are reached (before and after a reboot that
    gave them new addresses).
  - Each host gets C(tolvane_conn), the connection the modules of this collection use when
    a task names no C(conn), C(tolvane_id) and C(tolvane_model); with I(details) also
    C(tolvane_settings).
  - A controller whose id another controller answers too, or that answers no id a host can
    be named by, is reported in a warning and not added; C(hostname=address) names each
    by where it answered instead.
  - The configuration is a YAML file whose name ends in C(tolvane.yml) or C(tolvane.yaml).
extends_documentation_fragment:
  - constructed
  - inventory_cache
options:
  plugin:
    description: The name of this plugin; C(tolvane.controller.scan) makes the file this plugin's.
    type: str
    required: true
    choices: [tolvane.controller.scan]
  targets:
    description:
      - What to try, as C(tolvanectl scan) takes it (the targets are tried in parallel).
      - C(eth:A.B.C.D), C(eth:A.B.C.D/NN) (NN from 16 to 32), C(eth:A.B.C.D-E.F.G.H) (at most
        65,536 addresses); C(com:N) (every rate of the wizard's list), C(com:N:BAUD:P:8:STOP),
        C(com:all).
    type: list
    elements: str
    required: true
  timeout:
    description:
      - The deadline of one attempt at an address or port setting, in milliseconds
        (C(tolvanectl scan --timeout)); without it tolvanectl's 500.
    type: int
  retries:
    description: Further attempts at each (C(tolvanectl scan --retries)); without it tolvanectl's 0.
    type: int
  parallel:
    description: Addresses and ports tried at once (C(tolvanectl scan --parallel)); without it tolvanectl's 64.
    type: int
  details:
    description:
      - Also read what each controller holds in C(tolvane_settings) (C(ip), C(mask),
        C(permission), C(baud)), the settings it uses after its next reboot; null where
        they could not be read.
    type: bool
    default: false
  hostname:
    description:
      - What names a host. C(id), the controller's id; or C(address), where it answered
        (C(A.B.C.D) on Ethernet, C(comN) on a serial port).
    type: str
    choices: [id, address]
    default: id
  tolvanectl:
    description: The path of the C(tolvanectl) program; without it, C(tolvanectl) is looked for on the PATH.
    type: path
    env:
      - name: TOLVANECTL
requirements:
  - tolvanectl (the Debian package C(tolvane))
notes:
  - A cached inventory (I(cache)) is the cell as it was found; C(--flush-cache), or the
    task C(ansible.builtin.meta) C(refresh_inventory) in a play, finds it again.
author:
  - Tolvane developers (@tolvane)
'''

EXAMPLES = r'''
# cell.tolvane.yml: the controllers on the cell's network, a group per model.
plugin: tolvane.controller.scan
targets:
  - eth:192.168.0.0/24
keyed_groups:
  - key: tolvane_model
    prefix: model

# line.tolvane.yml: a controller on each serial port at any rate, named by port, with its settings.
plugin: tolvane.controller.scan
targets:
  - com:all
hostname: address
details: true
compose:
  stored_address: tolvane_settings.ip
'''

import unicodedata

from ansible.errors import AnsibleParserError
from ansible.plugins.inventory import BaseInventoryPlugin, Cacheable, Constructable
from ansible_collections.tolvane.controller.plugins.module_utils.tolvanectl import (
    CONN_VAR, TaskFailed, failure_text, locate, parse_object)
from ansible_collections.tolvane.controller.plugins.plugin_utils.controller_action import run_command, which

# tolvanectl scan's exit codes that come with its answer: found, and none answered.
FOUND = 0
NONE_FOUND = 3


def usable_name(text):
    """Whether a controller's id can name a host: not blank, nothing a terminal takes as a command."""
    return bool(text.strip()) and not any(unicodedata.category(c) in ('Cc', 'Cf', 'Zl', 'Zp') for c in text)


def address_name(conn):
    """Where a controller answered, as a host name: A.B.C.D, or comN for a serial port."""
    kind, rest = conn.split(':', 1)
    return rest if kind == 'eth' else kind + rest.split(':')[0]


class InventoryModule(BaseInventoryPlugin, Constructable, Cacheable):

    NAME = 'tolvane.controller.scan'

    def verify_file(self, path):
        return super(InventoryModule, self).verify_file(path) and path.endswith(('tolvane.yml', 'tolvane.yaml'))

    def parse(self, inventory, loader, path, cache=True):
        super(InventoryModule, self).parse(inventory, loader, path, cache)
        self._read_config_data(path)
        key = self.get_cache_key(path)
        use_cache = self.get_option('cache') and cache
        found = None
        if use_cache:
            try:
                found = self._cache[key]
            except KeyError:
                pass
        if found is None:
            found = self._scan()
            if self.get_option('cache'):
                self._cache[key] = found
        self._populate(found)

    def _scan(self):
        """The controllers tolvanectl scan found, as its JSON lists them."""
        try:
            binary = locate(self.get_option('tolvanectl'), which)
        except TaskFailed as failure:
            raise AnsibleParserError(failure.result['msg'])
        cmd = [binary, 'scan'] + [str(t) for t in self.get_option('targets')] + ['--json']
        for option in ('timeout', 'retries', 'parallel'):
            if self.get_option(option) is not None:
                cmd += ['--' + option, str(self.get_option(option))]
        if self.get_option('details'):
            cmd.append('--details')
        rc, out, err = run_command(cmd)
        answer = parse_object(out)
        found = answer.get('found') if answer else None
        if rc not in (FOUND, NONE_FOUND) or not isinstance(found, list):
            raise AnsibleParserError('tolvanectl scan ended with exit code %d: %s'
                                     % (rc, failure_text(rc, err) or 'no answer'))
        for line in err.splitlines():  # settings that could not be read, said per controller
            if line.strip():
                self.display.warning('tolvanectl scan: %s' % line)
        if not found:
            self.display.warning('no controller answered at %s' % ', '.join(self.get_option('targets')))
        return found

    def _populate(self, found):
        by_address = self.get_option('hostname') == 'address'
        named = {}
        for controller in found:
            if not isinstance(controller, dict) or not all(
                    isinstance(controller.get(k), str) for k in ('conn', 'id', 'model')):
                raise AnsibleParserError('tolvanectl scan answered something unexpected: %r' % (controller,))
            if by_address:
                name = address_name(controller['conn'])
            elif usable_name(controller['id']):
                name = controller['id']
            else:
                self.display.warning('the controller at %s answered the id %r, which cannot name a host: not added '
                                     '(hostname: address names it by where it answered)'
                                     % (controller['conn'], controller['id']))
                continue
            named.setdefault(name, []).append(controller)

        strict = self.get_option('strict')
        for name, controllers in named.items():
            if len(controllers) > 1:
                self.display.warning('%s answered at %s: none of them is added, as it cannot be told which is %s'
                                     % (name, ', '.join(c['conn'] for c in controllers), name))
                continue
            controller = controllers[0]
            hostvars = {CONN_VAR: controller['conn'], 'tolvane_id': controller['id'],
                        'tolvane_model': controller['model']}
            if self.get_option('details'):
                hostvars['tolvane_settings'] = controller.get('settings')
            self.inventory.add_host(name)
            for var, value in hostvars.items():
                self.inventory.set_variable(name, var, value)
            self._set_composite_vars(self.get_option('compose'), hostvars, name, strict=strict)
            self._add_host_to_composed_groups(self.get_option('groups'), hostvars, name, strict=strict)
            self._add_host_to_keyed_groups(self.get_option('keyed_groups'), hostvars, name, strict=strict)
