# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""The collection as an integrator runs it: the guide's playbook with ansible-playbook
against a simulated cell of 20 controllers on loopback, judged by Ansible's results and
by the controllers' state files, byte for byte."""

import importlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

import yaml

sys.path.insert(0, os.path.join(os.environ['TOLVANE_SOURCE_DIR'], 'tests', 'support'))
from simcell import Cell, addresses, copy_states, tolvanectl, used_cell  # noqa: E402

BIN = os.environ['TOLVANE_BIN_DIR']
SOURCE = os.environ['TOLVANE_SOURCE_DIR']
COLLECTIONS = os.environ['TOLVANE_COLLECTIONS_PATH']
PLAYBOOK = os.path.join(SOURCE, 'examples', 'ansible', 'commission.yml')
CELL = addresses('127.0.30', 1, 20)
NEW = addresses('127.0.32', 1, 20)  # the addresses the playbook gives them
HOSTS = ['c%02d' % (n + 1) for n in range(20)]


class CommissionACell(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix='tolvane-ansible-')
        cls.prepared = os.path.join(cls.tmp, 'prepared')
        used_cell(BIN, CELL, cls.prepared)
        cls.cell_dir = os.path.join(cls.tmp, 'cell')
        copy_states(cls.prepared, CELL, cls.cell_dir, CELL)
        # The last controller runs on its own, so that it can be restarted with a fault.
        cls.cells = [Cell(BIN, CELL[:19], cls.cell_dir), Cell(BIN, CELL[19:], cls.cell_dir)]
        cls.backups = os.path.join(cls.tmp, 'backups')
        cls.inventory = os.path.join(cls.tmp, 'inventory.json')
        hosts = dict((h, dict(controller_conn='eth:' + a, controller_ip=ip)) for h, a, ip in zip(HOSTS, CELL, NEW))
        group_vars = dict(ansible_python_interpreter=sys.executable, tolvanectl_path=os.path.join(BIN, 'tolvanectl'),
                          controller_mask='255.255.255.0', controller_token='ethernet',
                          controller_token_ip='127.0.32.254', controller_backup_dir=cls.backups)
        with open(cls.inventory, 'w') as f:
            json.dump(dict(controllers=dict(hosts=hosts, vars=group_vars)), f)

    @classmethod
    def tearDownClass(cls):
        for cell in cls.cells:
            cell.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def ansible(self, args, callback='results', program='ansible-playbook'):
        env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=COLLECTIONS, ANSIBLE_STDOUT_CALLBACK=callback,
                   ANSIBLE_CALLBACK_PLUGINS=os.path.join(SOURCE, 'tests', 'ansible', 'callback_plugins'),
                   ANSIBLE_LOAD_CALLBACK_PLUGINS='1', ANSIBLE_NOCOLOR='1', ANSIBLE_LOCAL_TEMP=self.tmp,
                   ANSIBLE_CONFIG=os.path.join(self.tmp, 'none.cfg'), ANSIBLE_FORKS='10')
        r = subprocess.run([program, '-i', self.inventory] + args, capture_output=True, text=True, env=env,
                           cwd=self.tmp, timeout=240)
        if callback != 'results':
            return r.returncode, r.stdout
        try:
            return r.returncode, json.loads(r.stdout)
        except ValueError:
            self.fail('%s said no JSON: %s %s' % (program, r.stdout[:2000], r.stderr[-2000:]))

    def results(self, report, task=0):
        """Each host's result of the play's task (0: the settings task)."""
        return report['tasks'][task]['hosts']

    def states(self):
        return dict((a, s) for cell in self.cells for a, s in cell.states().items())

    def changed_since(self, states):
        """The controllers whose state files differ from those in states."""
        now = self.states()
        return [a for a in CELL if now[a] != states[a]]

    def backup_files(self):
        return sorted(os.listdir(self.backups)) if os.path.isdir(self.backups) else []

    def test_commissioning(self):
        start = self.states()
        self.assertEqual(len(set(start.values())), 20, 'each controller holds records of its own')

        # Check mode with diff: every controller would change, none is touched.
        rc, text = self.ansible([PLAYBOOK, '--check', '--diff'], callback='default')
        self.assertEqual(rc, 0, text)
        for host in HOSTS:
            self.assertRegex(text, r'\n%s\s+: ok=\d+\s+changed=1 ' % host)
        self.assertIn('--- before: eth:%s\n+++ after: eth:%s\n' % (CELL[0], CELL[0]), text)
        self.assertIn('\n-        "ip": "%s",\n-        "mask": "255.255.0.0",\n+        "ip": "%s",\n'
                      '+        "mask": "255.255.255.0",\n' % (CELL[0], NEW[0]), text)
        self.assertEqual(self.changed_since(start), [], 'check mode changed a record')
        self.assertEqual(self.backup_files(), [])

        # Apply: the same records as tolvanectl write gives, and a backup of each.
        rc, report = self.ansible([PLAYBOOK])
        self.assertEqual(rc, 0, json.dumps(report['stats']))
        applied = self.results(report)
        self.assertEqual(sorted(h for h, r in applied.items() if r['changed'] and r['reboot_required']), HOSTS)
        self.assertEqual(applied['c01']['changes'], ['ethernet.ip', 'ethernet.mask', 'token.code', 'token.ip'])
        self.assertEqual(applied['c20']['id'], 'TLVSIM-127.0.30.20')
        reference_dir = os.path.join(self.tmp, 'reference')
        reference = addresses('127.0.31', 1, 20)
        copy_states(self.prepared, CELL, reference_dir, reference)
        by_hand = Cell(BIN, reference, reference_dir)
        try:
            for address, ip in zip(reference, NEW):
                r = tolvanectl(BIN, ['write', '--conn', 'eth:' + address, '--ip', ip, '--mask', '255.255.255.0',
                                     '--token', 'ethernet', '--token-ip', '127.0.32.254'])
                self.assertEqual(r.returncode, 0, r.stderr)
            by_hand_states = by_hand.states()
            now = self.states()
            self.assertEqual([a for a, b in zip(CELL, reference) if now[a] != by_hand_states[b]], [])
        finally:
            by_hand.stop()
        self.assertEqual(len(self.backup_files()), 20)
        for host, address in zip(HOSTS, CELL):
            r = tolvanectl(BIN, ['restore', '--conn', 'eth:' + address, '--dry-run', applied[host]['backup_path']])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn('@CNF_BACKPRM: token.code 1 -> 3', r.stdout)  # the backup holds the records before
        after = self.states()

        # Again: nothing to change, nothing written, no backup.
        rc, report = self.ansible([PLAYBOOK])
        self.assertEqual(rc, 0)
        self.assertEqual([h for h, r in self.results(report).items() if r['changed']], [])
        self.assertEqual(report['stats']['c01']['changed'], 0)
        self.assertEqual(self.changed_since(after), [])
        self.assertEqual(len(self.backup_files()), 20)

        # What the info module reads, without a change.
        rc, report = self.ansible(['controllers', '-c', 'local', '-m', 'tolvane.controller.comm_settings_info', '-a',
                                   'conn={{ controller_conn }} tolvanectl={{ tolvanectl_path }}'],
                                  program='ansible')
        self.assertEqual(rc, 0)
        info = self.results(report)['c07']
        self.assertFalse(info['changed'])
        self.assertEqual((info['id'], info['settings']['ethernet']['ip']), ('TLVSIM-127.0.30.7', NEW[6]))
        self.assertEqual(self.changed_since(after), [])

        # A controller whose write fails fails alone, and keeps all of its old settings.
        self.cells[1].stop()
        self.cells[1] = Cell(BIN, CELL[19:], self.cell_dir, ['--fault', 'fail-write=@CNF_RAW_COM'])
        rc, report = self.ansible([PLAYBOOK, '-e', 'controller_token=com2'])
        self.assertNotEqual(rc, 0)
        results = self.results(report)
        self.assertEqual([h for h, r in results.items() if r.get('failed')], ['c20'])
        self.assertEqual(results['c20']['rc'], 5)
        self.assertIn('Failed to send data to the controller.', results['c20']['msg'])
        self.assertNotIn('exception', results['c20'])
        self.assertEqual(sum(1 for r in results.values() if r['changed']), 19)
        self.assertEqual(self.changed_since(after), CELL[:19])

    def test_failures_are_tolvanectls(self):
        # Each host fails in its own way; each failure is tolvanectl's message and exit
        # code, never a traceback.
        playbook = os.path.join(self.tmp, 'failures.yml')
        with open(playbook, 'w') as f:
            f.write('''- hosts: controllers
  gather_facts: false
  connection: local
  tasks:
    - tolvane.controller.comm_settings:
        conn: "{{ rows[inventory_hostname].conn | default(controller_conn) }}"
        device: "{{ rows[inventory_hostname].device | default(omit) }}"
        baud: "{{ rows[inventory_hostname].baud | default(omit) }}"
        timeout: 300
        retries: 0
        tolvanectl: "{{ rows[inventory_hostname].tolvanectl | default(tolvanectl_path) }}"
''')
        rows = {
            'c01': dict(expect=(3, 'Failed to connect to the controller.'), conn='eth:127.0.30.60'),
            'c02': dict(expect=(2, '--baud is 9600, 19200, 38400, 57600 or 115200'), device='rs232c', baud=4800),
            'c03': dict(expect=(None, 'tolvanectl'), tolvanectl='/nonexistent/tolvanectl'),
        }
        before = self.states()
        rc, report = self.ansible([playbook, '--limit', 'c01,c02,c03', '-e', json.dumps(dict(rows=rows))])
        self.assertNotEqual(rc, 0)
        results = self.results(report)
        for host, row in rows.items():
            code, says = row['expect']
            with self.subTest(host=host):
                self.assertTrue(results[host]['failed'])
                self.assertNotIn('exception', results[host])
                self.assertNotIn('module_stderr', results[host])
                self.assertIn(says, results[host]['msg'])
                if code is not None:
                    self.assertEqual(results[host]['rc'], code)
        self.assertEqual(self.changed_since(before), [])

    def test_documentation_matches_arguments(self):
        # What ansible-doc shows of each option is what the module accepts.
        sys.path.insert(0, COLLECTIONS)
        env = dict(os.environ, ANSIBLE_COLLECTIONS_PATH=COLLECTIONS)
        for name in ('comm_settings', 'comm_settings_info'):
            with self.subTest(module=name):
                full = 'tolvane.controller.' + name
                r = subprocess.run(['ansible-doc', '--json', full], capture_output=True, text=True, env=env,
                                   timeout=60)
                self.assertEqual(r.returncode, 0, r.stderr)
                doc = json.loads(r.stdout)[full]
                self.assertTrue(doc['examples'].strip() and doc['return'])
                options = doc['doc']['options']
                module = importlib.import_module('ansible_collections.tolvane.controller.plugins.modules.' + name)
                spec = module.argument_spec()
                self.assertEqual(sorted(options), sorted(spec))
                for option, accepted in spec.items():
                    shown = options[option]
                    for key in ('type', 'choices', 'default'):
                        self.assertEqual(shown.get(key), accepted.get(key), '%s: %s' % (option, key))
                    self.assertEqual(bool(shown.get('required')), bool(accepted.get('required')), option)
        # The inventory that docs/ansible.md works through is the example's.
        with open(os.path.join(SOURCE, 'docs', 'ansible.md')) as f:
            shown = f.read().split('```yaml\n', 1)[1].split('```', 1)[0]
        with open(os.path.join(SOURCE, 'examples', 'ansible', 'inventory.yml')) as f:
            self.assertEqual(yaml.safe_load(shown), yaml.safe_load(f))


if __name__ == '__main__':
    unittest.main()
