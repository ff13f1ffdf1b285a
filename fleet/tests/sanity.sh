#!/usr/bin/env bash
# ansible-test sanity on the collection, the tests that need nothing from the
# network: the others want a virtual environment filled from the package
# index. Runs on a copy, so ansible-test's output stays out of the tree.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
offline=(action-plugin-docs changelog compile empty-init future-import-boilerplate ignores
  line-endings metaclass-boilerplate no-assert no-basestring no-dict-iteritems
  no-dict-iterkeys no-dict-itervalues no-get-exception no-illegal-filenames no-main-display
  no-smart-quotes no-unicode-literals pslint replace-urlopen shebang shellcheck symlinks
  use-argspec-type-path use-compat-six)
# Debian's ansible-test runs with Debian's Python; a Python of the user's
# earlier on PATH would be taken for the tests' own.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
python=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# ansible-test keeps its cache under ~/.ansible: the scratch folder's, not the user's.
export HOME=$work/home
mkdir "$HOME"
mkdir -p "$work/ansible_collections/vxlfixup"
cp -r "$here/ansible_collections/vxlfixup/fleet" "$work/ansible_collections/vxlfixup/"
find "$work" -name __pycache__ -prune -exec rm -rf {} +
cd "$work/ansible_collections/vxlfixup/fleet"
args=()
for t in "${offline[@]}"; do args+=(--test "$t"); done
ansible-test sanity --python "$python" --color no "${args[@]}"
