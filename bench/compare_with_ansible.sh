#!/usr/bin/env bash
# The library against ansible's sysctl module on the same 40 kernel parameter
# settings, in fresh test nodes with a compiled fake sysctl; ansible both with
# its defaults and tuned (pipelining on, reload: false). The tools take turns
# in every round. Installs what it needs (Debian's ansible and strace
# packages; needs root), builds the tool and the bench, and prints each tool's
# median wall and CPU time (user+sys of the tool and its processes), the
# processes per parameter, each ansible row's ratios to the library and the
# load average before and after: figures taken under load say so there.
# Usage: bench/compare_with_ansible.sh [ROUNDS]   (default 5; takes minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
missing=()
[ -x /usr/bin/ansible-playbook ] || missing+=(ansible)
[ -x /usr/bin/strace ] || missing+=(strace)
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vxlfixup_cli fake_sysctl sysctl_compare_bench
build/bench/sysctl_compare_bench --runs "$runs"
