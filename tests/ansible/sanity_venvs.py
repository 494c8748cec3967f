# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""sanity_venvs.py TEST...: gives each ansible-test sanity test the environment it would
install from PyPI, made of the Debian packages instead.

ansible-test runs a sanity test that needs tools (pylint, pycodestyle, yamllint,
voluptuous) in a virtual environment of its own under ~/.ansible/test/venv, named by a
hash of what it would install with pip. This machine reaches no PyPI, so each is made
here ahead of it: a venv that sees the system's site packages, marked as complete, where
ansible-test then finds the Debian package's tool.
"""

import json
import os
import subprocess
import sys
import pathlib

from ansible_test._internal.commands.sanity import hash_pip_commands
from ansible_test._internal.host_configs import NativePythonConfig
from ansible_test._internal.python_requirements import collect_requirements
from ansible_test._internal.util_common import yamlcheck


def main():
    version = '%d.%d' % sys.version_info[:2]
    python = NativePythonConfig(version=version, path=sys.executable)
    for name in sys.argv[1:]:
        # The import test's own environments (import.module, import.plugin) are minimized.
        commands = collect_requirements(python=python, controller=True, virtualenv=False, command=None,
                                        ansible=False, cryptography=False, coverage=False,
                                        minimize=name.startswith('import.'), sanity=name)
        label = 'sanity.%s' % name if commands else 'sanity'
        path = os.path.join(os.path.expanduser('~/.ansible/test/venv'), label, version, hash_pip_commands(commands))
        if os.path.exists(os.path.join(path, 'marker.txt')):
            continue
        subprocess.run([sys.executable, '-m', 'venv', '--system-site-packages', '--without-pip', path], check=True)
        venv = NativePythonConfig(version=version, path=os.path.join(path, 'bin', 'python'))
        with open(os.path.join(path, 'meta.install.json'), 'w') as f:
            json.dump([command.serialize() for command in commands], f)
        with open(os.path.join(path, 'meta.yaml.json'), 'w') as f:
            json.dump(yamlcheck(venv), f)
        pathlib.Path(path, 'marker.txt').touch()


if __name__ == '__main__':
    main()
