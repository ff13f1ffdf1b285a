#!/usr/bin/env bash
# The example document across N simulated nodes: a plan and a run through the
# fleet collection's fix playbook, beside a raw parallel-shell baseline (pdsh
# running "vxlfixup plan" in every node), so that what the collection adds per
# node is a number. Prints wall time and peak memory of each step.
#
# Usage: bench/fleet_bench.sh N [BUILD_DIR] [--baseline-only]   (root; N = 1..254)
# Environment: FLEET_BENCH_FORKS        nodes worked on at once by pdsh and by
#                                     Ansible (default: N, at most 16)
#              FLEET_BENCH_COLLECTIONS the folder holding ansible_collections/
#                                     (default: fleet/ of this tree)
#
# Every node plans and runs the example's node1 instances (the nodes are
# node01..nodeNN), with the build's vxlfixup, in a work directory that does
# not exist yet. Peak memory is the largest sum, sampled five times a second, of
# the resident memory of every process of the step (the controller, the
# per-node processes and each node's vxlfixup with its copy of the node);
# shared pages count once per process, so it is an upper bound.
set -euo pipefail
usage() {
  echo "usage: bench/fleet_bench.sh N [BUILD_DIR] [--baseline-only]" >&2
  exit 2
}
[ $# -ge 1 ] || usage
count=$1
shift
build=build baseline_only=0
for arg in "$@"; do
  case $arg in
    --baseline-only) baseline_only=1 ;;
    -*) usage ;;
    *) build=$arg ;;
  esac
done
if ! [[ $count =~ ^[0-9]+$ ]] || [ "$count" -lt 1 ] || [ "$count" -gt 254 ]; then usage; fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$build" && pwd)
simnode=$build/sandbox/vxl-simnode
tool=$build/vxlfixup
document=$source_dir/examples/fixup_data.xml
collections=${FLEET_BENCH_COLLECTIONS:-$source_dir/fleet}
forks=${FLEET_BENCH_FORKS:-$((count < 16 ? count : 16))}
if ! [[ $forks =~ ^[0-9]+$ ]] || [ "$forks" -lt 1 ]; then usage; fi

fail() {
  echo "fleet_bench.sh: $*" >&2
  exit 1
}
[ "$(id -u)" -eq 0 ] || fail "needs root (simulated nodes)"
if [ ! -x "$simnode" ] || [ ! -x "$tool" ]; then
  fail "build vxl-simnode and vxlfixup in $build first"
fi
command -v pdsh >/dev/null || fail "pdsh is missing (scripts/install-deps.sh installs it)"
ansible=1
if [ "$baseline_only" = 1 ]; then
  ansible=0
elif ! command -v ansible-playbook >/dev/null ||
  [ ! -f "$collections/ansible_collections/vxlfixup/fleet/playbooks/fix.yml" ]; then
  ansible=0
  echo "fleet_bench.sh: no ansible-playbook or no fleet collection: baseline only" >&2
fi

work=$(mktemp -d /tmp/vxl-fleet-bench.XXXXXX)
nodes=$work/nodes
cleanup() {
  "$simnode" stop --dir "$nodes" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The summed resident memory (KiB) of a process and all its descendants.
tree_rss() {
  ps -e -o pid=,ppid=,rss= | awk -v root="$1" '
    { parent[$1] = $2; rss[$1] = $3 }
    END {
      inside[root] = 1
      do {
        grew = 0
        for (p in parent) if (!(p in inside) && (parent[p] in inside)) { inside[p] = 1; grew = 1 }
      } while (grew)
      for (p in inside) sum += rss[p]
      print sum + 0
    }'
}

# measure NAME LOG COMMAND...: runs the command (output to LOG), samples its
# memory; sets wall (seconds) and peak (MiB). A failing step fails the bench.
measure() {
  local name=$1 log=$2
  shift 2
  local begin end status=0 peak_kib=0 rss
  begin=$(date +%s.%N)
  "$@" >"$log" 2>&1 &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    rss=$(tree_rss "$pid")
    [ "$rss" -gt "$peak_kib" ] && peak_kib=$rss
    sleep 0.2
  done
  wait "$pid" || status=$?
  end=$(date +%s.%N)
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$log" >&2
    fail "$name failed (exit $status); its log is above"
  fi
  wall=$(awk -v a="$begin" -v b="$end" 'BEGIN { printf "%.1f", b - a }')
  peak=$(awk -v k="$peak_kib" 'BEGIN { printf "%.0f", k / 1024 }')
}

rows=()
row() { rows+=("$(printf '%-40s %8s %9s %11s' "$1" "$2" "$3" "$4")"); }
per_node() { awk -v w="$1" -v n="$count" 'BEGIN { printf "%.2f", w / n }'; }

measure "start" "$work/start.log" "$simnode" start "$count" --dir "$nodes"
row "start $count nodes" "$wall" "-" "-"

# The baseline: pdsh runs the tool in every node, nothing in between.
in_node=("$simnode" exec --dir "$nodes" %h --)
plan=("$tool" plan "$document" --node node1 --work-dir /var/tmp/vxlfixup --format json)
measure "pdsh plan" "$work/pdsh-plan.log" \
  pdsh -R exec -f "$forks" -w "^$nodes/nodes" "${in_node[@]}" "${plan[@]}"
grep -q '"exitCode": 0' "$work/pdsh-plan.log" || fail "the baseline plan reported no exit code 0"
baseline_wall=$wall
row "pdsh -R exec: vxlfixup plan" "$wall" "$peak" "$(per_node "$wall")"

if [ "$ansible" = 1 ]; then
  export ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp
  export ANSIBLE_COLLECTIONS_PATH=$collections
  export ANSIBLE_CALLBACKS_ENABLED=vxlfixup.fleet.outcome_table
  export ANSIBLE_NOCOLOR=1 ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_HOST_KEY_CHECKING=0
  playbook=(ansible-playbook vxlfixup.fleet.fix -i "$nodes/inventory.ini" --forks "$forks"
    -e vxlfixup_document="$document" -e vxlfixup_node=node1
    -e vxlfixup_work_dir=/var/tmp/vxlfixup -e vxlfixup_path="$tool")
  measure "ansible plan" "$work/ansible-plan.log" "${playbook[@]}" --check --diff
  ansible_plan_wall=$wall
  row "ansible: fix --check --diff (plan)" "$wall" "$peak" "$(per_node "$wall")"
  measure "ansible run" "$work/ansible-run.log" "${playbook[@]}"
  row "ansible: fix (run)" "$wall" "$peak" "$(per_node "$wall")"
fi

measure "stop" "$work/stop.log" "$simnode" stop --dir "$nodes"
row "stop $count nodes" "$wall" "-" "-"

echo "fleet bench: $count simulated nodes, $forks at once, examples/fixup_data.xml as node1"
printf '%-40s %8s %9s %11s\n' "step" "wall s" "peak MiB" "s per node"
printf '%s\n' "${rows[@]}"
if [ "$ansible" = 1 ]; then
  awk -v a="$ansible_plan_wall" -v b="$baseline_wall" -v n="$count" \
    'BEGIN { printf "collection overhead over the baseline per node (plan): %.2f s\n", (a - b) / n }'
fi
