#!/usr/bin/env bash
# The main job: builds the library and the command-line tool, then runs the
# example fix-up data document for node1 inside a test node (a throwaway copy
# of this machine with a simulated kernel), printing the outcome of every
# instance, the commands run and what changed in the node's configuration
# and account files; then two more test nodes set up SSH user equivalence
# through "vxlfixup ssh-equiv".
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build -j"$(nproc)" --target vxlfixup_cli run_example_in_node >build/demo-build.log 2>&1; then
  cat build/demo-build.log
  exit 1
fi
exec build/examples/run_example_in_node "$PWD/build/vxlfixup" "$PWD/examples/fixup_data.xml" node1
