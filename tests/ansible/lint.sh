#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# lint.sh SCRATCH, in examples/ansible: ansible-lint (its production profile) over the
# example playbook and inventory, with the built collection and nothing from the network.
set -euo pipefail
rm -rf "$1" && mkdir -p "$1"
HOME=$1 ANSIBLE_COLLECTIONS_PATH=$TOLVANE_COLLECTIONS_PATH ansible-lint --offline --profile production --nocolor \
  commission.yml inventory/plan.yml inventory/cell.tolvane.yml
