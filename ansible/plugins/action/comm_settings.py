# -*- coding: utf-8 -*-
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""Runs tolvane.controller.comm_settings on the control node."""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

from ansible_collections.tolvane.controller.plugins.module_utils.tolvanectl import SETTINGS_OPTIONS, settings_task
from ansible_collections.tolvane.controller.plugins.plugin_utils.controller_action import ControllerAction


class ActionModule(ControllerAction):
    OPTIONS = SETTINGS_OPTIONS
    TASK = staticmethod(settings_task)
