# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os
import stat

import pytest

from ansible_collections.vxlfixup.fleet.plugins.module_utils.vxlfixup import (
    FleetError, ensure_private_dir, fix_command, keys_missing, message_text, normalize_scripts,
    outcome_errors, place_file, plan_changes_anything, plan_diffs, ssh_command)


@pytest.mark.parametrize('items, expected', [
    (['files/a.sh'], [{'src': 'files/a.sh', 'name': 'a.sh', 'dir': None}]),
    ([{'src': '/x/b.sh', 'dir': '/var/tmp/s'}], [{'src': '/x/b.sh', 'name': 'b.sh', 'dir': '/var/tmp/s'}]),
    ([{'src': '/x/b.sh', 'name': 'c.sh'}], [{'src': '/x/b.sh', 'name': 'c.sh', 'dir': None}]),
    (None, []),
])
def test_scripts_normalized(items, expected):
    assert normalize_scripts(items) == expected


@pytest.mark.parametrize('items, why', [
    ([{'src': '/x/a.sh', 'name': '../a.sh'}], 'plain file name'),
    ([{'src': '/x/a.sh', 'name': '..'}], 'plain file name'),
    (['/'], 'plain file name'),
    ([{'src': '/x/a.sh', 'name': 'a\nb'}], 'plain file name'),
    ([{'src': '/x/a.sh', 'dir': 'relative'}], 'not an absolute path'),
    ([{'src': '/x/a.sh', 'mode': '0777'}], 'unknown key'),
    ([{'dir': '/x'}], 'needs a path'),
])
def test_scripts_refused(items, why):
    with pytest.raises(FleetError, match=why):
        normalize_scripts(items)


def _make(tmp_path, kind):
    path = str(tmp_path / 'work')
    if kind == 'link':
        os.mkdir(str(tmp_path / 'elsewhere'), 0o700)
        os.symlink(str(tmp_path / 'elsewhere'), path)
    elif kind == 'file':
        open(path, 'w').close()
    elif kind == 'group-writable':
        os.mkdir(path)
        os.chmod(path, 0o770)
    elif kind == 'private':
        os.mkdir(path)
        os.chmod(path, 0o700)
    return path


@pytest.mark.parametrize('kind, uid_offset, created, why', [
    ('missing', 0, True, None),
    ('private', 0, False, None),
    ('link', 0, None, 'symbolic link'),
    ('file', 0, None, 'not a directory'),
    ('group-writable', 0, None, 'written by others'),
    ('private', 1, None, 'belongs to user'),
])
def test_work_dir(tmp_path, kind, uid_offset, created, why):
    path = _make(tmp_path, kind)
    # An odd umask must not leave a new work directory without its owner's rights.
    old = os.umask(0o177)
    try:
        if why:
            with pytest.raises(FleetError, match=why):
                ensure_private_dir(path, os.geteuid() + uid_offset)
            return
        assert ensure_private_dir(path, os.geteuid() + uid_offset) is created
    finally:
        os.umask(old)
    assert stat.S_IMODE(os.lstat(path).st_mode) == 0o700


def test_work_dir_relative_refused():
    with pytest.raises(FleetError, match='absolute'):
        ensure_private_dir('var/tmp/x')


@pytest.mark.parametrize('before, changed', [
    ('missing', True),
    ('same', False),
    ('other-content', True),
    ('same-content-other-mode', True),
    ('planted-link', True),
])
def test_place_file(tmp_path, before, changed):
    src = tmp_path / 'src.sh'
    src.write_text('echo fix\n')
    victim = tmp_path / 'victim'
    victim.write_text('keep\n')
    dest = tmp_path / 'dir'
    dest.mkdir()
    target = dest / 'fix.sh'
    if before == 'same':
        target.write_text('echo fix\n')
        target.chmod(0o700)
    elif before == 'other-content':
        target.write_text('old\n')
        target.chmod(0o700)
    elif before == 'same-content-other-mode':
        target.write_text('echo fix\n')
        target.chmod(0o755)
    elif before == 'planted-link':
        os.symlink(str(victim), str(target))
    assert place_file(str(src), str(dest), 'fix.sh') is changed
    assert not target.is_symlink()
    assert target.read_text() == 'echo fix\n'
    assert stat.S_IMODE(target.stat().st_mode) == 0o700
    assert victim.read_text() == 'keep\n'
    assert sorted(p.name for p in dest.iterdir()) == ['fix.sh']


@pytest.mark.parametrize('check, verb', [(True, 'plan'), (False, 'run')])
def test_fix_command(check, verb):
    assert fix_command('/usr/bin/vxlfixup', check, '/t/doc.xml', 'n1', '/w') == [
        '/usr/bin/vxlfixup', verb, '/t/doc.xml', '--node', 'n1', '--work-dir', '/w',
        '--format', 'json']


@pytest.mark.parametrize('op, input_file, file_name, tail', [
    ('generate', None, None, []),
    ('refresh', None, None, []),
    ('update', '/w/keys', None, ['--input', '/w/keys', '--file', 'authorized_keys']),
    ('update', '/w/keys', 'authorized_keys2', ['--input', '/w/keys', '--file', 'authorized_keys2']),
])
def test_ssh_command(op, input_file, file_name, tail):
    assert ssh_command('vx', op, 'n1', '/w', input_file, file_name) == (
        ['vx', 'ssh-equiv', op, '--node', 'n1', '--work-dir', '/w'] + tail + ['--format', 'json'])


@pytest.mark.parametrize('op, input_file, file_name, why', [
    ('update', None, None, 'needs an input file'),
    ('update', '/w/keys', '../../etc/passwd', 'plain file name'),
    ('remove', None, None, 'unknown operation'),
])
def test_ssh_command_refused(op, input_file, file_name, why):
    with pytest.raises(FleetError, match=why):
        ssh_command('vx', op, 'n1', '/w', input_file, file_name)


@pytest.mark.parametrize('message, text', [
    ('Vxlg-9031(a, b)', 'Vxlg-9031(a, b)'),
    ({'facility': 'Vxlg', 'id': 9031, 'arguments': ['a', 'b']}, 'Vxlg-9031(a, b)'),
    ({'facility': 'Vxlg', 'id': '9026', 'arguments': []}, 'Vxlg-9026'),
])
def test_message_text(message, text):
    assert message_text(message) == text


def test_outcome_errors_messages_then_native():
    assert outcome_errors({'messages': ['Vxlg-1'], 'nativeErrors': ['boom']}) == [
        'NLS Vxlg-1', 'native: boom']


@pytest.mark.parametrize('report, changes', [
    ({'changesNothing': True, 'files': [{'path': '/x'}]}, False),
    ({'changesNothing': False}, True),
    ({'files': [], 'kernelValues': [], 'recordedCalls': []}, False),
    ({'recordedCalls': [['systemctl', 'stop', 'x']]}, True),
])
def test_plan_changes_anything(report, changes):
    assert plan_changes_anything(report) is changes


def test_plan_diffs():
    report = {
        'files': [
            {'path': '/etc/sysctl.conf', 'change': 'modified', 'kind': 'text',
             'diff': '--- a/etc/sysctl.conf\n+++ b/etc/sysctl.conf\n@@ -1 +1 @@\n-a\n+b\n'},
            {'path': '/var/lib/x.db', 'change': 'modified', 'kind': 'binary', 'details': '', 'diff': ''},
            {'path': '/etc/shadow', 'change': 'modified', 'kind': 'private', 'details': 'mode 0640',
             'diff': ''},
        ],
        'kernelValues': [{'key': 'kernel.shmmax', 'before': '1', 'after': '4096'},
                         {'key': 'kernel.sem', 'before': '1 2 3 4', 'after': '250 32000 100 128'}],
    }
    assert plan_diffs(report) == [
        {'prepared': '--- a/etc/sysctl.conf\n+++ b/etc/sysctl.conf\n@@ -1 +1 @@\n-a\n+b\n'},
        {'prepared': 'modified /var/lib/x.db (binary)\n'},
        {'prepared': 'modified /etc/shadow (private): mode 0640\n'},
        {'before_header': 'kernel values now', 'after_header': 'kernel values after a run',
         'before': 'kernel.shmmax = 1\nkernel.sem = 1 2 3 4\n',
         'after': 'kernel.shmmax = 4096\nkernel.sem = 250 32000 100 128\n'},
    ]


@pytest.mark.parametrize('imported, present, missing', [
    ('ssh-rsa A n1\nssh-rsa B n2\n', 'ssh-rsa A n1\n', ['ssh-rsa B n2']),
    ('ssh-rsa A n1\n\n# comment\n', '', ['ssh-rsa A n1']),
    ('ssh-rsa A n1\n', '  ssh-rsa A n1  \n', []),
    ('', 'ssh-rsa A n1\n', []),
])
def test_keys_missing(imported, present, missing):
    assert keys_missing(imported, present) == missing
