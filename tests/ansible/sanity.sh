#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
#
# sanity.sh COLLECTION SCRATCH
# ansible-test sanity on the collection as ansible-galaxy installed it. The checks that
# need a virtual environment of their own install their requirements from PyPI, which
# this machine cannot reach, and are left out; the documentation they check is also
# checked against the modules' arguments by test_comm_settings.
set -euo pipefail
collection=$1
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/ansible_collections/tolvane"
cp -r "$collection" "$scratch/ansible_collections/tolvane/controller"
cd "$scratch/ansible_collections/tolvane/controller"
# ansible-test finds a collection's files through git; without it it skips them all.
git init -q .
skip=()
for t in ansible-doc import pep8 pylint runtime-metadata validate-modules yamllint; do
  skip+=(--skip-test "$t")
done
python=$(head -1 "$(command -v ansible-test)" | sed 's/^#! *//; s/ .*//')
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
ANSIBLE_COLLECTIONS_PATH=$scratch ansible-test sanity --python "$version" "${skip[@]}" --color no 2>&1 \
  | tee "$scratch/sanity.log"
# A run that checked nothing is no pass.
ran=$(grep -c '^Running sanity test' "$scratch/sanity.log" || true)
if grep -q 'All targets skipped' "$scratch/sanity.log" || [ "$ran" -lt 20 ]; then
  echo "sanity.sh: only $ran sanity tests ran, or they skipped every file" >&2
  exit 1
fi
