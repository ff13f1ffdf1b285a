# -*- coding: utf-8 -*-
# The fleet's outcomes as one table: rows that are the same on several nodes
# are printed once, with the nodes written as a set (node[01-04,07]).
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import re

from ansible_collections.vxlfixup.fleet.plugins.module_utils.vxlfixup import (
    outcome_errors, status_counts)

_NUMBERED = re.compile(r'^(.*?)(\d+)(\D*)$')
STATUS_ORDER = ('SUCCESSFUL', 'WARNING', 'FAILED', 'ERROR', 'UNKNOWN')


def _ranges(values, width):
    """'1-4,7' for [1, 2, 3, 4, 7], each number zero-filled to width."""
    text = []
    values = sorted(set(values))
    start = prev = values[0]
    for v in values[1:] + [None]:
        if v is not None and v == prev + 1:
            prev = v
            continue
        first, last = str(start).zfill(width), str(prev).zfill(width)
        text.append(first if start == prev else '%s-%s' % (first, last))
        if v is not None:
            start = prev = v
    return ','.join(text)


def fold_nodes(names):
    """Node names as node sets: node01..node04 and node07 give node[01-04,07].
    Numbers written with leading zeros keep their width; a number of the same
    width without them (node10 beside node01) joins that set."""
    names = sorted(set(names))
    families = {}
    plain = []
    for name in names:
        m = _NUMBERED.match(name)
        if m:
            families.setdefault((m.group(1), m.group(3)), []).append(m.group(2))
        else:
            plain.append(name)
    groups = []
    for (prefix, suffix), numbers in families.items():
        padded = set(len(d) for d in numbers if len(d) > 1 and d[0] == '0')
        by_width = {}
        for d in numbers:
            width = len(d) if (len(d) > 1 and d[0] == '0') or len(d) in padded else 0
            by_width.setdefault(width, []).append(int(d))
        for width, values in by_width.items():
            if len(values) == 1:
                text = prefix + str(values[0]).zfill(width) + suffix
            else:
                text = '%s[%s]%s' % (prefix, _ranges(values, width), suffix)
            groups.append(((prefix, suffix, min(values)), text))
    groups += [((name, '', -1), name) for name in plain]
    return ','.join(text for _key, text in sorted(groups))


def merge_rows(outcomes_by_node):
    """Rows of (nodes, task, instance, status, errors): one per distinct
    outcome, in the order tasks and instances first appear."""
    rows = {}
    order = []
    for node in sorted(outcomes_by_node):
        for o in outcomes_by_node[node]:
            key = (o.get('task', ''), o.get('instance', 0), o.get('status') or 'UNKNOWN',
                   tuple(outcome_errors(o)))
            if key not in rows:
                rows[key] = []
                order.append(key)
            rows[key].append(node)
    first_seen = {}
    for key in order:
        first_seen.setdefault(key[0], len(first_seen))
    order.sort(key=lambda k: (first_seen[k[0]], k[1]))
    return [{'nodes': fold_nodes(rows[k]), 'hosts': sorted(rows[k]), 'task': k[0],
             'instance': k[1], 'status': k[2], 'errors': list(k[3])} for k in order]


def count_rows(outcomes_by_node):
    """Status counts per node, nodes with the same counts folded together."""
    statuses = set()
    counts = {}
    for node, outcomes in outcomes_by_node.items():
        counts[node] = status_counts(outcomes)
        statuses.update(counts[node])
    columns = [s for s in STATUS_ORDER if s in statuses] + sorted(statuses - set(STATUS_ORDER))
    grouped = {}
    for node, c in counts.items():
        grouped.setdefault(tuple(c.get(s, 0) for s in columns), []).append(node)
    rows = [{'nodes': fold_nodes(nodes), 'hosts': sorted(nodes),
             'counts': dict(zip(columns, key))} for key, nodes in grouped.items()]
    rows.sort(key=lambda r: r['hosts'][0])
    return columns, rows


def _table(headers, rows):
    widths = [len(h) for h in headers]
    for row in rows:
        widths = [max(w, len(c)) for w, c in zip(widths, row)]
    lines = []
    for row in [headers] + rows:
        lines.append('  '.join(c.ljust(w) for c, w in zip(row, widths)).rstrip())
    return lines


def render(outcomes_by_node, unreachable=(), failed=None, mode='run'):
    """The whole report as lines of text."""
    failed = failed or {}
    total = len(set(outcomes_by_node) | set(unreachable) | set(failed))
    verb = 'planned (nothing changed)' if mode == 'plan' else 'run'
    lines = ['vxlfixup outcomes, %s on %d node%s' % (verb, total, '' if total == 1 else 's')]
    rows = merge_rows(outcomes_by_node)
    body = []
    extra = []
    for r in rows:
        errors = r['errors'] or ['-']
        body.append([r['nodes'], r['task'], str(r['instance']), r['status'], errors[0]])
        for e in errors[1:]:
            body.append(['', '', '', '', e])
    if body:
        lines += _table(['NODES', 'TASK', 'INSTANCE', 'STATUS', 'ERRORS'], body)
    else:
        lines.append('(no outcome recorded for any node)')
    columns, counted = count_rows(outcomes_by_node)
    if counted:
        lines.append('')
        lines += _table(['NODES'] + columns + ['TOTAL'],
                        [[r['nodes']] + [str(r['counts'][c]) for c in columns] +
                         [str(sum(r['counts'].values()))] for r in counted])
    if unreachable:
        extra.append('unreachable: %s' % fold_nodes(unreachable))
    for node in sorted(failed):
        extra.append('no outcomes from %s: %s' % (node, failed[node]))
    if extra:
        lines.append('')
        lines += extra
    return lines


def merged_document(outcomes_by_node, unreachable=(), failed=None, mode='run'):
    """What the JSON file holds: every node's outcomes and the merged rows."""
    columns, counted = count_rows(outcomes_by_node)
    return {
        'mode': mode,
        'nodes': dict((n, {'outcomes': o, 'counts': status_counts(o)})
                      for n, o in outcomes_by_node.items()),
        'rows': merge_rows(outcomes_by_node),
        'counts': counted,
        'unreachable': sorted(set(unreachable)),
        'failed': dict(failed or {}),
    }
