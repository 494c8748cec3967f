# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""A simulated cell of controllers for the Ansible tests and benchmark.

Each cell is one tolvane-sim process with one controller per loopback address and a
state file per controller, which the tests read to compare records byte for byte.
"""

import os
import select
import shutil
import subprocess
import time

READY_SECONDS = 20


def addresses(prefix, first, count):
    return ['%s.%d' % (prefix, n) for n in range(first, first + count)]


class Cell:
    """tolvane-sim --listen FIRST-LAST --state-dir DIR, started and waited for."""

    def __init__(self, bindir, addrs, state_dir, extra=()):
        os.makedirs(state_dir, exist_ok=True)
        self.addresses = list(addrs)
        self.state_dir = state_dir
        # One controller alone gets the id it would have in a cell.
        listen = ['--listen', self.addresses[0], '--id', 'TLVSIM-' + self.addresses[0]] \
            if len(self.addresses) == 1 else ['--listen', '%s-%s' % (self.addresses[0], self.addresses[-1])]
        self.process = subprocess.Popen(
            [os.path.join(bindir, 'tolvane-sim'), '--state-dir', state_dir] + listen + list(extra),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._wait_ready()

    def _wait_ready(self):
        deadline = time.monotonic() + READY_SECONDS
        line = b''
        while not line.endswith(b'\n'):
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                self.stop()
                raise RuntimeError('tolvane-sim did not say ready within %d s' % READY_SECONDS)
            byte = os.read(self.process.stdout.fileno(), 1)
            if not byte:
                err = self.process.stderr.read().decode(errors='replace')
                raise RuntimeError('tolvane-sim ended: ' + err)
            line += byte
        if line.strip() != b'ready':
            self.stop()
            raise RuntimeError('tolvane-sim said %r' % line)

    def state(self, address):
        """The bytes of a controller's state file: its records and its error code."""
        with open(os.path.join(self.state_dir, address + '.state'), 'rb') as f:
            return f.read()

    def states(self):
        return dict((a, self.state(a)) for a in self.addresses)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()


def copy_states(source_dir, source_addrs, target_dir, target_addrs):
    """Gives each target controller the state file of the source controller at its place."""
    os.makedirs(target_dir, exist_ok=True)
    for src, dst in zip(source_addrs, target_addrs):
        shutil.copyfile(os.path.join(source_dir, src + '.state'), os.path.join(target_dir, dst + '.state'))


def tolvanectl(bindir, args):
    return subprocess.run([os.path.join(bindir, 'tolvanectl')] + list(args), capture_output=True, text=True,
                          timeout=60)


def used_cell(bindir, addrs, state_dir):
    """State files of controllers that are not factory-new: each holds its own address,
    a /16 mask and the COM3 token, so that a write that rebuilds a record from the
    factory's values shows."""
    cell = Cell(bindir, addrs, state_dir)
    try:
        for n, address in enumerate(addrs):
            r = tolvanectl(bindir, ['write', '--conn', 'eth:' + address, '--ip', address, '--mask', '255.255.0.0',
                                    '--token', 'com3', '--token-ip', '127.0.99.%d' % (n + 1)])
            if r.returncode != 0:
                raise RuntimeError('preparing %s: %s' % (address, r.stderr))
    finally:
        cell.stop()
