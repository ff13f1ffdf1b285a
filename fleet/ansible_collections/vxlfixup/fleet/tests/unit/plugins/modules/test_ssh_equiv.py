# -*- coding: utf-8 -*-
# The ssh_equiv module against a stand-in for the tool that records its
# command line and the HOME it was given, in a home folder of the test's.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import stat

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes
from ansible_collections.vxlfixup.fleet.plugins.modules import ssh_equiv

FAKE_TOOL = '#!/bin/sh\nd=$(dirname "$0")\necho "$@" > "$d/argv"\necho "$HOME" > "$d/seen-home"\n' \
            'cat "$d/answer"\nexit "$(cat "$d/rc")"\n'
KEY_A = 'ssh-rsa AAAA node01'
KEY_B = 'ssh-rsa BBBB node02'


class Account:
    def __init__(self, home):
        self.pw_dir = home


@pytest.mark.parametrize('check, args, present, answer, rc, expect', [
    (False, {'operation': 'generate'}, None,
     {'publishedKey': '/w//n1.id_rsa.pub', 'error': ''}, 0,
     {'changed': True, 'argv': 'ssh-equiv generate --node n1', 'published': '/w//n1.id_rsa.pub'}),
    (False, {'operation': 'update', 'input': 'KEYS'}, KEY_A + '\n', {'error': ''}, 0,
     {'changed': True, 'keys_added': 1,
      'argv': 'ssh-equiv update --node n1 --work-dir WORK --input KEYS --file authorized_keys'}),
    (False, {'operation': 'update', 'input': 'KEYS'}, KEY_B + '\n' + KEY_A + '\n', {'error': ''}, 0,
     {'changed': False, 'keys_added': 0, 'argv': 'ssh-equiv update'}),
    # Check mode runs nothing and says whether a key is missing.
    (True, {'operation': 'update', 'input': 'KEYS'}, '', {}, 0,
     {'changed': True, 'keys_added': 2, 'argv': None}),
    (True, {'operation': 'update', 'input': 'KEYS'}, KEY_A + '\n' + KEY_B + '\n', {}, 0,
     {'changed': False, 'keys_added': 0, 'argv': None}),
    (False, {'operation': 'refresh'}, None, {'error': 'ssh-agent could not start'}, 1,
     {'failed': 'exit status 1: ssh-agent could not start', 'argv': 'ssh-equiv refresh'}),
    (False, {'operation': 'update'}, None, {}, 0,
     {'failed': 'operation is update but all of the following are missing: input', 'argv': None}),
    (False, {'operation': 'update', 'input': 'KEYS', 'file': '../../etc/passwd'}, None, {}, 0,
     {'failed': 'not a plain file name', 'argv': None}),
])
def test_ssh_equiv_module(tmp_path, module_answer, monkeypatch, check, args, present, answer, rc, expect):
    tool = tmp_path / 'vxlfixup'
    tool.write_text(FAKE_TOOL)
    tool.chmod(0o755)
    (tmp_path / 'answer').write_text(json.dumps(answer))
    (tmp_path / 'rc').write_text(str(rc))
    home = tmp_path / 'home'
    (home / '.ssh').mkdir(parents=True)
    if present is not None:
        (home / '.ssh' / 'authorized_keys').write_text(present)
    keys = tmp_path / 'keys'
    keys.write_text(KEY_A + '\n' + KEY_B + '\n')
    work = tmp_path / 'work'
    monkeypatch.setattr(ssh_equiv.pwd, 'getpwuid', lambda uid: Account(str(home)))
    full = dict(node='n1', vxlfixup_path=str(tool), work_dir=str(work), _ansible_check_mode=check,
                _ansible_tmpdir=str(tmp_path))
    full.update(args)
    if full.get('input') == 'KEYS':
        full['input'] = str(keys)
    basic._ANSIBLE_ARGS = to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': full}))
    out = module_answer(ssh_equiv.main, expect)
    if 'keys_added' in expect:
        assert out['keys_added'] == expect['keys_added']
    if 'published' in expect:
        assert out['published_key'] == expect['published']
    argv = tmp_path / 'argv'
    if expect['argv'] is None:
        assert not argv.exists()
        assert check or not work.exists()
        return
    wanted = expect['argv'].replace('WORK', str(work)).replace('KEYS', str(keys))
    assert argv.read_text().startswith(wanted)
    assert argv.read_text().rstrip().endswith('--format json')
    # The tool finds ~/.ssh of the user the module runs as.
    assert (tmp_path / 'seen-home').read_text().strip() == str(home)
    assert stat.S_IMODE(work.stat().st_mode) == 0o700
