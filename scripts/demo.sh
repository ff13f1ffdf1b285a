#!/usr/bin/env bash
# The main job: builds the library and the command-line tool, then
#  1. plans the example fix-up data document for node1 on this very machine:
#     "vxlfixup plan" runs it with the real library in a copy of the machine
#     and prints what a run would change here (this machine stays as it is);
#  2. runs the same document inside a test node (a throwaway copy of this
#     machine with a simulated kernel and the files the document expects),
#     printing the outcome of every instance, the commands run and what
#     changed in the node's configuration and account files; then two more
#     test nodes set up SSH user equivalence through "vxlfixup ssh-equiv";
#  3. across a cluster: installs the DEB on four simulated nodes with the
#     Ansible collection vxlfixup.fleet, plans the document on all of them
#     (nothing changes), runs it, and prints the fleet's merged outcome table.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build -j"$(nproc)" --target vxlfixup_cli run_example_in_node vxl-simnode fleet_collection >build/demo-build.log 2>&1; then
  cat build/demo-build.log
  exit 1
fi
echo "== vxlfixup plan (this machine, as node1; fix-up scripts from examples/) =="
# The work directory holds the scripts the document names without a path.
build/vxlfixup plan examples/fixup_data.xml --node node1 --work-dir "$PWD/examples" ||
  echo "(vxlfixup plan ended with exit status $?)"
echo
build/examples/run_example_in_node "$PWD/build/vxlfixup" "$PWD/examples/fixup_data.xml" node1

echo
echo "== across a cluster: four simulated nodes, driven by ansible-playbook =="
fleet=$(mktemp -d /tmp/vxl-fleet-demo.XXXXXX)
trap 'build/sandbox/vxl-simnode stop --dir "$fleet/nodes" >/dev/null 2>&1 || true; rm -rf "$fleet"' EXIT
# Ansible's own files go to the scratch folder, not to ~/.ansible.
export ANSIBLE_HOME=$fleet/ansible ANSIBLE_LOCAL_TEMP=$fleet/ansible/tmp
export ANSIBLE_COLLECTIONS_PATH=$fleet/collections
export ANSIBLE_CALLBACKS_ENABLED=vxlfixup.fleet.outcome_table
# One process per task on a node instead of a copy, a run and a removal.
export ANSIBLE_PIPELINING=1
ansible-galaxy collection install -p "$fleet/collections" build/vxlfixup-fleet-*.tar.gz >/dev/null
cpack --config build/CPackConfig.cmake -B "$fleet/pkg" -G DEB >"$fleet/cpack.log" 2>&1 ||
  { cat "$fleet/cpack.log"; exit 1; }
build/sandbox/vxl-simnode start 4 --dir "$fleet/nodes"
hosts=$fleet/nodes/inventory.ini
echo "ansible-playbook vxlfixup.fleet.install (the DEB of this build on every node)"
ansible-playbook vxlfixup.fleet.install -i "$hosts" -e vxlfixup_package_dir="$fleet/pkg" |
  tail -n 6
# Every node takes the example's node1 instances, with the example's scripts.
cat >"$fleet/vars.json" <<EOF
{"vxlfixup_document": "$PWD/examples/fixup_data.xml", "vxlfixup_node": "node1",
 "vxlfixup_scripts": ["$PWD/examples/fixup_logind_ipc.sh", "$PWD/examples/fixup_rp_filter.sh",
   {"src": "$PWD/examples/memlock_limits_file.sh", "dir": "/var/tmp/vxlfixup-scripts"}]}
EOF
echo
echo "ansible-playbook vxlfixup.fleet.fix --check (a plan on every node; the merged table)"
ansible-playbook vxlfixup.fleet.fix -i "$hosts" -e @"$fleet/vars.json" --check |
  sed -n '/^vxlfixup outcomes/,$p'
echo
echo "ansible-playbook vxlfixup.fleet.fix (a run on every node; the merged table)"
ansible-playbook vxlfixup.fleet.fix -i "$hosts" -e @"$fleet/vars.json" |
  sed -n '/^vxlfixup outcomes/,$p'
