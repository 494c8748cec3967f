# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""A simulated cell for the Ansible test and benchmark: one tolvane-sim process with a
controller and a state file per loopback address, and an inventory of it."""

import json
import os
import select
import shutil
import signal
import subprocess
import time


def addresses(prefix, first, count):
    return ['%s.%d' % (prefix, n) for n in range(first, first + count)]


class Cell:
    """tolvane-sim --listen FIRST-LAST --state-dir DIR, once it has said ready."""

    def __init__(self, bindir, addrs, state_dir, extra=()):
        os.makedirs(state_dir, exist_ok=True)
        self.addresses, self.state_dir = list(addrs), state_dir
        # One controller alone gets the id it would have in a cell.
        listen = ['--listen', addrs[0], '--id', 'TLVSIM-' + addrs[0]] if len(addrs) == 1 \
            else ['--listen', '%s-%s' % (addrs[0], addrs[-1])]
        self.process = subprocess.Popen([os.path.join(bindir, 'tolvane-sim'), '--state-dir', state_dir] + listen
                                        + list(extra), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self._wait_ready()

    def _wait_ready(self):
        # It prints its ready line whole, once every controller answers; 20 s is the bound.
        ready = select.select([self.process.stdout], [], [], 20)[0] and self.process.stdout.readline()
        if ready != b'ready\n':
            self.stop()
            raise RuntimeError('tolvane-sim did not say ready: %r' % ready)

    def reboot(self):
        """SIGHUP, the power cycle: each controller starts again from its state file (with
        --follow-address at the address its record holds), then the cell says ready."""
        self.process.send_signal(signal.SIGHUP)
        self._wait_ready()

    def states(self):
        """Each controller's state file, its records and error code, as bytes."""
        result = {}
        for a in self.addresses:
            with open(os.path.join(self.state_dir, a + '.state'), 'rb') as f:
                result[a] = f.read()
        return result

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)
        self.process.stdout.close()


def copy_states(source_dir, source_addrs, target_dir, target_addrs):
    """Gives each target controller the state file of the source controller in its place."""
    os.makedirs(target_dir, exist_ok=True)
    for src, dst in zip(source_addrs, target_addrs):
        shutil.copyfile(os.path.join(source_dir, src + '.state'), os.path.join(target_dir, dst + '.state'))


def tolvanectl(bindir, args):
    return subprocess.run([os.path.join(bindir, 'tolvanectl')] + list(args), capture_output=True, text=True,
                          timeout=60)


def used_cell(bindir, addrs, state_dir):
    """State files of controllers that are not factory-new: each holds its own address,
    a /16 mask and a COM3 token of its own, so that a write that rebuilds a record from
    the factory's values shows."""
    cell = Cell(bindir, addrs, state_dir)
    try:
        for n, address in enumerate(addrs):
            r = tolvanectl(bindir, ['write', '--conn', 'eth:' + address, '--ip', address, '--mask', '255.255.0.0',
                                    '--token', 'com3', '--token-ip', '127.0.99.%d' % (n + 1)])
            if r.returncode != 0:
                raise RuntimeError('preparing %s: %s' % (address, r.stderr))
    finally:
        cell.stop()


def inventory(folder, bindir, addrs, new, backups, targets=None):
    """An inventory folder for examples/ansible/commission.yml, as the example's: a plan
    (plan.json) in which the controller of id TLVSIM-addrs[N] is to get the address
    new[N], a /24 mask and the Ethernet token; and with targets the inventory plugin's
    file (cell.tolvane.yml) that finds the controllers there, else each controller's
    tolvane_conn in the plan as the plugin would give it."""
    os.makedirs(folder, exist_ok=True)
    ctl = os.path.join(bindir, 'tolvanectl')
    hosts = dict(('TLVSIM-' + a, dict(controller_ip=ip) if targets else dict(controller_ip=ip, tolvane_conn='eth:' + a))
                 for a, ip in zip(addrs, new))
    group = dict(tolvanectl_path=ctl, controller_mask='255.255.255.0', controller_token='ethernet',
                 controller_token_ip=new[0].rsplit('.', 1)[0] + '.254', controller_backup_dir=backups)
    with open(os.path.join(folder, 'plan.json'), 'w') as f:
        json.dump(dict(controllers=dict(hosts=hosts, vars=group)), f)
    if targets:
        scan_file(folder, bindir, targets=list(targets))
    return folder


def scan_file(folder, bindir, **options):
    """The inventory plugin's file folder/cell.tolvane.yml with options, and this build's tolvanectl
    unless options name another; answers its path."""
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, 'cell.tolvane.yml')
    with open(path, 'w') as f:
        json.dump(dict(dict(plugin='tolvane.controller.scan', tolvanectl=os.path.join(bindir, 'tolvanectl')),
                       **options), f)
    return path


def ansible_env(tmp, forks=10, callback='default'):
    """The built collection and no user configuration."""
    return dict(os.environ, ANSIBLE_COLLECTIONS_PATH=os.environ['TOLVANE_COLLECTIONS_PATH'], ANSIBLE_NOCOLOR='1',
                ANSIBLE_FORKS=str(forks), ANSIBLE_STDOUT_CALLBACK=callback, ANSIBLE_LOCAL_TEMP=tmp,
                ANSIBLE_CONFIG=os.path.join(tmp, 'none.cfg'))


def playbook(tmp, inv, book, args=(), forks=10, callback='default'):
    """Runs ansible-playbook in tmp; answers its CompletedProcess and how many seconds it took."""
    start = time.monotonic()
    r = subprocess.run(['ansible-playbook', '-i', inv, book] + list(args), capture_output=True, text=True,
                       env=ansible_env(tmp, forks, callback), cwd=tmp, timeout=600)
    return r, time.monotonic() - start


def found(tmp, inv):
    """ansible-inventory --list of inv: each host's variables, and its warnings."""
    r = subprocess.run(['ansible-inventory', '-i', inv, '--list'], capture_output=True, text=True,
                       env=ansible_env(tmp), cwd=tmp, timeout=120)
    if r.returncode != 0:
        raise RuntimeError('ansible-inventory failed: %s' % r.stderr)
    return json.loads(r.stdout), r.stderr


def run_module(tmp, module, args):
    """One module of the collection on localhost, as a one-line ad-hoc command: its
    CompletedProcess, whose output reads "localhost | STATUS => {result}"."""
    return subprocess.run(['ansible', 'localhost', '-o', '-m', 'tolvane.controller.' + module, '-a', json.dumps(args)],
                          capture_output=True, text=True, env=ansible_env(tmp), cwd=tmp, timeout=120)
