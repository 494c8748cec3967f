# SPDX-License-Identifier: MIT
# SPDX-FileCopyrightText: 2026 Tolvane developers
"""The example playbook as an integrator runs it, against a simulated cell of 20
controllers on loopback that the inventory plugin finds, judged by Ansible's results and
by the controllers' state files, byte for byte; and the inventory plugin's hosts, groups
and variables."""

import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.environ['TOLVANE_SOURCE_DIR'], 'tests', 'support'))
from simcell import (Cell, addresses, copy_states, found, inventory, playbook, run_module, scan_file,  # noqa: E402
                     tolvanectl, used_cell)

BIN, SOURCE = os.environ['TOLVANE_BIN_DIR'], os.environ['TOLVANE_SOURCE_DIR']
PLAYBOOK = os.path.join(SOURCE, 'examples', 'ansible', 'commission.yml')
CELL, NEW = addresses('127.0.30', 1, 20), addresses('127.0.32', 1, 20)  # NEW: what the playbook sets
HOSTS = ['TLVSIM-' + a for a in CELL]  # the ids the controllers answer with
SETTINGS = ['--mask', '255.255.255.0', '--token', 'ethernet', '--token-ip', '127.0.32.254']


class CommissionACell(unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix='tolvane-ansible-')
        self.addCleanup(self.tmp.cleanup)
        tmp = self.tmp.name
        self.prepared, self.backups = os.path.join(tmp, 'prepared'), os.path.join(tmp, 'backups')
        used_cell(BIN, CELL, self.prepared)
        copy_states(self.prepared, CELL, os.path.join(tmp, 'cell'), CELL)
        # The last controller runs on its own, so that it can be restarted with a fault.
        # After a reboot each listens on the address its record holds.
        self.cells = [Cell(BIN, part, os.path.join(tmp, 'cell'), ['--follow-address']) for part in (CELL[:19], CELL[19:])]
        self.addCleanup(lambda: [cell.stop() for cell in self.cells])
        self.inventory = inventory(os.path.join(tmp, 'inventory'), BIN, CELL, NEW, self.backups,
                                   ['eth:%s-%s' % (CELL[0], CELL[-1]), 'eth:%s-%s' % (NEW[0], NEW[-1])])

    def play(self, *args):
        """ansible-playbook's exit code, its output, and each host's result of the settings task."""
        r, _ = playbook(self.tmp.name, self.inventory, PLAYBOOK, args, callback='minimal')
        results = {}
        for m in re.finditer(r'^(\S+) \| (\w+)!? => (\{.*?^\})$', r.stdout, re.M | re.S):
            results.setdefault(m.group(1), dict(json.loads(m.group(3)), status=m.group(2)))  # handlers come after
        self.assertEqual(sorted(results), sorted(HOSTS), r.stdout[-3000:] + r.stderr[-2000:])
        return r.returncode, r.stdout, results

    def states(self):
        return dict((a, s) for cell in self.cells for a, s in cell.states().items())

    def changed_since(self, states):
        """The controllers whose state files (records and error code) differ from states."""
        now = self.states()
        return [a for a in CELL if now[a] != states[a]]

    def where(self):
        """Where the inventory plugin found each host."""
        return dict((h, v['tolvane_conn']) for h, v in found(self.tmp.name, self.inventory)[0]['_meta']['hostvars'].items())

    def test_find_check_apply_reboot_find_again_and_a_failing_controller(self):
        start = self.states()
        self.assertEqual(len(set(start.values())), 20, 'each controller holds records of its own')
        self.assertEqual(self.where(), dict((h, 'eth:' + a) for h, a in zip(HOSTS, CELL)))

        # Check mode with diff: every controller would change, none is touched.
        rc, text, results = self.play('--check', '--diff')
        self.assertEqual((rc, [h for h in HOSTS if not results[h]['changed']]), (0, []))
        self.assertIn('--- before: eth:%s\n+++ after: eth:%s\n' % (CELL[0], CELL[0]), text)
        self.assertIn('\n-        "ip": "%s",\n-        "mask": "255.255.0.0",\n+        "ip": "%s",\n'
                      '+        "mask": "255.255.255.0",\n' % (CELL[0], NEW[0]), text)
        self.assertEqual(self.changed_since(start), [], 'check mode changed a record')
        self.assertFalse(os.path.exists(self.backups))

        # Apply: the records tolvanectl write gives for the same settings, and a backup of each.
        rc, _, results = self.play()
        self.assertEqual((rc, [h for h in HOSTS if not results[h]['reboot_required']]), (0, []))
        self.assertEqual(results[HOSTS[0]]['changes'], ['ethernet.ip', 'ethernet.mask', 'token.code', 'token.ip'])
        self.assertEqual(results[HOSTS[19]]['id'], 'TLVSIM-127.0.30.20')
        reference = addresses('127.0.31', 1, 20)
        copy_states(self.prepared, CELL, os.path.join(self.tmp.name, 'reference'), reference)
        by_hand = Cell(BIN, reference, os.path.join(self.tmp.name, 'reference'))
        self.addCleanup(by_hand.stop)
        for address, ip in zip(reference, NEW):
            r = tolvanectl(BIN, ['write', '--conn', 'eth:' + address, '--ip', ip] + SETTINGS)
            self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.changed_since(dict(zip(CELL, by_hand.states().values()))), [])
        self.assertEqual(len(os.listdir(self.backups)), 20)
        for host, address in zip(HOSTS, CELL):
            r = tolvanectl(BIN, ['restore', '--conn', 'eth:' + address, '--dry-run', results[host]['backup_path']])
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn('@CNF_BACKPRM: token.code 1 -> 3', r.stdout)  # the records as they were before
        after = self.states()

        # Again: nothing to change, nothing written, no backup.
        rc, text, results = self.play()
        self.assertEqual((rc, [h for h in HOSTS if results[h]['changed']]), (0, []))
        self.assertEqual((self.changed_since(after), len(os.listdir(self.backups))), ([], 20))

        # The power cycle: found again by their ids at their new addresses, where a check
        # run has nothing to change.
        for cell in self.cells:
            cell.reboot()
        self.assertEqual(self.where(), dict((h, 'eth:' + a) for h, a in zip(HOSTS, NEW)))
        rc, text, results = self.play('--check')
        self.assertEqual((rc, [h for h in HOSTS if results[h]['changed']]), (0, []))
        self.assertEqual(results[HOSTS[0]]['cmd'][1:4], ['write', '--conn', 'eth:' + NEW[0]])

        # A controller whose write fails fails alone, with tolvanectl's message and exit
        # code, and keeps all of its old settings.
        self.cells[1].stop()
        self.cells[1] = Cell(BIN, CELL[19:], os.path.join(self.tmp.name, 'cell'),
                             ['--fault', 'fail-write=@CNF_RAW_COM'])
        rc, _, results = self.play('-e', 'controller_token=com2')
        self.assertEqual([h for h in HOSTS if results[h]['status'] == 'FAILED'], [HOSTS[19]])
        self.assertEqual((results[HOSTS[19]]['rc'], results[HOSTS[19]]['msg']),
                         (5, 'Failed to send data to the controller. tolvanectl: the controller answered FAILED: '
                             'write of @CNF_RAW_COM failed (fault)'))
        self.assertNotIn('exception', results[HOSTS[19]])
        self.assertEqual((rc, self.changed_since(after)), (2, CELL[:19]))

        # What tolvanectl answers decides the result: a write the controller committed
        # but that another client kept from being read back is a change with a warning;
        # an answer that is not tolvanectl's own (changed not a JSON boolean) is a failure.
        self.cells[1].stop()
        self.cells[1] = Cell(BIN, CELL[19:], os.path.join(self.tmp.name, 'cell'), ['--fault', 'steal-after-commit'])
        fake = os.path.join(self.tmp.name, 'other-tolvanectl')
        with open(fake, 'w') as f:
            f.write('#!/bin/sh\necho \'{"changed": "no", "before": {}, "after": {}}\'\n')
        os.chmod(fake, 0o755)
        for name, binary, status, says, token_ip in (
                ('committed, not read back', os.path.join(BIN, 'tolvanectl'), 'CHANGED',
                 ('"read_back": false', '"warnings": ["tolvanectl: the settings were written'), None),
                ('changed is no boolean', fake, 'FAILED', ('tolvanectl answered something unexpected',), None),
                ('bad usage, said in its one line', os.path.join(BIN, 'tolvanectl'), 'FAILED',
                 ('"msg": "tolvanectl: --token-ip: expected A.B.C.D"', '"rc": 2'), '127.0.32'),):
            with self.subTest(name):
                args = dict(conn='eth:' + CELL[19], token='com4', tolvanectl=binary)
                if token_ip:
                    args['token_ip'] = token_ip
                r = run_module(self.tmp.name, 'comm_settings', args)
                self.assertIn('localhost | %s' % status, r.stdout, r.stdout[-1500:] + r.stderr[-1500:])
                for text in says:
                    self.assertIn(text, r.stdout + r.stderr)
        self.assertEqual(self.changed_since(after), CELL, 'the committed write is on the controller')

        # The module run itself (as ansible-test and a module's caller run it) is the same
        # task as the action plugin that Ansible runs in its place.
        args = dict(conn='eth:' + NEW[0], tolvanectl=os.path.join(BIN, 'tolvanectl'))
        by_action = json.loads(run_module(self.tmp.name, 'comm_settings_info', args).stdout.split(' => ', 1)[1])
        by_module = subprocess.run(
            [sys.executable, '-m', 'ansible_collections.tolvane.controller.plugins.modules.comm_settings_info'],
            input=json.dumps(dict(ANSIBLE_MODULE_ARGS=args)), capture_output=True, text=True, timeout=60,
            env=dict(os.environ, PYTHONPATH=os.environ['TOLVANE_COLLECTIONS_PATH']))
        self.assertEqual(dict((k, json.loads(by_module.stdout)[k]) for k in ('settings', 'id', 'cmd')),
                         dict((k, by_action[k]) for k in ('settings', 'id', 'cmd')))


class Inventory(unittest.TestCase):
    """The inventory plugin's hosts, groups and variables, from one cell on 127.0.33.x:
    three controllers (the second holding other settings), one that answers the first's
    id with another model, one whose id is blank, one whose id is a terminal command."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix='tolvane-inventory-')
        state = os.path.join(cls.tmp.name, 'cell')
        cls.cells = [Cell(BIN, addresses('127.0.33', 1, 3), state)]
        for address, ident, model in (('127.0.33.4', 'TLVSIM-127.0.33.1', 'Tolvane RC-9'),
                                      ('127.0.33.5', ' ', 'Tolvane RC-8'), ('127.0.33.6', 'RC\x1b[2J', 'Tolvane RC-8')):
            cls.cells.append(Cell(BIN, [address], state, ['--id', ident, '--model', model]))
        r = tolvanectl(BIN, ['write', '--conn', 'eth:127.0.33.2', '--ip', '127.0.33.102', '--mask', '255.255.0.0'])
        assert r.returncode == 0, r.stderr

    @classmethod
    def tearDownClass(cls):
        for cell in cls.cells:
            cell.stop()
        cls.tmp.cleanup()

    def test_hosts_groups_and_vars(self):
        rc8, rc9 = 'Tolvane RC-8 simulator', 'Tolvane RC-9'
        stored = dict(ip='127.0.33.102', mask='255.255.0.0', permission='ethernet', baud=38400)
        by_model = [dict(key='tolvane_model', prefix='model')]
        # name, what the file adds to plugin and tolvanectl, each host's variables (those
        # named), groups (those named) and what the warnings say.
        for name, config, hosts, groups, warnings in (
                ('by id', dict(targets=['eth:127.0.33.1-127.0.33.3']),
                 {'TLVSIM-127.0.33.1': dict(tolvane_conn='eth:127.0.33.1', tolvane_id='TLVSIM-127.0.33.1',
                                            tolvane_model=rc8),
                  'TLVSIM-127.0.33.2': dict(tolvane_conn='eth:127.0.33.2'),
                  'TLVSIM-127.0.33.3': dict(tolvane_conn='eth:127.0.33.3')}, {}, []),
                ('by address, with details, composed and grouped',
                 dict(targets=['eth:127.0.33.1-127.0.33.4'], hostname='address', details=True, keyed_groups=by_model,
                      compose=dict(stored_ip='tolvane_settings.ip'),
                      groups=dict(wide_mask="tolvane_settings.mask == '255.255.0.0'")),
                 {'127.0.33.1': dict(tolvane_id='TLVSIM-127.0.33.1', tolvane_model=rc8),
                  '127.0.33.2': dict(tolvane_conn='eth:127.0.33.2', tolvane_settings=stored, stored_ip='127.0.33.102'),
                  '127.0.33.3': dict(tolvane_settings=dict(stored, ip='192.168.0.1', mask='255.255.255.0')),
                  '127.0.33.4': dict(tolvane_id='TLVSIM-127.0.33.1', tolvane_model=rc9)},
                 dict(model_Tolvane_RC_8_simulator=['127.0.33.1', '127.0.33.2', '127.0.33.3'],
                      model_Tolvane_RC_9=['127.0.33.4'], wide_mask=['127.0.33.2']), []),
                ('an id twice: neither', dict(targets=['eth:127.0.33.1-127.0.33.4'], keyed_groups=by_model),
                 {'TLVSIM-127.0.33.2': {}, 'TLVSIM-127.0.33.3': {}},
                 dict(model_Tolvane_RC_8_simulator=['TLVSIM-127.0.33.2', 'TLVSIM-127.0.33.3']),
                 ['TLVSIM-127.0.33.1 answered at eth:127.0.33.1, eth:127.0.33.4: none of them is added']),
                ('no id a host can be named by', dict(targets=['eth:127.0.33.5-127.0.33.6']), {}, {},
                 ["the controller at eth:127.0.33.5 answered the id ' ', which cannot name a host",
                  "the controller at eth:127.0.33.6 answered the id 'RC\\x1b[2J', which cannot name a host"]),
                ('none answers', dict(targets=['eth:127.0.33.200']), {}, {},
                 ['no controller answered at eth:127.0.33.200']),
                ('error: a target tolvanectl refuses', dict(targets=['eth:127.0.33.0/8']), {}, {},
                 ['tolvanectl scan ended with exit code 2: tolvanectl: eth:127.0.33.0/8: the prefix length is 16 to 32']),
                ('cached: found again without tolvanectl', dict(targets=['eth:127.0.33.3'], cache=True,
                                                                cache_plugin='jsonfile'),
                 {'TLVSIM-127.0.33.3': dict(tolvane_conn='eth:127.0.33.3')}, {}, []),):
            with self.subTest(name):
                folder = os.path.join(self.tmp.name, name.replace(' ', '_').replace(':', ''))
                os.makedirs(folder)
                if config.get('cache'):
                    config['cache_connection'] = os.path.join(folder, 'cache')
                    found(folder, scan_file(folder, BIN, **config))
                    config['tolvanectl'] = '/bin/false'
                listed, stderr = found(folder, scan_file(folder, BIN, **config))
                hostvars = listed['_meta']['hostvars']
                self.assertEqual(sorted(hostvars), sorted(hosts), stderr)
                for host, values in hosts.items():
                    self.assertEqual(dict((k, hostvars[host].get(k)) for k in values), values)
                for group, members in groups.items():
                    self.assertEqual(sorted(listed.get(group, {}).get('hosts', [])), members)
                said = ' '.join(stderr.split())
                for text in warnings:
                    self.assertIn(text, said)
                self.assertEqual(warnings == [], '[WARNING]' not in said, said)


class Vocabulary(unittest.TestCase):
    """The module's choices, documented and taken, are tolvanectl's words."""

    def test_choices_are_tolvanectls(self):
        import ast
        import yaml
        helped = tolvanectl(BIN, ['help', 'write']).stdout
        words = dict(device=re.search(r'--device (\S+)\]', helped).group(1).split('|'),
                     token=re.search(r'--token (\S+)\]', helped).group(1).split('|'),
                     baud=[int(rate) for rate in
                           re.findall(r'\d+', re.search(r'--baud N +(.*) \(rs232c\)', helped).group(1))])
        trees = []
        for part in ('modules/comm_settings.py', 'module_utils/tolvanectl.py'):
            with open(os.path.join(SOURCE, 'ansible', 'plugins', part)) as f:
                trees.append(ast.parse(f.read()))
        names = dict((node.targets[0].id, ast.literal_eval(node.value)) for tree in trees for node in tree.body
                     if isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name)
                     and node.targets[0].id in ('DOCUMENTATION', 'DEVICES', 'BAUDS', 'TOKENS'))
        documented = yaml.safe_load(names['DOCUMENTATION'])['options']
        for option, constant in (('device', 'DEVICES'), ('baud', 'BAUDS'), ('token', 'TOKENS')):
            with self.subTest(option):
                self.assertEqual(names[constant], words[option])
                self.assertEqual(documented[option]['choices'], words[option])


if __name__ == '__main__':
    unittest.main()
