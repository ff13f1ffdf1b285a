#!/usr/bin/python
# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
---
module: ssh_equiv
short_description: One step of SSH user equivalence through vxlfixup
description:
  - Runs C(vxlfixup ssh-equiv) for the user the module runs as (the user Ansible becomes),
    in that user's C(~/.ssh), found through the account's home directory.
  - C(generate) creates the key pair C(~/.ssh/NODE.id_rsa) and publishes its public key as
    C(WORK_DIR/NODE.id_rsa.pub); C(reuse) publishes the existing C(~/.ssh/id_rsa.pub) instead.
  - C(update) adds the keys of I(input) missing from C(~/.ssh/FILE) (a new file is created
    0600; links and other users' files are refused); the input file is removed once they are in.
  - C(refresh) makes the node key pair the default one and loads it into a new agent.
  - Across a cluster, the role C(vxlfixup.fleet.ssh_equivalence) runs the four in order.
version_added: 1.0.0
author:
  - vxlfixup developers (@vxlfixup)
options:
  operation:
    description: The step to take.
    type: str
    required: true
    choices: [generate, reuse, update, refresh]
  node:
    description:
      - The node name the key files are named by. Defaults to the host name up to its first dot.
    type: str
  work_dir:
    description:
      - Where the public key is published. Created 0700 when missing; an existing one must be a
        directory of this user that no one else can write to.
    type: path
    default: /var/tmp/vxlfixup
  input:
    description: For C(update), the file of public keys to add, one per line.
    type: path
  file:
    description: For C(update), the file in C(~/.ssh) the keys go into.
    type: str
    default: authorized_keys
  vxlfixup_path:
    description: The vxlfixup tool on the node.
    type: path
    default: /usr/bin/vxlfixup
notes:
  - In check mode nothing runs; C(update) reports whether any key of I(input) is missing.
'''

EXAMPLES = r'''
- name: Publish a new key pair of this node
  vxlfixup.fleet.ssh_equiv:
    operation: generate
  register: published

- name: Add the cluster's keys to authorized_keys
  vxlfixup.fleet.ssh_equiv:
    operation: update
    input: /var/tmp/vxlfixup/cluster_keys
'''

RETURN = r'''
published_key:
  description: For C(generate) and C(reuse), the published public key on the node.
  returned: success, for generate and reuse
  type: str
  sample: /var/tmp/vxlfixup/node1.id_rsa.pub
result:
  description: The tool's JSON report of the step.
  returned: when the tool answered
  type: dict
exit_code:
  description: The tool's exit status.
  returned: when the tool ran
  type: int
keys_added:
  description: For C(update), how many keys were missing before the step.
  returned: for update
  type: int
'''

import os
import pwd
import socket

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.vxlfixup.fleet.plugins.module_utils.vxlfixup import (
    DEFAULT_TOOL, DEFAULT_WORK_DIR, FleetError, ensure_private_dir, keys_missing, parse_report,
    plain_file_name, short_host_name, ssh_command)


def read_text(path):
    """A regular file's text; empty for a missing file."""
    try:
        if not os.path.isfile(path) or os.path.islink(path):
            return ''
        with open(path) as f:
            return f.read()
    except (IOError, OSError):
        return ''


def main():
    module = AnsibleModule(
        argument_spec=dict(
            operation=dict(type='str', required=True,
                           choices=['generate', 'reuse', 'update', 'refresh']),
            node=dict(type='str'),
            work_dir=dict(type='path', default=DEFAULT_WORK_DIR),
            input=dict(type='path'),
            file=dict(type='str', default='authorized_keys'),
            vxlfixup_path=dict(type='path', default=DEFAULT_TOOL),
        ),
        required_if=[('operation', 'update', ('input',))],
        supports_check_mode=True,
    )
    p = module.params
    op = p['operation']
    node = p['node'] or short_host_name(socket.gethostname())
    home = pwd.getpwuid(os.geteuid()).pw_dir
    result = dict(changed=True, node=node, operation=op)
    if op in ('generate', 'reuse'):
        result['published_key'] = os.path.join(p['work_dir'], node + '.id_rsa.pub')
    try:
        target = os.path.join(home, '.ssh', plain_file_name(p['file']))
        if op == 'update':
            missing = keys_missing(read_text(p['input']), read_text(target))
            result['keys_added'] = len(missing)
            result['changed'] = bool(missing)
        if module.check_mode:
            module.exit_json(**result)
        ensure_private_dir(p['work_dir'])
        argv = ssh_command(p['vxlfixup_path'], op, node, p['work_dir'], p['input'], p['file'])
    except (FleetError, OSError) as e:
        module.fail_json(msg=str(e), **result)
    # The tool finds ~/.ssh through HOME, which become may have left as the
    # connecting user's.
    rc, out, err = module.run_command(argv, environ_update={'HOME': home})
    result.update(exit_code=rc, stderr=err)
    try:
        result['result'] = parse_report(out)
    except FleetError as e:
        module.fail_json(msg='%s (stderr: %s)' % (e, err.strip()), **result)
    if rc != 0:
        result['changed'] = False
        module.fail_json(msg='vxlfixup ssh-equiv %s ended with exit status %d: %s'
                         % (op, rc, result['result'].get('error') or err.strip()), **result)
    if result['result'].get('publishedKey'):
        result['published_key'] = result['result']['publishedKey']
    module.exit_json(**result)


if __name__ == '__main__':
    main()
