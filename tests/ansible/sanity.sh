#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# sanity.sh COLLECTION SCRATCH: ansible-test sanity on the collection as ansible-galaxy
# installed it, on the Python Ansible runs on. Every test runs: those that need tools
# (pycodestyle, pylint, yamllint, voluptuous) with the Debian packages' instead of the
# PyPI ones ansible-test would install (sanity_venvs.py); an exception for one file
# stands with its reason in the collection's tests/sanity/ignore-2.14.txt.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$2" && mkdir -p "$2/ansible_collections/tolvane" "$2/home"
cp -r "$1" "$2/ansible_collections/tolvane/controller"
cd "$2/ansible_collections/tolvane/controller"
git init -q .  # ansible-test finds a collection's files through git, else it skips them all
python=$(head -1 "$(command -v ansible-test)" | sed 's/^#! *//; s/ .*//')
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
export HOME=$2/home  # the tests' environments, made here, not in the user's home
"$python" "$here/sanity_venvs.py" ansible-doc import import.module import.plugin pep8 pylint runtime-metadata \
  validate-modules yamllint
ANSIBLE_COLLECTIONS_PATH=$2 ansible-test sanity --color no --junit --python "$version" 2>&1 | tee "$2/sanity.log"

# A run that left a test out is no pass: each test ran, and one skipped only where the
# collection has no file of its kind (PowerShell, shell scripts, changelog fragments).
all=$(ANSIBLE_COLLECTIONS_PATH=$2 ansible-test sanity --list-tests --python "$version" | wc -l)
ran=$(grep -c '^Running sanity test' "$2/sanity.log" || true)
skips=$(grep -h -o '<skipped>[^<]*' tests/output/junit/*.xml | grep -v -c '<skipped>No tests applicable\.$' || true)
if [ "$ran" -ne "$all" ] || [ "$all" -lt 30 ] || [ "$skips" -ne 0 ]; then
  echo "sanity.sh: $ran of $all sanity tests ran, $skips skipped for want of something" >&2
  exit 1
fi
