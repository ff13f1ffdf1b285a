# -*- coding: utf-8 -*-
# Sends the document and the fix-up scripts with the fix module: the files go
# into the task's temporary directory on the node and the module runs once
# from there, so a task is one round trip per node.
from __future__ import absolute_import, division, print_function

__metaclass__ = type

import os

from ansible.errors import AnsibleError, AnsibleActionFail
from ansible.module_utils.parsing.convert_bool import boolean
from ansible.plugins.action import ActionBase
from ansible_collections.vxlfixup.fleet.plugins.module_utils.vxlfixup import (
    FleetError, normalize_scripts)


class ActionModule(ActionBase):

    TRANSFERS_FILES = True

    def _local_file(self, path):
        # A path given on the command line is relative to where the operator
        # stands; others are looked up as files of the play or role.
        if os.path.isfile(path):
            return os.path.abspath(path)
        try:
            return self._find_needle('files', path)
        except AnsibleError as e:
            raise AnsibleActionFail('%s: %s' % (path, e))

    def run(self, tmp=None, task_vars=None):
        result = super(ActionModule, self).run(tmp, task_vars)
        del tmp
        args = dict(self._task.args)
        try:
            if not args.get('document'):
                raise AnsibleActionFail('document is required')
            if not boolean(args.get('remote_src', False), strict=False):
                scripts = normalize_scripts(args.get('scripts'))
                tmpdir = self._connection._shell.tmpdir or self._make_tmp_path()
                join = self._connection._shell.join_path
                sent = []
                document = self._local_file(args['document'])
                remote = join(tmpdir, 'document-' + os.path.basename(document))
                self._transfer_file(document, remote)
                sent.append(remote)
                args['document'] = remote
                for i, s in enumerate(scripts):
                    src = self._local_file(s['src'])
                    s['src'] = join(tmpdir, 'script-%d-%s' % (i, s['name']))
                    self._transfer_file(src, s['src'])
                    sent.append(s['src'])
                args['scripts'] = scripts
                args['remote_src'] = True
                self._fixup_perms2([tmpdir] + sent)
            result.update(self._execute_module(module_name='vxlfixup.fleet.fix', module_args=args,
                                               task_vars=task_vars))
        except FleetError as e:
            result.update(failed=True, msg=str(e))
        except AnsibleActionFail as e:
            result.update(e.result)
        finally:
            self._remove_tmp_path(self._connection._shell.tmpdir)
        return result
