# Makes the collection importable as ansible_collections.vxlfixup.fleet when
# pytest runs straight from the source tree: Ansible's own collection finder,
# as ansible-test installs it, pointed at the tree holding ansible_collections/.
import os

from ansible.utils.collection_loader._collection_finder import _AnsibleCollectionFinder

_root = os.path.abspath(os.path.join(os.path.dirname(__file__), '..', '..', '..', '..', '..'))
_AnsibleCollectionFinder(paths=[_root], scan_sys_paths=False)._install()
