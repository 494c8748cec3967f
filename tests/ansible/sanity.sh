#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# sanity.sh COLLECTION SCRATCH: ansible-test sanity on the collection as ansible-galaxy
# installed it, on the Python Ansible runs on, without the checks that install their
# requirements from PyPI (this machine cannot reach it).
set -euo pipefail
rm -rf "$2" && mkdir -p "$2/ansible_collections/tolvane"
cp -r "$1" "$2/ansible_collections/tolvane/controller"
cd "$2/ansible_collections/tolvane/controller"
git init -q .  # ansible-test finds a collection's files through git, else it skips them all
python=$(head -1 "$(command -v ansible-test)" | sed 's/^#! *//; s/ .*//')
skip=(ansible-doc import pep8 pylint runtime-metadata validate-modules yamllint)
ANSIBLE_COLLECTIONS_PATH=$2 ansible-test sanity --color no ${skip[@]/#/--skip-test=} \
  --python "$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')" 2>&1 | tee "$2/sanity.log"
# A run that checked nothing is no pass.
ran=$(grep -c '^Running sanity test' "$2/sanity.log" || true)
if grep -q 'All targets skipped' "$2/sanity.log" || [ "$ran" -lt 20 ]; then
  echo "sanity.sh: only $ran sanity tests ran, or they skipped every file" >&2
  exit 1
fi
