#!/usr/bin/env bash
# Runs every bench of a build once at a small size, so that a broken bench
# fails CI. A bench without a small size here fails too: add it when adding
# a bench. The comparison with ansible runs the library half only (the whole
# comparison takes minutes: bench/compare_with_ansible.sh).
# Usage: bench/run_small.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
small_args() {
  case $1 in
    xml_bench) echo 2000 ;;
    scale_bench) echo 1000 --mb 1 ;;
    node_bench) echo 2 ;;
    run_memory_bench) echo 20 ;;
    sysctl_compare_bench) echo --runs 1 --library-only ;;
    *) return 1 ;;
  esac
}
found=0
for bench in "$build"/bench/*_bench; do
  [ -x "$bench" ] || continue
  name=$(basename "$bench")
  if ! args=$(small_args "$name"); then
    echo "bench/run_small.sh: no small size known for $name" >&2
    exit 1
  fi
  echo "-- $name $args"
  # shellcheck disable=SC2086
  "$bench" $args
  found=$((found + 1))
done
# The fleet bench is a script: its baseline half on two simulated nodes (the
# collection's playbooks take a minute even there).
if [ -x "$build/sandbox/vxl-simnode" ]; then
  echo "-- fleet_bench.sh 2 --baseline-only"
  bash bench/fleet_bench.sh 2 "$build" --baseline-only
fi
if [ "$found" -eq 0 ]; then
  echo "bench/run_small.sh: no bench built in $build/bench" >&2
  exit 1
fi
