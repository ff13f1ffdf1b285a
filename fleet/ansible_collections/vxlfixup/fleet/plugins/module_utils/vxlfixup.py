# -*- coding: utf-8 -*-
# Shared by the modules and the action plugin: the work directory, files
# placed there as root, the tool's command lines and its JSON reports.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import errno
import json
import os
import stat
import tempfile

DEFAULT_TOOL = '/usr/bin/vxlfixup'
DEFAULT_WORK_DIR = '/var/tmp/vxlfixup'
SSH_OPERATIONS = ('generate', 'reuse', 'update', 'refresh')


class FleetError(Exception):
    """A refusal with the reason an operator can act on."""


def short_host_name(name):
    """The node name a run uses by default: the host name up to its first dot."""
    return name.split('.', 1)[0]


def plain_file_name(name):
    """A name that stays inside the directory it is joined to."""
    if not name or name in ('.', '..') or '/' in name or '\0' in name or '\n' in name:
        raise FleetError('%r is not a plain file name' % (name,))
    return name


def normalize_scripts(items):
    """Fix-up scripts as {src, name, dir}: a bare path goes into the work
    directory (dir None) under its own name."""
    scripts = []
    for item in items or []:
        if isinstance(item, dict):
            unknown = sorted(set(item) - set(('src', 'name', 'dir')))
            if unknown:
                raise FleetError('unknown key(s) %s in a script entry' % ', '.join(unknown))
            src = item.get('src')
            name = item.get('name')
            directory = item.get('dir')
        else:
            src, name, directory = item, None, None
        if not isinstance(src, str) or not src:
            raise FleetError('a script entry needs a path (src)')
        name = plain_file_name(name or os.path.basename(src.rstrip('/')))
        if directory is not None and not os.path.isabs(directory):
            raise FleetError('script directory %r is not an absolute path' % (directory,))
        scripts.append({'src': src, 'name': name, 'dir': directory})
    return scripts


def ensure_private_dir(path, uid=None):
    """Creates PATH mode 0700 when missing (its parent must exist); an existing
    one must be a real directory of this user that nobody else can write to,
    since files written there run as this user. Returns True when created."""
    uid = os.geteuid() if uid is None else uid
    if not os.path.isabs(path):
        raise FleetError('work directory %s is not an absolute path' % path)
    created = False
    try:
        os.mkdir(path, 0o700)
        os.chmod(path, 0o700)
        created = True
    except OSError as e:
        if e.errno != errno.EEXIST:
            raise FleetError('cannot create work directory %s: %s' % (path, e.strerror))
    st = os.lstat(path)
    if stat.S_ISLNK(st.st_mode):
        raise FleetError('work directory %s is a symbolic link' % path)
    if not stat.S_ISDIR(st.st_mode):
        raise FleetError('work directory %s is not a directory' % path)
    if st.st_uid != uid:
        raise FleetError('work directory %s belongs to user %d, not %d' % (path, st.st_uid, uid))
    if st.st_mode & 0o022:
        raise FleetError('work directory %s can be written by others (mode %04o)'
                         % (path, stat.S_IMODE(st.st_mode)))
    return created


def place_file(src, directory, name, mode=0o700):
    """Copies SRC to DIRECTORY/NAME through a new file renamed into place, so a
    link planted under NAME is replaced, never written through. Returns False
    when an identical file with that mode is there already."""
    dest = os.path.join(directory, plain_file_name(name))
    with open(src, 'rb') as f:
        content = f.read()
    try:
        st = os.lstat(dest)
        if stat.S_ISREG(st.st_mode) and stat.S_IMODE(st.st_mode) == mode:
            with open(dest, 'rb') as f:
                if f.read() == content:
                    return False
    except OSError:
        pass
    fd, temp = tempfile.mkstemp(dir=directory, prefix='.%s.' % name)
    try:
        with os.fdopen(fd, 'wb') as f:
            f.write(content)
            os.fchmod(f.fileno(), mode)
            f.flush()
            os.fsync(f.fileno())
        os.rename(temp, dest)
    except Exception:
        if os.path.lexists(temp):
            os.unlink(temp)
        raise
    return True


def fix_command(tool, check_mode, document, node, work_dir):
    """The tool's command line: a plan in check mode, a run otherwise."""
    return [tool, 'plan' if check_mode else 'run', document, '--node', node,
            '--work-dir', work_dir, '--format', 'json']


def ssh_command(tool, operation, node, work_dir, input_file=None, file_name=None):
    if operation not in SSH_OPERATIONS:
        raise FleetError('unknown operation %s' % operation)
    argv = [tool, 'ssh-equiv', operation, '--node', node, '--work-dir', work_dir]
    if operation == 'update':
        if not input_file:
            raise FleetError('update needs an input file of public keys')
        argv += ['--input', input_file, '--file', plain_file_name(file_name or 'authorized_keys')]
    return argv + ['--format', 'json']


def parse_report(stdout):
    """The tool's JSON report, or FleetError quoting what came instead."""
    try:
        report = json.loads(stdout)
    except ValueError:
        raise FleetError('vxlfixup did not answer with JSON: %s' % stdout.strip()[:500])
    if not isinstance(report, dict):
        raise FleetError('vxlfixup answered with JSON that is not an object')
    return report


def message_text(message):
    """One error of an outcome as the outcome table prints it:
    FACILITY-ID(arguments); older reports give it as text already."""
    if isinstance(message, dict):
        text = '%s-%s' % (message.get('facility', ''), message.get('id', ''))
        arguments = message.get('arguments') or []
        if arguments:
            text += '(%s)' % ', '.join(str(a) for a in arguments)
        return text
    return str(message)


def outcome_errors(outcome):
    """Every error of an outcome, NLS messages first, as the table shows them."""
    messages = outcome.get('messages', outcome.get('errors')) or []
    return (['NLS ' + message_text(m) for m in messages] +
            ['native: %s' % n for n in outcome.get('nativeErrors') or []])


def status_counts(outcomes):
    counts = {}
    for o in outcomes:
        status = o.get('status') or 'UNKNOWN'
        counts[status] = counts.get(status, 0) + 1
    return counts


def failed_outcomes(outcomes):
    return [o for o in outcomes if o.get('status') == 'FAILED']


def plan_changes_anything(report):
    if 'changesNothing' in report:
        return not report['changesNothing']
    return bool(report.get('files') or report.get('kernelValues') or report.get('recordedCalls'))


def plan_diffs(report):
    """Ansible diffs for a plan: one per file a run would change (its unified
    diff as the plan made it, or a line naming a file it cannot show) and one
    for the kernel values."""
    diffs = []
    for f in report.get('files') or []:
        path = f.get('path', '')
        if f.get('diff'):
            diffs.append({'prepared': f['diff']})
            continue
        note = '%s %s (%s)' % (f.get('change', 'changed'), path, f.get('kind', 'file'))
        if f.get('details'):
            note += ': ' + f['details']
        diffs.append({'prepared': note + '\n'})
    kernel = report.get('kernelValues') or []
    if kernel:
        diffs.append({
            'before_header': 'kernel values now',
            'after_header': 'kernel values after a run',
            'before': ''.join('%s = %s\n' % (k.get('key'), k.get('before')) for k in kernel),
            'after': ''.join('%s = %s\n' % (k.get('key'), k.get('after')) for k in kernel),
        })
    return diffs


def public_keys(text):
    """The key lines of an authorized_keys-style text (blank lines and
    comments left out)."""
    return [line.strip() for line in text.splitlines()
            if line.strip() and not line.strip().startswith('#')]


def keys_missing(import_text, present_text):
    present = set(public_keys(present_text))
    return [k for k in public_keys(import_text) if k not in present]
