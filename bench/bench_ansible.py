# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""bench_ansible.py [--sizes 20,100] [--rounds N] [--forks F]

Times the example playbook (examples/ansible/commission.yml: address, mask and token of
every controller, with a backup before each write) on a simulated cell against
Ansible's own floor: a playbook that runs ansible.builtin.command /bin/true on the same
inventory with the same forks. Each round starts the cell afresh from controllers that
hold other settings, then runs the floor, the first run (every controller changes) and
the second (none does), each as a whole ansible-playbook process, on the plan with each
controller's tolvane_conn as the inventory plugin gives it; and the inventory plugin
itself, ansible-inventory --list over the cell's /24. Prints Markdown tables of
medians; exits 1 when a run failed or changed or found what it should not.

Needs TOLVANE_BIN_DIR, TOLVANE_SOURCE_DIR and TOLVANE_COLLECTIONS_PATH, as the tests.
"""

import argparse
import os
import re
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.environ['TOLVANE_SOURCE_DIR'], 'tests', 'support'))
from simcell import Cell, addresses, copy_states, found, inventory, playbook, scan_file, used_cell  # noqa: E402

BIN = os.environ['TOLVANE_BIN_DIR']
SOURCE = os.environ['TOLVANE_SOURCE_DIR']
PLAYBOOK = os.path.join(SOURCE, 'examples', 'ansible', 'commission.yml')
# A module's floor: it runs where the controllers are reached, with the Python Ansible
# runs on (the playbook needs neither).
FLOOR = '''- hosts: controllers
  gather_facts: false
  connection: local
  vars:
    ansible_python_interpreter: "{{ ansible_playbook_python }}"
  tasks:
    - ansible.builtin.command: /bin/true
'''
GOALS = {'first run': 1.0, 'second run': 0.9}
LISTING_GOAL = 1.5  # seconds for ansible-inventory --list of a /24 with 20 controllers


def play(tmp, inv, book, forks):
    r, seconds = playbook(tmp, inv, book, forks=forks)
    recap = re.findall(r'^\S+\s+: ok=(\d+)\s+changed=(\d+)\s+unreachable=(\d+)\s+failed=(\d+)', r.stdout, re.M)
    changed = sum(1 for _, c, _, _ in recap if int(c) > 0)
    failed = sum(1 for _, _, u, f in recap if int(u) or int(f))
    if r.returncode != 0 or failed:
        sys.exit('bench_ansible: %s failed:\n%s%s' % (book, r.stdout[-3000:], r.stderr[-2000:]))
    return seconds, changed


def listing(tmp, source, size):
    """Seconds of ansible-inventory --list over the inventory plugin's file; all must be found."""
    start = time.monotonic()
    listed, stderr = found(tmp, source)
    seconds = time.monotonic() - start
    if len(listed['_meta']['hostvars']) != size or stderr:
        sys.exit('bench_ansible: the inventory plugin found %d of %d controllers:\n%s'
                 % (len(listed['_meta']['hostvars']), size, stderr))
    return seconds


def measure(size, rounds, forks, tmp):
    cell = addresses('127.0.41', 1, size)
    prepared = os.path.join(tmp, 'prepared-%d' % size)
    used_cell(BIN, cell, prepared)
    inv = inventory(os.path.join(tmp, 'inventory-%d' % size), BIN, cell, addresses('127.0.42', 1, size),
                    os.path.join(tmp, 'backups'))
    # The plugin's own file, apart from the plan: what an integrator's cell.tolvane.yml holds.
    source = scan_file(os.path.join(tmp, 'scan-%d' % size), BIN, targets=['eth:127.0.41.0/24'])
    floor_book = os.path.join(tmp, 'floor.yml')
    with open(floor_book, 'w') as f:
        f.write(FLOOR)
    times = dict(floor=[], listing=[], **dict((k, []) for k in GOALS))
    for n in range(rounds):
        state = os.path.join(tmp, 'cell-%d-%d' % (size, n))
        copy_states(prepared, cell, state, cell)
        sim = Cell(BIN, cell, state)
        try:
            times['listing'].append(listing(tmp, source, size))
            times['floor'].append(play(tmp, inv, floor_book, forks)[0])
            for name, expected in (('first run', size), ('second run', 0)):
                seconds, changed = play(tmp, inv, PLAYBOOK, forks)
                if changed != expected:
                    sys.exit('bench_ansible: the %s changed %d of %d controllers, not %d'
                             % (name, changed, size, expected))
                times[name].append(seconds)
        finally:
            sim.stop()
    return dict((k, statistics.median(v)) for k, v in times.items())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--sizes', default='20,100')
    parser.add_argument('--rounds', type=int, default=5)
    parser.add_argument('--forks', type=int, default=10)
    args = parser.parse_args()
    print('| controllers | playbook | median (s) | floor: command /bin/true (s) | ratio | forks | runs | goal |')
    print('|---|---|---|---|---|---|---|---|')
    missed = False
    listed = []
    with tempfile.TemporaryDirectory(prefix='bench-ansible-') as tmp:
        for size in [int(s) for s in args.sizes.split(',')]:
            m = measure(size, args.rounds, args.forks, tmp)
            listed.append((size, m['listing']))
            for name, goal in GOALS.items():
                ratio = m[name] / m['floor']
                missed |= ratio > goal
                print('| %d | %s (%s) | %.2f | %.2f | %.2f | %d | %d | %s ≤ %.1f |'
                      % (size, name, 'all changed' if name == 'first run' else 'changed=0', m[name], m['floor'],
                         ratio, args.forks, args.rounds, 'MISSED' if ratio > goal else 'met', goal))
            sys.stdout.flush()
    print()
    print('| controllers on the /24 | ansible-inventory --list, median (s) | runs | goal |')
    print('|---|---|---|---|')
    for size, seconds in listed:
        goal = 'met ≤ %.1f s' % LISTING_GOAL if seconds <= LISTING_GOAL else 'MISSED ≤ %.1f s' % LISTING_GOAL
        print('| %d | %.2f | %d | %s |' % (size, seconds, args.rounds, goal if size == 20 else 'none'))
    return 0


if __name__ == '__main__':
    sys.exit(main())
