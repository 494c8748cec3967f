#!/usr/bin/python
# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: comm_settings_info
short_description: Reads a robot controller's communication settings
version_added: 1.0.0
description:
  - Reads the controller's communication settings with C(tolvanectl read), and its id and model.
  - Never changes anything on the controller.
extends_documentation_fragment:
  - tolvane.controller.link
attributes:
  check_mode:
    description: The same as without it; the module never changes anything.
    support: full
  diff_mode:
    description: Nothing to show; the module never changes anything.
    support: none
author:
  - Tolvane developers (@tolvane)
'''

EXAMPLES = r'''
- name: Read what each controller of the cell holds
  tolvane.controller.comm_settings_info:
  register: found

- name: Read a controller on COM3 that no inventory found
  tolvane.controller.comm_settings_info:
    conn: com:3:38400:N:8:1
  register: on_com3

- name: Show its address
  ansible.builtin.debug:
    msg: "{{ found.id }} holds {{ found.settings.ethernet.ip }}"
'''

RETURN = r'''
settings:
  description:
    - The decoded settings, as C(tolvanectl read) shows them, of the same form as I(before)
      and I(after) of M(tolvane.controller.comm_settings) (C(permission), C(ethernet),
      C(rs232c) and C(token)).
  returned: success
  type: dict
  sample: {permission: ethernet, ethernet: {usage: 2, ip: 192.168.0.1, mask: 255.255.255.0}}
id:
  description: The controller's id, as it answered when connected.
  returned: success
  type: str
model:
  description: The controller's model.
  returned: success
  type: str
cmd:
  description: The tolvanectl command the task ran.
  returned: always
  type: list
  elements: str
  sample: [/usr/bin/tolvanectl, read, --conn, eth:10.0.0.5]
rc:
  description: The exit code of tolvanectl (3 connect failed, 4 read failed).
  returned: failed
  type: int
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tolvane.controller.plugins.module_utils.tolvanectl import (
    INFO_OPTIONS, info_task, run_module)


def main():
    # The action plugin of the same name runs this task on the control node; this is the
    # same task where the module itself is run.
    run_module(AnsibleModule(INFO_OPTIONS, supports_check_mode=True), info_task)


if __name__ == '__main__':
    main()
