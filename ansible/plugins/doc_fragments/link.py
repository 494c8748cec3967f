# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers

from __future__ import absolute_import, division, print_function

__metaclass__ = type


class ModuleDocFragment(object):
    # The options of every module of this collection: the controller and tolvanectl.
    DOCUMENTATION = r'''
options:
  conn:
    description:
      - The connection to the controller, as C(tolvanectl) and the wizard's connection page take it.
      - C(eth:A.B.C.D) for TCP (port 47311), or C(com:N:BAUD:P:8:STOP) for the serial port COM N
        (parity C(E), C(N) or C(O), 8 data bits, stop bits C(1), C(1.5) or C(2)).
      - Without it, the host's C(tolvane_conn), where the inventory plugin
        C(tolvane.controller.scan) found the controller; a task with neither fails.
      - Two tasks on the same serial port never interleave; the second waits for the port
        as long as an unreachable controller would be waited for, then fails.
    type: str
  timeout:
    description:
      - The link's inactivity bound of one attempt, in milliseconds (C(tolvanectl --timeout)).
      - An unreachable controller fails within I(timeout) times (1 + I(retries)) and a little.
      - Without it, tolvanectl's default (4000) holds.
    type: int
  retries:
    description:
      - Further attempts after the first (C(tolvanectl --retries)); without it, tolvanectl's default (3).
    type: int
  tolvanectl:
    description:
      - The path of the C(tolvanectl) program; without it, C(tolvanectl) is looked for on the PATH.
    type: path
notes:
  - The task runs C(tolvanectl) on the control node, the machine Ansible runs on, which must
    reach the controller; nothing is sent to the host, which needs neither a connection nor
    Python (the controller is not a machine that runs them).
  - The modules are the group C(tolvane.controller.controller) of I(module_defaults).
requirements:
  - tolvanectl (the Debian package C(tolvane))
'''
