#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: fix
short_description: Plan or run a vxlfixup fix-up document on a node
description:
  - Runs the installed C(vxlfixup) tool on the node with a fix-up data document and returns
    the outcome of every task instance for the node.
  - In check mode it runs C(vxlfixup plan), which runs the document in a copy of the node and
    changes nothing; C(changed) says whether a run would change anything, and with C(--diff)
    every file and kernel value a run would change comes back as a diff.
  - Otherwise it runs C(vxlfixup run), which fixes the node.
  - The action plugin of the same name sends the document and the fix-up scripts from the
    controller with the module, so one task is one round trip per node.
version_added: 1.0.0
author:
  - vxlfixup developers (@vxlfixup)
options:
  document:
    description:
      - The fix-up data document. A path on the controller, or on the node with I(remote_src=true).
    type: path
    required: true
  scripts:
    description:
      - Fix-up scripts the document names. An entry is a path (the script goes into I(work_dir),
        where the document finds scripts named without a path) or a dictionary with C(src),
        and optionally C(name) (the file name on the node) and C(dir) (an absolute directory on
        the node, for scripts the document names with a path; it is created 0700 when missing).
      - Scripts are written mode 0700 through a new file renamed into place.
      - In check mode the plan finds the work directory's scripts in a temporary directory; scripts
        with their own C(dir) are not placed, the plan sees what is on the node.
    type: list
    elements: raw
    default: []
  remote_src:
    description:
      - Whether I(document) and I(scripts) are paths on the node already.
    type: bool
    default: false
  work_dir:
    description:
      - The work directory of the run (scratch files, trace, output document). Created mode
        0700 when missing; an existing one must be a directory of the user the module runs
        as that no one else can write to.
    type: path
    default: /var/tmp/vxlfixup
  node:
    description:
      - The node name the document's instances are selected by.
      - Defaults to the node's host name up to its first dot.
    type: str
  fail_on_failed:
    description:
      - Whether an outcome with status C(FAILED) fails the task.
    type: bool
    default: true
  vxlfixup_path:
    description:
      - The vxlfixup tool on the node.
    type: path
    default: /usr/bin/vxlfixup
notes:
  - C(vxlfixup plan) needs root on the node (become).
  - Supports C(check_mode) and C(diff).
seealso:
  - module: vxlfixup.fleet.ssh_equiv
'''

EXAMPLES = r'''
- name: Fix every node with the document and its scripts
  vxlfixup.fleet.fix:
    document: fixup_data.xml
    scripts:
      - fixup_rp_filter.sh
      - src: memlock_limits_file.sh
        dir: /var/tmp/vxlfixup-scripts
    fail_on_failed: false

- name: Show what a run would change (run the play with --check --diff)
  vxlfixup.fleet.fix:
    document: /var/tmp/fixup_data.xml
    remote_src: true
  check_mode: true
'''

RETURN = r'''
outcomes:
  description: The outcome of every task instance for the node, as the tool reports them.
  returned: when the tool answered
  type: list
  elements: dict
  sample:
    - task: TASKKERNELPARAM
      instance: 0
      node: node1
      status: SUCCESSFUL
      messages: []
      errors: []
      nativeErrors: []
counts:
  description: How many outcomes have each status.
  returned: when the tool answered
  type: dict
  sample: {SUCCESSFUL: 5, FAILED: 1}
mode:
  description: C(plan) in check mode, C(run) otherwise.
  returned: always
  type: str
node:
  description: The node name used.
  returned: always
  type: str
exit_code:
  description: The tool's exit status (for a plan, the one a run would have).
  returned: when the tool ran
  type: int
output_document:
  description: The output document the run wrote (in a plan, the copy's path).
  returned: when the tool answered
  type: str
plan:
  description: In check mode, the plan's commands, files, kernel values, recorded calls and limits.
  returned: in check mode
  type: dict
'''

import os
import shutil
import socket
import tempfile

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vxlfixup.fleet.plugins.module_utils.vxlfixup import (
    DEFAULT_TOOL, DEFAULT_WORK_DIR, FleetError, ensure_private_dir, failed_outcomes, fix_command,
    normalize_scripts, parse_report, place_file, plan_changes_anything, plan_diffs, short_host_name,
    status_counts)


def place_scripts(module, scripts, work_dir, check_mode):
    """Puts the scripts where the document finds them; returns whether any
    file or directory changed."""
    changed = False
    for s in scripts:
        directory = s['dir'] or work_dir
        if check_mode and s['dir']:
            module.warn('check mode: %s is not placed in %s; the plan sees what is there'
                        % (s['name'], s['dir']))
            continue
        if s['dir']:
            changed |= ensure_private_dir(directory)
        changed |= place_file(s['src'], directory, s['name'])
    return changed


def main():
    module = AnsibleModule(
        argument_spec=dict(
            document=dict(type='path', required=True),
            scripts=dict(type='list', elements='raw', default=[]),
            remote_src=dict(type='bool', default=False),
            work_dir=dict(type='path', default=DEFAULT_WORK_DIR),
            node=dict(type='str'),
            fail_on_failed=dict(type='bool', default=True),
            vxlfixup_path=dict(type='path', default=DEFAULT_TOOL),
        ),
        supports_check_mode=True,
    )
    p = module.params
    node = p['node'] or short_host_name(socket.gethostname())
    mode = 'plan' if module.check_mode else 'run'
    result = dict(changed=False, mode=mode, node=node)
    scratch = None
    try:
        scripts = normalize_scripts(p['scripts'])
        if not os.path.isfile(p['document']):
            raise FleetError('document %s is not a file on the node' % p['document'])
        if not os.access(p['vxlfixup_path'], os.X_OK):
            raise FleetError('%s is not an executable program: is vxlfixup installed?'
                             % p['vxlfixup_path'])
        if module.check_mode:
            # The plan writes only in its copy; it finds the scripts in a
            # scratch work directory that goes with the task.
            scratch = tempfile.mkdtemp(prefix='vxlfixup-plan-', dir=module.tmpdir)
            work_dir = scratch
        else:
            work_dir = p['work_dir']
            result['changed'] |= ensure_private_dir(work_dir)
        result['changed'] |= place_scripts(module, scripts, work_dir, module.check_mode)
        if module.check_mode:
            result['changed'] = False
        argv = fix_command(p['vxlfixup_path'], module.check_mode, p['document'], node, work_dir)
        rc, out, err = module.run_command(argv)
        result.update(exit_code=rc, stderr=err)
        report = parse_report(out)
    except (FleetError, OSError) as e:
        result.pop('stderr', None)
        module.fail_json(msg=str(e), **result)
    finally:
        if scratch:
            shutil.rmtree(scratch, ignore_errors=True)

    outcomes = report.get('outcomes') or []
    result.update(outcomes=outcomes, counts=status_counts(outcomes),
                  output_document=report.get('outputDocument', ''))
    if module.check_mode:
        result['changed'] = plan_changes_anything(report)
        result['plan'] = dict((k, report.get(k)) for k in
                              ('commands', 'files', 'kernelValues', 'recordedCalls', 'cannotShow'))
        if module._diff:
            result['diff'] = plan_diffs(report)
    else:
        # A run that recorded an outcome ran its fix-ups.
        result['changed'] = result['changed'] or bool(outcomes)
    if rc != 0:
        module.fail_json(msg='vxlfixup %s ended with exit status %d: %s'
                         % (mode, rc, report.get('error') or err.strip()), **result)
    failed = failed_outcomes(outcomes)
    if failed and p['fail_on_failed']:
        module.fail_json(msg='%d outcome(s) FAILED: %s' % (
            len(failed), ', '.join('%s #%s' % (o.get('task'), o.get('instance')) for o in failed)),
            **result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
