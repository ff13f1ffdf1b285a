#!/usr/bin/env bash
# The collection across four simulated nodes, the way an operator uses it:
# install the DEB built from this build, plan the example document with
# --check --diff (the machine and the nodes stay as they are), run it, read
# the merged table, then set up SSH user equivalence and prove it with the
# real client against the real sshd of every node.
#
# Usage: end_to_end.sh BUILD_DIR VXL_SIMNODE CPACK COLLECTION_TARBALL
# Exit status 77: cannot run here (not root, no namespaces, no sshd); with
# VXL_REQUIRE_NODE=1 that is a failure instead.
set -euo pipefail
build=$1 simnode=$2 cpack=$3 tarball=$4
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
count=4

skip() {
  echo "fleet end-to-end test skipped: $*" >&2
  [ "${VXL_REQUIRE_NODE:-0}" = 1 ] && exit 1
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root"
for tool in ansible-playbook ansible-galaxy /usr/sbin/sshd ssh nsenter; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is missing"
done
[ -x "$simnode" ] || skip "$simnode was not built"
[ -f "$tarball" ] || skip "$tarball was not built"
ls /etc/ssh/ssh_host_*_key >/dev/null 2>&1 || skip "sshd has no host keys"

started=$(date +%s)
work=$(mktemp -d /tmp/vxl-fleet-e2e.XXXXXX)
nodes=$work/nodes
cleanup() {
  "$simnode" stop --dir "$nodes" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
step() { echo; echo "== $* ($(($(date +%s) - started)) s)"; }
fail() { echo "FAILED: $*" >&2; exit 1; }
in_node() { local node=$1; shift; "$simnode" exec --dir "$nodes" "$node" -- "$@"; }

# Ansible keeps its files in the scratch folder, never in ~/.ansible.
export ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp
export ANSIBLE_COLLECTIONS_PATH=$work/collections
export ANSIBLE_CALLBACKS_ENABLED=vxlfixup.fleet.outcome_table
# One process per task on a node instead of a copy, a run and a removal.
export ANSIBLE_PIPELINING=1
export ANSIBLE_NOCOLOR=1 ANSIBLE_FORCE_COLOR=0 ANSIBLE_RETRY_FILES_ENABLED=0

# What the document touches, on the machine and in a node.
watched="/etc/sysctl.conf /etc/security /etc/passwd /etc/group /etc/shadow /etc/systemd
/etc/inittab /var/tmp/vxlfixup /var/tmp/vxlfixup-scripts /root/.ssh"
digest='for p in '$(echo $watched)'; do [ -e "$p" ] || { echo "absent $p"; continue; }
find "$p" -xdev \( -type f -o -type l \) -print0 | sort -z | xargs -0r sha256sum; stat -c "%n %a %u" "$p"; done | sha256sum'
machine_digest() { sh -c "$digest"; }
node_digest() { in_node "$1" sh -c "$digest"; }

step "collection and package"
ansible-galaxy collection install -p "$work/collections" "$tarball" >/dev/null
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/pkg" -G DEB >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack -G DEB"; }
ls "$work/pkg"/*.deb

step "start $count nodes"
"$simnode" start "$count" --dir "$nodes"
inventory=$nodes/inventory.ini
names=$(cat "$nodes/nodes")
machine_before=$(machine_digest)

step "install"
ansible-playbook vxlfixup.fleet.install -i "$inventory" -e vxlfixup_package_dir="$work/pkg" \
  >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "install playbook"; }
for n in $names; do
  in_node "$n" dpkg-query -W -f='${Package} ${Status}\n' vxlfixup | grep -q 'install ok installed' ||
    fail "vxlfixup is not installed on $n"
done
echo "vxlfixup installed on: $(echo $names)"

# Every node fixes the example's node1 instances, with the example's scripts.
cat >"$work/vars.json" <<EOF
{"vxlfixup_document": "$source_dir/examples/fixup_data.xml",
 "vxlfixup_node": "node1",
 "vxlfixup_scripts": ["$source_dir/examples/fixup_logind_ipc.sh",
                      "$source_dir/examples/fixup_rp_filter.sh",
                      {"src": "$source_dir/examples/memlock_limits_file.sh",
                       "dir": "/var/tmp/vxlfixup-scripts"}]}
EOF

step "plan (--check --diff)"
declare -A node_before
for n in $names; do node_before[$n]=$(node_digest "$n"); done
VXLFIXUP_OUTCOMES_JSON=$work/plan.json ansible-playbook vxlfixup.fleet.fix -i "$inventory" \
  -e @"$work/vars.json" --check --diff >"$work/plan.log" 2>&1 ||
  { cat "$work/plan.log"; fail "plan playbook"; }
sed -n '/^vxlfixup outcomes/,$p' "$work/plan.log"
echo "(the diff of node01's /etc/sysctl.conf, as --diff shows it:)"
# awk stops by itself: a head closing the pipe would fail the script under pipefail.
awk '/^TASK/ { on = 0 } /^--- a\/etc\/sysctl.conf/ && !done { on = 1; done = 1 }
     on { print; if (++shown == 12) exit }' "$work/plan.log"
grep -q '^+++ b/etc/sysctl.conf' "$work/plan.log" || fail "the plan shows no diff of /etc/sysctl.conf"
grep -q 'kernel values after a run' "$work/plan.log" || fail "the plan shows no kernel values"
for n in $names; do
  [ "$(node_digest "$n")" = "${node_before[$n]}" ] || fail "the plan changed node $n"
done
[ "$(machine_digest)" = "$machine_before" ] || fail "the plan changed this machine"
echo "plan: this machine and every node unchanged"

step "run"
VXLFIXUP_OUTCOMES_JSON=$work/run.json ansible-playbook vxlfixup.fleet.fix -i "$inventory" \
  -e @"$work/vars.json" >"$work/run.log" 2>&1 || { cat "$work/run.log"; fail "run playbook"; }
sed -n '/^vxlfixup outcomes/,$p' "$work/run.log"
/usr/bin/python3 - "$work/run.json" $names <<'EOF'
import json, sys
merged = json.load(open(sys.argv[1]))
nodes = sys.argv[2:]
assert merged['mode'] == 'run', merged['mode']
assert sorted(merged['nodes']) == nodes, sorted(merged['nodes'])
assert merged['unreachable'] == [] and merged['failed'] == {}, (merged['unreachable'], merged['failed'])
outcomes = [merged['nodes'][n]['outcomes'] for n in nodes]
assert outcomes[0] and all(o == outcomes[0] for o in outcomes), 'the nodes differ'
assert any(r['nodes'] == 'node[01-%02d]' % len(nodes) for r in merged['rows']), merged['rows']
EOF
for n in $names; do
  in_node "$n" cat /etc/sysctl.conf | cmp -s - /etc/sysctl.conf &&
    fail "the run left /etc/sysctl.conf of $n as it was"
  in_node "$n" test -d /var/tmp/vxlfixup || fail "no work directory on $n"
  [ "$(in_node "$n" stat -c %a /var/tmp/vxlfixup)" = 700 ] || fail "work directory mode on $n"
done
[ "$(machine_digest)" = "$machine_before" ] || fail "the run changed this machine"
echo "run: every node fixed alike, this machine unchanged"

step "SSH equivalence"
for n in $names; do
  address=$(awk -v n="$n" '$2 == n { print $1 }' "$nodes/hosts")
  in_node "$n" mkdir -p /run/sshd
  in_node "$n" /usr/sbin/sshd -o ListenAddress="$address" -o PidFile=/run/sshd-fleet.pid \
    -o PermitRootLogin=prohibit-password -o PasswordAuthentication=no || fail "sshd on $n"
done
ansible-playbook vxlfixup.fleet.ssh_equivalence -i "$inventory" >"$work/ssh.log" 2>&1 ||
  { cat "$work/ssh.log"; fail "ssh_equivalence playbook"; }
for n in $names; do
  [ "$(in_node "$n" stat -c %a /root/.ssh/authorized_keys)" = 600 ] ||
    fail "authorized_keys of $n is not mode 0600"
  in_node "$n" cat /root/.ssh/authorized_keys >"$work/keys.$n"
done
for n in $names; do
  key=$(in_node "$n" cat "/var/tmp/vxlfixup-ssh/$n.id_rsa.pub")
  for m in $names; do
    grep -qxF "$key" "$work/keys.$m" || fail "the key of $n is not in authorized_keys of $m"
  done
done
echo "every node's authorized_keys holds the keys of all $count nodes"
for from in $names; do
  for to in $names; do
    [ "$from" = "$to" ] && continue
    answer=$(in_node "$from" ssh -o BatchMode=yes -o StrictHostKeyChecking=accept-new \
      -o ConnectTimeout=10 -o LogLevel=ERROR "$to" hostname </dev/null) || fail "ssh from $from to $to"
    [ "$answer" = "$to" ] || fail "ssh from $from to $to answered '$answer'"
  done
done
echo "ssh -o BatchMode=yes: every node reaches every other by name, no password"

step "done"
