#!/usr/bin/env bash
# The main job: builds the library and the command-line tool, then
#  1. plans the example fix-up data document for node1 on this very machine:
#     "vxlfixup plan" runs it with the real library in a copy of the machine
#     and prints what a run would change here (this machine stays as it is);
#  2. runs the same document inside a test node (a throwaway copy of this
#     machine with a simulated kernel and the files the document expects),
#     printing the outcome of every instance, the commands run and what
#     changed in the node's configuration and account files; then two more
#     test nodes set up SSH user equivalence through "vxlfixup ssh-equiv".
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! cmake --build build -j"$(nproc)" --target vxlfixup_cli run_example_in_node >build/demo-build.log 2>&1; then
  cat build/demo-build.log
  exit 1
fi
echo "== vxlfixup plan (this machine, as node1; fix-up scripts from examples/) =="
# The work directory holds the scripts the document names without a path.
build/vxlfixup plan examples/fixup_data.xml --node node1 --work-dir "$PWD/examples" ||
  echo "(vxlfixup plan ended with exit status $?)"
echo
exec build/examples/run_example_in_node "$PWD/build/vxlfixup" "$PWD/examples/fixup_data.xml" node1
