#!/usr/bin/env bash
# The main job under valgrind's memcheck: the example document of every task
# family and the SSH user-equivalence calls of scripts/demo.sh, each a run of
# the command-line tool inside a test node. Fails on any memory error and on
# any byte lost (definitely, indirectly or possibly); what the tool still
# holds at exit is not counted.
# Usage: scripts/memcheck.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
VXL_NEED_VALGRIND=1 bash scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target vxlfixup_cli run_example_in_node >/dev/null
memcheck="valgrind -q --error-exitcode=97 --leak-check=full --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible"
log="$build/memcheck.log"
if ! "$build/examples/run_example_in_node" "$memcheck $PWD/$build/vxlfixup" \
    "$PWD/examples/fixup_data.xml" node1 >"$log" 2>&1; then
  cat "$log"
  echo "memcheck: errors or lost bytes in the runs above (valgrind's reports are in $log)" >&2
  exit 1
fi
echo "memcheck: example document and SSH equivalence calls: 0 errors, 0 bytes lost"
