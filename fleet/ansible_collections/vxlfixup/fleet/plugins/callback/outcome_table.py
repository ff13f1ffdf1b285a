# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
name: outcome_table
type: aggregate
short_description: One outcome table for the whole fleet after the play
description:
  - Collects the outcomes the C(vxlfixup.fleet.fix) module returns on every node and prints,
    once the playbook ends, one table for the fleet. Rows that are the same on several nodes are
    printed once with the nodes as a set (C(node[01-04,07])); then the status count of every node
    (nodes with the same counts folded together), the unreachable nodes and the nodes that
    returned no outcomes, each named.
  - Where I(json_path) is set, the merged outcomes are also written there as one JSON document.
version_added: 1.0.0
author:
  - vxlfixup developers (@vxlfixup)
requirements:
  - enable it, for example with C(ANSIBLE_CALLBACKS_ENABLED=vxlfixup.fleet.outcome_table)
options:
  json_path:
    description: A file to write the merged outcomes to as JSON.
    type: path
    env:
      - name: VXLFIXUP_OUTCOMES_JSON
    ini:
      - section: vxlfixup_outcome_table
        key: json_path
'''

import json
import os

from ansible.plugins.callback import CallbackBase
from ansible_collections.vxlfixup.fleet.plugins.module_utils.outcome_table import (
    merged_document, render)

FIX_ACTIONS = ('vxlfixup.fleet.fix', 'fix')


class CallbackModule(CallbackBase):
    CALLBACK_VERSION = 2.0
    CALLBACK_TYPE = 'aggregate'
    CALLBACK_NAME = 'vxlfixup.fleet.outcome_table'
    CALLBACK_NEEDS_ENABLED = True

    def __init__(self, *args, **kwargs):
        super(CallbackModule, self).__init__(*args, **kwargs)
        self.outcomes = {}
        self.unreachable = set()
        self.failed = {}
        self.mode = None
        self.seen_fix = False

    @staticmethod
    def _is_fix(task):
        return getattr(task, 'resolved_action', None) in FIX_ACTIONS or task.action in FIX_ACTIONS

    def v2_playbook_on_task_start(self, task, is_conditional):
        self.seen_fix |= self._is_fix(task)

    def _record(self, result):
        if not self._is_fix(result._task):
            return
        host = result._host.get_name()
        answer = result._result
        if 'outcomes' in answer:
            self.outcomes.setdefault(host, []).extend(answer['outcomes'])
            self.failed.pop(host, None)
            self.mode = answer.get('mode', self.mode)
        elif host not in self.outcomes:
            self.failed[host] = answer.get('msg', 'no outcomes returned')

    def v2_runner_on_ok(self, result):
        self._record(result)

    def v2_runner_on_failed(self, result, ignore_errors=False):
        self._record(result)

    def v2_runner_on_unreachable(self, result):
        self.unreachable.add(result._host.get_name())

    def v2_playbook_on_stats(self, stats):
        if not self.seen_fix:
            return
        mode = self.mode or 'run'
        self._display.display('')
        for line in render(self.outcomes, self.unreachable, self.failed, mode):
            self._display.display(line)
        path = self.get_option('json_path')
        if path:
            document = merged_document(self.outcomes, self.unreachable, self.failed, mode)
            with open(os.path.expanduser(path), 'w') as f:
                json.dump(document, f, indent=2, sort_keys=True)
                f.write('\n')
            self._display.display('merged outcomes written to %s' % path)
