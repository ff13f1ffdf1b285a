#!/usr/bin/env bash
# Builds the library and shows its exported host interface.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
echo "build/libvxlfixup.so exports:"
nm -D --defined-only build/libvxlfixup.so | awk '$2 ~ /[TW]/ {print "  " $3}'
