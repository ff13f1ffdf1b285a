# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json

import pytest

from ansible_collections.vxlfixup.fleet.plugins.callback.outcome_table import CallbackModule


class Named:
    def __init__(self, name):
        self.name = name

    def get_name(self):
        return self.name


class Task:
    def __init__(self, action):
        self.action = action.rsplit('.', 1)[-1] if action.startswith('vxlfixup.') else action
        self.resolved_action = action


class Result:
    def __init__(self, host, action, answer):
        self._host = Named(host)
        self._task = Task(action)
        self._result = answer


class Display:
    def __init__(self):
        self.lines = []

    def display(self, text, **kwargs):
        self.lines.append(text)


def outcome(instance, status):
    return {'task': 'TASKKERNELPARAM', 'instance': instance, 'status': status, 'messages': [],
            'nativeErrors': []}


FIX = 'vxlfixup.fleet.fix'
RUN_OK = {'mode': 'run', 'outcomes': [outcome(0, 'SUCCESSFUL')]}


# Each event: (callback method, host, action, answer).
@pytest.mark.parametrize('events, table, unreachable, failed', [
    # Identical outcomes on four nodes: one row.
    ([('ok', 'node%02d' % i, FIX, RUN_OK) for i in (1, 2, 3, 4)],
     ['node[01-04]  TASKKERNELPARAM  0         SUCCESSFUL  -'], [], {}),
    # A failed fix task still brings its outcomes; other modules are ignored.
    ([('ok', 'node01', FIX, RUN_OK),
      ('failed', 'node02', FIX, {'mode': 'run', 'msg': '1 outcome(s) FAILED',
                                 'outcomes': [outcome(0, 'FAILED')]}),
      ('ok', 'node01', 'ansible.builtin.copy', {'outcomes': [outcome(5, 'FAILED')]})],
     ['node01  TASKKERNELPARAM  0         SUCCESSFUL  -',
      'node02  TASKKERNELPARAM  0         FAILED      -'], [], {}),
    # A node without outcomes and an unreachable one are named.
    ([('ok', 'node01', FIX, RUN_OK),
      ('failed', 'node02', FIX, {'msg': 'vxlfixup is not installed'}),
      ('unreachable', 'node03', FIX, {'msg': 'gone'})],
     ['node01  TASKKERNELPARAM  0         SUCCESSFUL  -'], ['node03'],
     {'node02': 'vxlfixup is not installed'}),
])
def test_callback_merges_the_fleet(tmp_path, events, table, unreachable, failed):
    cb = CallbackModule()
    cb._display = Display()
    path = str(tmp_path / 'merged.json')
    cb.get_option = lambda name: path
    cb.v2_playbook_on_task_start(Task(FIX), False)
    for kind, host, action, answer in events:
        result = Result(host, action, answer)
        if kind == 'ok':
            cb.v2_runner_on_ok(result)
        elif kind == 'failed':
            cb.v2_runner_on_failed(result)
        else:
            cb.v2_runner_on_unreachable(result)
    cb.v2_playbook_on_stats(None)
    lines = cb._display.lines
    assert lines[3:3 + len(table)] == table
    merged = json.load(open(path))
    assert merged['unreachable'] == unreachable
    assert merged['failed'] == failed
    assert sorted(merged['nodes']) == sorted(set(e[1] for e in events if e[0] != 'unreachable')
                                             - set(failed))
    assert lines[-1] == 'merged outcomes written to ' + path


def test_callback_silent_without_fix_task():
    cb = CallbackModule()
    cb._display = Display()
    cb.get_option = lambda name: None
    cb.v2_playbook_on_task_start(Task('vxlfixup.fleet.ssh_equiv'), False)
    cb.v2_runner_on_unreachable(Result('node01', 'vxlfixup.fleet.ssh_equiv', {}))
    cb.v2_playbook_on_stats(None)
    assert cb._display.lines == []
