#!/usr/bin/env bash
# The collection's unit tests with Debian's pytest; no tests found (exit
# status 5) is not a failure.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
# Ansible's own files (its ~/.ansible) go to a scratch folder.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ANSIBLE_HOME=$scratch ANSIBLE_LOCAL_TEMP=$scratch/tmp
cd "$here/ansible_collections/vxlfixup/fleet/tests/unit"
/usr/bin/python3 -m pytest -q -p no:cacheprovider -W ignore::UserWarning "$@" .
rc=$?
[ "$rc" -eq 5 ] && exit 0
exit "$rc"
