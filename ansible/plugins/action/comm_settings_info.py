# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""Runs tolvane.controller.comm_settings_info on the control node."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.tolvane.controller.plugins.module_utils.tolvanectl import INFO_OPTIONS, info_task
from ansible_collections.tolvane.controller.plugins.plugin_utils.controller_action import ControllerAction


class ActionModule(ControllerAction):
    OPTIONS = INFO_OPTIONS
    TASK = staticmethod(info_task)
