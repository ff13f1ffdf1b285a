# -*- coding: utf-8 -*-
# The fix module against a stand-in for the tool that records its command line
# and answers with a given report and exit status.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import stat

import pytest

from ansible.module_utils import basic
from ansible.module_utils.common.text.converters import to_bytes
from ansible_collections.vxlfixup.fleet.plugins.modules import fix

FAKE_TOOL = '#!/bin/sh\necho "$@" > "$(dirname "$0")/argv"\ncat "$(dirname "$0")/answer"\n' \
            'exit "$(cat "$(dirname "$0")/rc")"\n'

OK = {'task': 'TASKKERNELPARAM', 'instance': 0, 'node': 'n1', 'status': 'SUCCESSFUL',
      'messages': [], 'nativeErrors': []}
BAD = dict(OK, instance=1, status='FAILED', messages=['Vxlg-9031(x)'])
PLAN = {'changesNothing': False, 'outcomes': [OK], 'outputDocument': '/copy/out.xml',
        'files': [{'path': '/etc/sysctl.conf', 'change': 'modified', 'kind': 'text',
                   'details': '', 'diff': '--- a/etc/sysctl.conf\n+++ b/etc/sysctl.conf\n'}],
        'kernelValues': [{'key': 'kernel.shmmax', 'before': '1', 'after': '2'}],
        'commands': [], 'recordedCalls': [], 'cannotShow': []}


def run_module(tmp_path, args, answer, rc=0, check=False):
    tool = tmp_path / 'vxlfixup'
    tool.write_text(FAKE_TOOL)
    tool.chmod(0o755)
    (tmp_path / 'answer').write_text(answer if isinstance(answer, str) else json.dumps(answer))
    (tmp_path / 'rc').write_text(str(rc))
    doc = tmp_path / 'doc.xml'
    doc.write_text('<x/>')
    script = tmp_path / 'fix.sh'
    script.write_text('echo fix\n')
    module_tmp = tmp_path / 'ansible-tmp'
    module_tmp.mkdir(exist_ok=True)
    full = dict(document=str(doc), remote_src=True, node='n1', vxlfixup_path=str(tool),
                work_dir=str(tmp_path / 'work'), scripts=[str(script)],
                _ansible_check_mode=check, _ansible_diff=True, _ansible_tmpdir=str(module_tmp),
                _ansible_remote_tmp=str(module_tmp), _ansible_keep_remote_files=True)
    full.update(args)
    basic._ANSIBLE_ARGS = to_bytes(json.dumps({'ANSIBLE_MODULE_ARGS': full}))
    return full


@pytest.mark.parametrize('check, args, answer, rc, expect', [
    # A plan that would change files: changed, with the diff; nothing placed.
    (True, {}, PLAN, 0, {'changed': True, 'verb': 'plan', 'diffs': 2, 'work_dir': False}),
    (True, {}, dict(PLAN, changesNothing=True, files=[], kernelValues=[]), 0,
     {'changed': False, 'verb': 'plan', 'diffs': 0, 'work_dir': False}),
    (True, {}, dict(PLAN, outcomes=[OK, BAD]), 0,
     {'failed': '1 outcome(s) FAILED: TASKKERNELPARAM #1', 'verb': 'plan'}),
    # A run: the work directory made 0700 and the script placed there.
    (False, {}, {'outcomes': [OK]}, 0, {'changed': True, 'verb': 'run', 'work_dir': True}),
    (False, {}, {'outcomes': [OK, BAD]}, 0,
     {'failed': '1 outcome(s) FAILED: TASKKERNELPARAM #1', 'verb': 'run'}),
    (False, {'fail_on_failed': False}, {'outcomes': [OK, BAD]}, 0,
     {'changed': True, 'verb': 'run', 'work_dir': True}),
    (False, {}, {'outcomes': [], 'error': 'the document cannot be read'}, 1,
     {'failed': 'exit status 1: the document cannot be read', 'verb': 'run'}),
    (False, {}, 'usage: vxlfixup run', 2, {'failed': 'did not answer with JSON', 'verb': 'run'}),
    (False, {'vxlfixup_path': '/nonexistent/vxlfixup'}, {}, 0,
     {'failed': 'is not an executable program', 'verb': None}),
    (False, {'document': '/nonexistent/doc.xml'}, {}, 0,
     {'failed': 'is not a file on the node', 'verb': None}),
])
def test_fix_module(tmp_path, module_answer, check, args, answer, rc, expect):
    full = run_module(tmp_path, args, answer, rc, check)
    out = module_answer(fix.main, expect)
    if 'failed' not in expect:
        assert out['outcomes'] == answer['outcomes']
    argv_file = tmp_path / 'argv'
    if expect['verb'] is None:
        assert not argv_file.exists()
    else:
        argv = argv_file.read_text().split()
        assert argv[:4] == [expect['verb'], full['document'], '--node', 'n1']
        assert argv[-2:] == ['--format', 'json']
    if 'diffs' in expect:
        assert len(out.get('diff', [])) == expect['diffs']
    work = tmp_path / 'work'
    if expect.get('work_dir'):
        assert stat.S_IMODE(work.stat().st_mode) == 0o700
        assert (work / 'fix.sh').read_text() == 'echo fix\n'
    elif check:
        # A plan leaves the node as it was.
        assert not work.exists()
        assert os.listdir(str(tmp_path / 'ansible-tmp')) == []
