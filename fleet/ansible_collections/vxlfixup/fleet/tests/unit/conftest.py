# Makes the collection importable as ansible_collections.vxlfixup.fleet when
# pytest runs straight from the source tree: Ansible's own collection finder,
# as ansible-test installs it, pointed at the tree holding ansible_collections/.
import json
import os

import pytest

from ansible.utils.collection_loader._collection_finder import _AnsibleCollectionFinder

_root = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..', '..', '..', '..'))
_AnsibleCollectionFinder(paths=[_root], scan_sys_paths=False)._install()


@pytest.fixture
def module_answer(capsys):
    """Runs a module's main(), whose arguments the test has set, and returns
    its JSON answer after checking it against expect: with 'failed', the
    module failed with that text in its message; otherwise it did not fail
    and its 'changed' is expect['changed']."""
    def answer(main, expect):
        with pytest.raises(SystemExit):
            main()
        out = json.loads(capsys.readouterr().out)
        if 'failed' in expect:
            assert out.get('failed') is True
            assert expect['failed'] in out['msg']
        else:
            assert not out.get('failed'), out.get('msg')
            assert out['changed'] is expect['changed']
        return out
    return answer
