#!/usr/bin/python
# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: comm_settings
short_description: Sets a robot controller's communication settings
version_added: 1.0.0
description:
  - Reads the controller's communication settings, applies the options the way the Tolvane
    wizard's pages do, and writes them back when anything changed, with C(tolvanectl write).
  - Options that are not given keep what the controller holds. When the settings already
    are as asked, nothing is written and the task reports no change.
  - A write is one transaction on the controller, which takes all of the new settings or none.
    The controller uses them after its next reboot (I(reboot_required)).
  - In check mode the settings are read and what would change is reported; nothing is
    written to the controller and no backup is saved.
extends_documentation_fragment:
  - tolvane.controller.link
options:
  device:
    description:
      - The permission device. Without it, the controller's own is kept.
      - Required when the controller's permission is both devices or none.
      - A change of the device alone is a change, and it is written.
    type: str
    choices: [ethernet, rs232c]
  ip:
    description:
      - The controller's Ethernet address, C(A.B.C.D). Only with the Ethernet device.
    type: str
  mask:
    description:
      - The controller's Ethernet subnet mask, C(A.B.C.D). Only with the Ethernet device.
    type: str
  baud:
    description:
      - The RS232C baud rate. Only with the RS232C device.
    type: int
    choices: [9600, 19200, 38400, 57600, 115200]
  token:
    description:
      - The executable token; without it, the controller's is kept.
    type: str
    choices: [open, io, ethernet, com2, com3, com4]
  token_ip:
    description:
      - The executable token's address, C(A.B.C.D).
    type: str
  backup:
    description:
      - Before a write that changes anything, save all six records of the controller in a
        backup file that C(tolvanectl restore) puts back. Without the file, nothing is written.
      - No file is made when nothing changes, nor in check mode.
    type: bool
    default: false
  backup_dir:
    description:
      - The folder of the backup files, made when missing. A file is named after the
        connection and the time (UTC), as in C(eth_10.0.0.5_20261210T084000.123456Z.tvbak).
    type: path
    default: ~/.local/state/tolvane/backups
attributes:
  check_mode:
    description: The settings are read and what would change is reported; nothing is written.
    support: full
  diff_mode:
    description: The settings before and after, as C(tolvanectl read) shows them.
    support: full
author:
  - Tolvane developers (@tolvane)
'''

EXAMPLES = r'''
# On a host the inventory plugin tolvane.controller.scan found, the task needs no conn.
- name: Give the cell's controllers their addresses and the Ethernet token
  tolvane.controller.comm_settings:
    ip: "{{ new_address }}"
    mask: 255.255.255.0
    token: ethernet
    token_ip: 10.20.0.1
    backup: true
    backup_dir: /srv/cell4/backups
  notify: Reboot the controller

- name: Switch a controller on COM3 to RS232C at 115200 baud
  tolvane.controller.comm_settings:
    conn: com:3:38400:N:8:1
    device: rs232c
    baud: 115200
    timeout: 2000
    retries: 1
'''

RETURN = r'''
changed:
  description: Whether the settings were written (in check mode, would be written).
  returned: always
  type: bool
before:
  description: The settings the controller held, as C(tolvanectl read) shows them.
  returned: success
  type: dict
  contains:
    permission:
      description: The permission device, C(ethernet), C(rs232c), C(both) or C(none).
      type: str
    ethernet:
      description: C(usage), C(ip) and C(mask).
      type: dict
    rs232c:
      description: C(usage), C(baud), C(parity), C(data_length), C(stop_bits) and C(delimiter), as the record holds them.
      type: dict
    token:
      description: C(code) and C(ip); null when the controller's token record cannot hold a token.
      type: dict
  sample:
    permission: ethernet
    ethernet: {usage: 2, ip: 192.168.0.1, mask: 255.255.255.0}
    rs232c: {usage: 0, baud: 38400, parity: 1, data_length: 8, stop_bits: 0, delimiter: 0}
    token: {code: 65535, ip: 192.168.0.10}
after:
  description:
    - The settings the controller holds after the task, read back from it; in check mode
      what it would hold. Of the same form as I(before).
    - When the controller committed the write but it could not be read back (another
      client took the controller right after the commit), what was written; I(read_back)
      is then false, the task is changed, and a warning says so.
  returned: success
  type: dict
read_back:
  description: Whether I(after) was read back from the controller (false in check mode).
  returned: success
  type: bool
changes:
  description: The fields that differ between I(before) and I(after).
  returned: success
  type: list
  elements: str
  sample: [ethernet.ip, token.code]
reboot_required:
  description:
    - True when the settings were written; the controller uses them after its next reboot.
      Always false in check mode, as nothing is written.
  returned: success
  type: bool
backup_path:
  description: The backup file saved before the write; null when none was saved.
  returned: success
  type: str
  sample: /srv/cell4/backups/eth_10.0.0.5_20261210T084000.123456Z.tvbak
id:
  description: The controller's id, as it answered when connected.
  returned: success
  type: str
  sample: TLVSIM-0001
model:
  description: The controller's model.
  returned: success
  type: str
  sample: Tolvane RC-8 simulator
cmd:
  description: The tolvanectl command the task ran.
  returned: always
  type: list
  elements: str
  sample: [/usr/bin/tolvanectl, write, --conn, eth:10.0.0.5, --ip, 10.0.0.15]
rc:
  description:
    - The exit code of tolvanectl (2 bad usage, 3 connect failed, 4 read failed, 5 write failed,
      6 read-back differs, 7 backup not written, 10 output lost).
  returned: failed
  type: int
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.tolvane.controller.plugins.module_utils.tolvanectl import (
    SETTINGS_OPTIONS, run_module, settings_task)


def main():
    # The action plugin of the same name runs this task on the control node; this is the
    # same task where the module itself is run.
    run_module(AnsibleModule(SETTINGS_OPTIONS, supports_check_mode=True), settings_task)


if __name__ == '__main__':
    main()
