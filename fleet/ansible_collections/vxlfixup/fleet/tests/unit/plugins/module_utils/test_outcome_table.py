# -*- coding: utf-8 -*-
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import pytest

from ansible_collections.vxlfixup.fleet.plugins.module_utils.outcome_table import (
    count_rows, fold_nodes, merge_rows, render)


@pytest.mark.parametrize('names, folded', [
    (['node01', 'node02', 'node03', 'node04', 'node07'], 'node[01-04,07]'),
    (['node07', 'node01', 'node02', 'node01'], 'node[01-02,07]'),
    (['node05'], 'node05'),
    (['node9', 'node10', 'node11'], 'node[9-11]'),
    (['node01', 'node10'], 'node[01,10]'),
    (['node1', 'node01'], 'node01,node1'),
    (['node001', 'node01'], 'node001,node01'),
    (['n1.example.com', 'n2.example.com', 'n3.other.com'], 'n[1-2].example.com,n3.other.com'),
    (['rack1-n1', 'rack1-n2', 'rack2-n1'], 'rack1-n[1-2],rack2-n1'),
    (['web', 'db', 'node1', 'node2'], 'db,node[1-2],web'),
    ([], ''),
])
def test_fold_nodes(names, folded):
    assert fold_nodes(names) == folded


def outcome(task, instance, status, messages=(), native=()):
    return {'task': task, 'instance': instance, 'status': status, 'messages': list(messages),
            'nativeErrors': list(native)}


OK0 = outcome('TASKKERNELPARAM', 0, 'SUCCESSFUL')
OK1 = outcome('TASKKERNELPARAM', 1, 'SUCCESSFUL')
LIM = outcome('TASKSHELLLIMIT', 0, 'SUCCESSFUL')
BAD = outcome('TASKKERNELPARAM', 1, 'FAILED', ['Vxlg-9031(/etc/x)'], ['EACCES'])
BAD_OTHER = outcome('TASKKERNELPARAM', 1, 'FAILED', ['Vxlg-9031(/etc/y)'])


@pytest.mark.parametrize('by_node, rows', [
    # The same outcome on every node is one row.
    ({'node01': [OK0], 'node02': [OK0], 'node03': [OK0]},
     [('node[01-03]', 'TASKKERNELPARAM', 0, 'SUCCESSFUL')]),
    # A node that differs gets a row of its own, in the task's place.
    ({'node01': [OK0, OK1, LIM], 'node02': [OK0, BAD, LIM], 'node03': [OK0, OK1, LIM]},
     [('node[01-03]', 'TASKKERNELPARAM', 0, 'SUCCESSFUL'),
      ('node[01,03]', 'TASKKERNELPARAM', 1, 'SUCCESSFUL'),
      ('node02', 'TASKKERNELPARAM', 1, 'FAILED'),
      ('node[01-03]', 'TASKSHELLLIMIT', 0, 'SUCCESSFUL')]),
    # Same status, different errors: not the same row.
    ({'node01': [BAD], 'node02': [BAD_OTHER]},
     [('node01', 'TASKKERNELPARAM', 1, 'FAILED'), ('node02', 'TASKKERNELPARAM', 1, 'FAILED')]),
    ({}, []),
])
def test_merge_rows(by_node, rows):
    assert [(r['nodes'], r['task'], r['instance'], r['status'])
            for r in merge_rows(by_node)] == rows


def test_merge_rows_keep_errors():
    assert merge_rows({'n1': [BAD]})[0]['errors'] == ['NLS Vxlg-9031(/etc/x)', 'native: EACCES']


@pytest.mark.parametrize('by_node, columns, rows', [
    ({'node01': [OK0, OK1], 'node02': [OK0, BAD], 'node03': [OK0, OK1]},
     ['SUCCESSFUL', 'FAILED'],
     [('node[01,03]', {'SUCCESSFUL': 2, 'FAILED': 0}), ('node02', {'SUCCESSFUL': 1, 'FAILED': 1})]),
    ({'a': [outcome('T', 0, 'ODD')], 'b': [outcome('T', 0, 'WARNING')]}, ['WARNING', 'ODD'],
     [('a', {'WARNING': 0, 'ODD': 1}), ('b', {'WARNING': 1, 'ODD': 0})]),
    ({'node01': []}, [], [('node01', {})]),
])
def test_count_rows(by_node, columns, rows):
    got_columns, got_rows = count_rows(by_node)
    assert got_columns == columns
    assert [(r['nodes'], r['counts']) for r in got_rows] == rows


def test_render_names_unreachable_and_failed_nodes():
    lines = render({'node01': [OK0, BAD], 'node02': [OK0, OK1]}, unreachable=['node04', 'node03'],
                   failed={'node05': 'vxlfixup is not installed'}, mode='plan')
    assert lines == [
        'vxlfixup outcomes, planned (nothing changed) on 5 nodes',
        'NODES        TASK             INSTANCE  STATUS      ERRORS',
        'node[01-02]  TASKKERNELPARAM  0         SUCCESSFUL  -',
        'node01       TASKKERNELPARAM  1         FAILED      NLS Vxlg-9031(/etc/x)',
        '                                                    native: EACCES',
        'node02       TASKKERNELPARAM  1         SUCCESSFUL  -',
        '',
        'NODES   SUCCESSFUL  FAILED  TOTAL',
        'node01  1           1       2',
        'node02  2           0       2',
        '',
        'unreachable: node[03-04]',
        'no outcomes from node05: vxlfixup is not installed',
    ]


def test_render_without_outcomes():
    assert render({}, unreachable=['n1'])[1:] == ['(no outcome recorded for any node)', '',
                                                  'unreachable: n1']
